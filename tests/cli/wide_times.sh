# Times that the fast line writers decline (offsets from 2^40 ms on, times
# and offsets from 2^36 s on: the year 4243) in the middle of a run of lines
# they write: each such line comes from the reference writer in its place,
# and the numbers go on.
log_header a.txt
for s in 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24; do
  printf '%s\n' "202401150930${s}000;0;1C0;2;25AA" "424301150930${s}500;9;12345678;3;25AA01" >>b.txt
done
sort b.txt >>a.txt
for f in version1:trc version2:trc asc:asc candump:log csv:csv; do
  trcforge --verbosity 0 -f ${f%:*} a.txt
  grep -B2 -A1 -m1 -E 'Tx| T$' a.${f#*:}
done
