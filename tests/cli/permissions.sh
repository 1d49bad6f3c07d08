# As an unprivileged user: an output folder that cannot be written fails
# every file and keeps the logs; a trace name taken by a read-only file is
# left as it was; a log that cannot be read fails and stays.
mkdir -p d/sub out e
small_log d/a.txt; small_log d/sub/b.txt 2; small_log e/a.txt; echo "someone else's trace" >e/a.trc
small_log e/locked.txt 2
need_nobody
chmod 555 out; chmod 444 e/a.trc; chmod 0 e/locked.txt
run as_nobody trcforge -d -O "$PWD/out" d
run as_nobody trcforge -d e/a.txt
run as_nobody trcforge -d e
tree d out e e_out; show e/a.trc
