# The number of jobs: at most 1024 and at most the limit of processes
# (ulimit -u), else refused like any bad value (131); threads that still
# cannot start leave fewer jobs, never a failed run. The bare binary: -j is
# the subject.
mkdir d; small_log d/a.txt; small_log d/b.txt 2; small_log d/c.txt 3
for jobs in 100000 2000000000 1025; do run trcforge_bare -j $jobs d; done
(ulimit -u 2; run trcforge_bare -j 3 d)
names
[ "$(id -u)" = 0 ] || skip "a run under a process limit of its own needs root"
# A user of its own, so that no other process counts against its limit: the
# process and two threads start, the third converting thread cannot.
chown -R 65533:65533 d
echo '$ trcforge -j 3 -X d (as user 65533 under ulimit -u 3)'
setpriv --reuid=65533 --regid=65533 --clear-groups bash -c 'ulimit -u 3 && exec "$0" -j 3 -X d' "$TRCFORGE_BIN"
echo "[exit $?]"
names
