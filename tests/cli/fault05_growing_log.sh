# A log still being written while it is converted (an appender runs from
# before the start until after the end): its trace holds only what was there
# at the start, so the log must stay. Without and with -d.
gen_log big.txt 1000000
for d in "" -d; do
  rm -rf d; mkdir d; cp big.txt d; : >appended.txt
  ( exec 3>>d/big.txt 4>>appended.txt
    for ((i = 0; ; i++)); do
      printf -v line '08:%02d:%02d.%03d;1;7FF;1;%02X\n' $((i / 60000 % 60)) $((i / 1000 % 60)) $((i % 1000)) $((i % 256))
      printf %s "$line" >&3; printf %s "$line" >&4
    done ) & appender=$!
  until [ -s appended.txt ]; do :; done
  run trcforge $d d/big.txt
  before=$(wc -l <appended.txt); while [ "$(wc -l <appended.txt)" = "$before" ]; do :; done
  kill $appender; wait $appender 2>/dev/null
  records=$((1000000 + $(wc -l <appended.txt))); frames=$(grep -vc '^;' d/big.trc)
  echo "log kept: $([ -f d/big.txt ] && echo yes || echo no)"
  echo "the trace holds every record the log had at the end: $([ "$frames" = "$records" ] && echo yes || echo no)"
  echo "every record is in the trace or in the kept log: $([ "$frames" = "$records" ] || [ -f d/big.txt ] && echo yes || echo no)"
done
