# A log that another program removes, or rewrites in place to the same size
# within the same second, while it is converted: its trace holds what the log
# held when it was opened, so -d removes nothing. Each run is stopped as its
# trace is moved into place, and the log is changed then.
mkdir d; small_log a.txt; sed 's/;8;11/;8;99/' a.txt >b.txt
for d in "" -d; do
  cp a.txt d/a.txt; at_first rename,renameat2 'rm d/a.txt' trcforge $d d/a.txt; tree d; rm d/a.trc
  cp a.txt d/a.txt; touch -d @1700000000.25 d/a.txt
  at_first rename,renameat2 'cat b.txt >d/a.txt; touch -d @1700000000.75 d/a.txt' trcforge $d d/a.txt
  tree d; grep -c '11 22 33' d/a.trc; rm d/a.trc
done
