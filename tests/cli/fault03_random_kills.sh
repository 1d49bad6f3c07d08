# A rerun over an earlier trace, without and with -d in turn, killed at
# seeded random points in the first 80 % of its run (SIGKILL and SIGTERM in
# turn): every time the final name must hold the earlier or the complete
# trace (with -d always the earlier one, which is never replaced), and the
# log must stay unless the trace is complete.
mkdir ref; gen_log ref/big.txt 1000000; head -n 1010 ref/big.txt >ref/earlier.txt
trcforge ref/big.txt ref/earlier.txt
start=$(date +%s%N); trcforge -O ref ref/big.txt; took=$((($(date +%s%N) - start) / 1000))
RANDOM=7; kept=yes; safe=yes
for i in 1 2 3 4 5 6 7 8 9 10; do
  rm -rf d; mkdir d; cp ref/big.txt d; cp ref/earlier.trc d/big.trc
  command_of trcforge $([ $((i % 4)) -ge 2 ] && echo -d) d/big.txt
  env --default-signal "${CMD[@]}" 2>/dev/null & pid=$!
  sleep "$(awk -v us=$((RANDOM * took / 40960)) 'BEGIN { printf "%.6f", us / 1e6 }')"
  kill -s $([ $((i % 2)) = 1 ] && echo KILL || echo TERM) $pid 2>/dev/null; wait $pid 2>/dev/null
  cmp -s d/big.trc ref/big.trc && continue
  cmp -s d/big.trc ref/earlier.trc || kept=no
  [ -f d/big.txt ] || safe=no
done
echo "10 kills: the final name held the earlier or the complete trace every time: $kept"
echo "10 kills: the log stayed whenever its trace was not complete: $safe"
