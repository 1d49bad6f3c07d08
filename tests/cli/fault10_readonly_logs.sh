# -d on a logs folder the user cannot write (as an unprivileged user): the
# logs cannot be removed, which must fail the run.
need_nobody
mkdir d; small_log d/a.txt; small_log d/b.txt 2; chown -R 65534:65534 .; chmod 555 d
run as_nobody trcforge -d d
tree d d_out
