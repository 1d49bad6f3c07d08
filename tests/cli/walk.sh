# The folder walk: entries in byte order, depth first, only *.txt (any case)
# files; output folders made before a file is opened and kept when it fails.
# Every log here fails, so the messages show the order of the visits.
mkdir -p logs/sub logs/data.txt logs/only-csv logs/empty
for f in B.txt a.txt 10.txt 9.txt sub/z.txt data.txt/d.TXT .hidden.txt x.txt.bak README only-csv/n.csv; do
  bad_log logs/$f
done
run trcforge logs
tree logs_out
# Named pipes: not listed in a folder; named on the command line they give
# 129 without a message, and the other input is converted all the same.
rm -r logs logs_out; mkdir d; small_log d/a.txt; mkfifo d/pipe.txt pipe.txt; small_log b.txt 2
run trcforge -d d
run trcforge -d pipe.txt b.txt
small_log b.txt 2
run trcforge -X -d pipe.txt b.txt
tree
# A status query that fails (a link to itself; unlike a missing file) ends
# the run; without the "_out" rule it happens in the walk, with its message.
rm -r d d_out b.trc; mkdir d; small_log d/a.txt; small_log d/c.txt 3; ln -s loop.txt d/loop.txt
run trcforge --verbosity 3 d/a.txt d/missing.txt d/loop.txt d/c.txt
tree d; rm d/a.trc
run trcforge -X d/a.txt d/loop.txt d/c.txt
tree d
# A link to a folder walked before, beside it rather than above it, is
# followed: only a folder being walked is skipped.
rm -r d; mkdir -p s/a s/b; small_log s/a/x.txt; ln -s ../a s/b/link
run trcforge s
names s_out
