# Messages come out in walk order whatever converts first: the logs that fail
# at once wait for the slow one before them (read through a window of 8
# bytes), although the walk reaches each of them only after the one before
# it is done (behind a folder of many other files).
gen_log a.txt 100000; sed -i '20a\x01' a.txt
mkdir -p later/s1 later/s2 later/s3; touch later/s{1,2,3}/{0000..0999}.csv
for s in 1 2 3; do bad_log later/s$s/x.txt; done
run trcforge -b 1 --verbosity 3 a.txt later
