# Offsets from 2^40 ms on (a log of 36 years), which the fast trace writer
# declines in the middle of a run of lines it writes: each such line comes
# from the reference writer in its place, and the numbers go on.
log_header a.txt
for s in 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24; do
  printf '%s\n' "202401150930${s}000;0;1C0;2;25AA" "206001150930${s}500;9;12345678;3;25AA01" >>b.txt
done
sort b.txt >>a.txt
for v in version1 version2; do
  run trcforge -f $v a.txt
  grep -v '^;' a.trc | sed -n '14,17p'
done
