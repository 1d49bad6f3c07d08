# As an unprivileged user: a folder that cannot be listed, and one whose
# entries cannot be queried, must not be skipped in silence, nor their logs
# left unconverted under exit 0. Without and with -d.
need_nobody
for d in "" -d; do
  chmod -R u+rwx d 2>/dev/null; rm -rf d d_out
  mkdir -p d/closed d/opaque; small_log d/a.txt; small_log d/closed/b.txt 2; small_log d/opaque/c.txt 3
  chown -R 65534:65534 .; chmod 0 d/closed; chmod 444 d/opaque
  run as_nobody trcforge $d d
  run as_nobody trcforge $d d/closed   # alone: no other failure hides its status
  chmod -R u+rwx d; tree d d_out
done
