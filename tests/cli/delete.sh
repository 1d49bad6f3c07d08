# -d removes a log only when it was converted: not one that failed, nor one
# whose trace name another input of the run took, nor one whose trace name a
# folder holds; a log without frames gives no trace and goes all the same.
mkdir d e f g
small_log d/good.txt; bad_log d/bad.txt; log_header d/empty.txt 3; echo x >d/notes.csv
small_log e/good.txt
run trcforge e                            # without -d nothing is removed
run trcforge -d d
tree d d_out e
# Two inputs, one trace name: the second fails and stays.
small_log d/a.TXT 1; small_log d/a.txt 2; small_log d/b.txt 3; rm -r d_out d/bad.txt
run trcforge -d d
tree d d_out
# On the command line too; the same input named again is converted again.
small_log e/x.txt; { log_header /dev/stdout 2; echo "09:30:05.000;0;7FF;1;01"; } >e/x.Txt
run trcforge e/x.txt e/x.Txt e/x.txt
show e/x.trc
# Under -d the first conversion removes it, so the second finds it gone at any -j.
run trcforge -d e/x.txt e/x.txt; tree e
# A trace removed for want of frames leaves its name free.
log_header f/a.TXT 1; small_log f/a.txt 2
run trcforge f
tree f_out
# A trace name taken by a folder (empty, or not) is left as it was.
small_log g/a.txt; mkdir g/a.trc; small_log g/b.txt 2; mkdir g/b.trc; echo x >g/b.trc/keep
run trcforge -d g/a.txt g/b.txt
tree g
# A link at the trace name (to an identical trace, a folder, nothing) is no
# trace under -d, and is replaced without; a file at the output folder's name.
mkdir h h/dir i; small_log h/a.txt; trcforge h/a.txt; mv h/a.trc h/copy.trc; cp h/a.txt h/b.txt; cp h/a.txt h/c.txt
ln -s copy.trc h/a.trc; ln -s dir h/b.trc; ln -s nowhere h/c.trc; small_log i/a.txt; touch i_out
run trcforge -d h/a.txt h/b.txt h/c.txt; tree h
run trcforge h/a.txt h/b.txt h/c.txt; tree h
run trcforge -d i; run trcforge i; tree i i_out
