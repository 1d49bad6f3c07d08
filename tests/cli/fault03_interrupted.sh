# A run ended part way (SIGINT, SIGTERM, SIGHUP, SIGKILL, a full disk) must
# leave no cut-off trace under the final name, and a rerun must not destroy a
# good trace before the new one is complete. Each without and with -d.
mkdir ref; gen_log ref/big.txt 1000000; trcforge ref/big.txt
fresh() { rm -rf d; mkdir d; cp ref/big.txt d; }
for d in "" -d; do
  for signal in INT TERM HUP KILL; do
    fresh
    interrupt $signal 4000000 trcforge $d d/big.txt
    compare -q ref/big.trc d/big.trc; compare ref/big.txt d/big.txt; names d
  done
  echo "--- a rerun over a good trace"
  fresh; cp ref/big.trc d
  interrupt KILL 4000000 trcforge $d d/big.txt
  compare -q ref/big.trc d/big.trc; names d
  fresh; cp ref/big.trc d
  (trap '' XFSZ; ulimit -f 4096; run trcforge $d d/big.txt)
  compare ref/big.trc d/big.trc; compare ref/big.txt d/big.txt; names d
done
