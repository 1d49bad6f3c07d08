# What each verbosity level shows: errors by default and at 2, warnings from
# 3 on, nothing at 0 and 1 but the fatal messages at 1.
mkdir d e; bad_log d/bad.txt; small_log d/a.txt; small_log d/a2.txt; small_log e/x.txt
for level in "" "--verbosity 2" "--verbosity 1" "--verbosity 0" "--verbosity 3" "--verbosity 4" --verbosity=5; do
  run trcforge $level d/missing.txt d/bad.txt d/a.txt d/a2.txt
done
run trcforge --verbosity 1 d/a.txt e/x.txt
# A log that fails leaves the last header identity as it was: the third log
# repeats the first.
run trcforge --verbosity 3 d/a.txt d/bad.txt d/a2.txt
