# A file-size limit (writes beyond it fail with EFBIG, as on a full disk):
# the trace that cannot be written fails, its log stays with or without -d.
# big's trace outgrows the writer's buffer, so a line fails while it is
# written; middle's fits the buffer and fails only when flushed; small's fits
# under the limit. The large ones of several MiB are written by the writer's
# own thread, which hits the limit there, in both trace versions.
mkdir ref
gen_log ref/big.txt 3000; gen_log ref/middle.txt 400 2; gen_log ref/small.txt 2 3
gen_log ref/large.txt 80000 4; cp ref/large.txt ref/large1.txt
trcforge ref/big.txt ref/middle.txt ref/small.txt ref/large.txt
trcforge -f version1 ref/large1.txt
limited() { (trap '' XFSZ; ulimit -f "$1"; shift; run trcforge "$@"); }
for d in "" -d; do
  rm -rf d d_out; mkdir d; cp ref/big.txt ref/middle.txt ref/small.txt d
  limited 16 $d d
  compare ref/big.trc d_out/big.trc; compare ref/middle.trc d_out/middle.trc
  compare ref/small.trc d_out/small.trc
  tree d
  for v in version2 version1; do
    rm -rf d d_out; mkdir d; cp ref/large.txt d
    limited 2048 $d -f $v d
    compare ref/large$([ $v = version1 ] && echo 1).trc d_out/large.trc
    compare ref/large.txt d/large.txt
  done
done
