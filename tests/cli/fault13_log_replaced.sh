# A log removed, or rewritten in place to the same size within the same
# second (or with its modification time put back), or replaced by such a
# file, while it is converted:
# -d removes nothing. Each run is traced and
# stopped as its trace is moved into place, while the log is changed.
strace -qq -o /dev/null true 2>/dev/null || skip "tracing is not permitted here"
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0; mkdir d; small_log a.txt; sed 's/;8;11/;8;99/' a.txt >b.txt
for d in "" -d; do for change in 'rm d/a.txt' 'cat b.txt >d/a.txt; touch -d @1700000000.75 d/a.txt' \
    'cat b.txt >d/a.txt; touch -d @1700000000.25 d/a.txt' 'cp b.txt n.txt; touch -d @1700000000.25 n.txt; mv n.txt d/a.txt'; do
  cp a.txt d/a.txt; touch -d @1700000000.25 d/a.txt; command_of trcforge $d d/a.txt; echo "\$ trcforge ${d:+$d }d/a.txt, meanwhile: $change"
  strace -f -qq -o stops.txt -e trace=rename,renameat2 -e inject=rename,renameat2:signal=STOP:when=1 "${CMD[@]}" & pid=$!
  until grep -q 'stopped by SIGSTOP' stops.txt 2>/dev/null || ! kill -0 $pid 2>/dev/null; do sleep 0.01; done
  eval "$change"; kill -CONT "$(awk '/stopped by/ { print $1; exit }' stops.txt)"; wait $pid; echo "[exit $?]"
  tree d; rm -f d/a.trc stops.txt
done; done
