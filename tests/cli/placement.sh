# Where the traces go: a folder named on the command line gets "_out" beside
# it (or -X: traces beside their logs), a file never does; -O names an
# existing folder; the inputs must share a root. Made folders: mode 0700.
umask 022; top=$PWD; mkdir -p home/u/logs/sub out o t a b d home/u/out
small_log home/u/logs/a.txt; small_log home/u/logs/sub/b.TXT 2
small_log home/u/logs/txt 3      # no ".": keeps its folder (logs_out/txt.trc)
small_log t/x.tar.txt; small_log a/x.txt; small_log b/y.txt; small_log d/x.txt; small_log d/y.txt 2; echo x >file
cd home/u
run trcforge logs; stat -c '%A %n' logs_out logs_out/sub
run trcforge logs -X --verbosity 3
run trcforge logs/a.txt -O "$top/o"
run trcforge "$top/d/x.txt" "$top/d/y.txt" -O out
cd logs; run trcforge .                   # "." is named "." in the output tree
cd sub; run trcforge ""                   # "" is the current folder by its name
cd "$top"
run trcforge t/x.tar.txt
# Refused output folders: missing (never made, nor its parent) or a file.
run trcforge -O nowhere/ a/x.txt
run trcforge -O file a/x.txt
run trcforge -O out2/sub a/x.txt
run trcforge --output-directory=out a/x.txt
# Inputs without a common root.
run trcforge a/x.txt b/y.txt
run trcforge a a/x.txt
run trcforge /x.txt
(cd a && run trcforge ..)
run trcforge --verbosity 0 a/x.txt b/y.txt
run trcforge nowhere/x.txt                # a missing parent: no message
tree
