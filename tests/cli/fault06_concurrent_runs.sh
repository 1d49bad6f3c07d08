# Two runs with -d on one tree at once (many logs): at no moment may a log be
# gone while its trace is not complete (a hidden temporary output is no trace). A watcher lists the tree (logs first)
# until it sees that, then kills both runs there, as a power loss would, and
# the tree shows what is lost. Up to five rounds; summary lines.
gen_log one.txt 40000; trcforge one.txt; size=$(stat -c %s one.trc); mkdir ref
awk '{ line[NR] = $0 } END { for (i = 100; i < 140; i++) { f = "ref/" i ".txt"
  for (j = 1; j <= NR; j++) print (j == 4 ? "# Split No.: " i : line[j]) >f; close(f) } }' one.txt
seen=no; lost=no
for round in 1 2 3 4 5; do
  rm -rf logs logs_out; cp -r ref logs
  command_of trcforge -d logs
  "${CMD[@]}" >/dev/null 2>&1 & first=$!; "${CMD[@]}" >/dev/null 2>&1 & second=$!
  while kill -0 $first 2>/dev/null || kill -0 $second 2>/dev/null; do
    find logs logs_out -type f -printf '%h %f %s\n' 2>/dev/null | awk -v size=$size '
      $2 ~ /^\./ { next }
      $1 == "logs" { have[substr($2, 1, 3)] = 1; next }
      $3 != size && !(substr($2, 1, 3) in have) { bad = 1 } END { exit !bad }' && { seen=yes; break; }
  done
  kill -KILL $first $second 2>/dev/null; wait $first $second 2>/dev/null
  for i in $(seq 100 139); do [ -f logs/$i.txt ] || cmp -s logs_out/$i.trc one.trc || lost=yes; done
  [ $lost = yes ] && break
done
echo "a log was gone while its trace was not complete: $seen"
echo "after the kill, a log is gone without its complete trace: $lost"
