# With -d a log may go only when its trace is on stable storage: the trace
# synced, and every folder entry on its way (the trace's in its folder, each
# folder's below the output root in its parent) synced before the unlink; in
# a second run too, over the identical traces of a run without -d. The calls
# traced, in order, paths relative to the test folder, descriptors resolved;
# at each unlink of a log, what of its trace was not yet synced. Without the
# runner's extra arguments: with more than one job the calls of the two logs
# interleave in any order.
command -v strace >/dev/null || skip "strace is not installed"
strace -qq -o /dev/null true 2>/dev/null || skip "tracing is not permitted here"
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0   # a traced process cannot check for leaks
mkdir -p logs/a/b; cp "$EXAMPLES/vorlat_beta_body.txt" logs/a/b/x.txt; cp "$EXAMPLES/vorlat_alpha_engine.txt" logs/y.txt
cp -r logs saved
for run in 1 2; do
[ $run = 2 ] && { rm -r logs logs_out; cp -r saved logs; "$TRCFORGE_BIN" logs; }
echo "\$ strace -f -e trace=fsync,fdatasync,openat,close,rename,renameat2,unlink,unlinkat,mkdir trcforge -d logs"
strace -f -qq -o calls.txt -e trace=fsync,fdatasync,openat,close,rename,renameat2,unlink,unlinkat,mkdir "$TRCFORGE_BIN" -d logs
echo "[exit $?]"
awk -v top="$PWD" -v before="$(find logs_out 2>/dev/null)" '
  function rel(p) { gsub(/\/+/, "/", p); sub(/\/$/, "", p); if (p == top) return "."
    return index(p, top "/") == 1 ? substr(p, length(top) + 2) : (p ~ /^\// ? "" : p) }
  function parent(p) { return p ~ /\// ? substr(p, 1, match(p, /\/[^\/]*$/) - 1) : "." }
  BEGIN { n = split(before, old, "\n"); for (i = 1; i <= n; i++) made[old[i]] = 0.5 }
  / <unfinished \.\.\.>$/ { held[$1] = substr($0, 1, length($0) - 17); next }
  / resumed>/ { sub(/^[0-9]+ <\.\.\. [a-z0-9]+ resumed> ?/, held[$1]) }
  { call = $2; sub(/\(.*/, "", call); ret = match($0, / = -?[0-9]+/) ? substr($0, RSTART + 3) + 0 : 0
    sub(/^[^(]*\(/, ""); split($0, q, "\""); path = rel(q[2]); fd = $0; sub(/[,)].*/, "", fd)
    failed = ret < 0 ? " (failed)" : "" }
  call == "close" { delete name[fd]; next }
  call == "openat" && path != "" && ret >= 0 { name[ret] = path }
  call == "openat" && path != "" && /O_WRONLY|O_RDWR|O_CREAT/ { print "open for writing " path failed; made[path] = NR }
  call ~ /sync$/ && (fd in name) { print call " " name[fd] failed; if (!failed) synced[name[fd]] = NR }
  call == "mkdir" && path != "" { print "mkdir " path failed; if (!failed) made[path] = NR }
  call ~ /^rename/ && path != "" { print call " " path " " rel(q[4]) failed
    if (!failed) { made[rel(q[4])] = NR; if (synced[path] > made[path]) synced[rel(q[4])] = NR } }
  call ~ /^unlink/ && path != "" { print call " " path failed }
  call ~ /^unlink/ && path ~ /^logs\// { out = "logs_out" substr(path, 5); sub(/\.txt$/, ".trc", out)
    missing = synced[out] < made[out] ? " " out : ""
    for (p = out; p != "."; p = parent(p)) if (synced[parent(p)] < made[p]) missing = missing " " parent(p) " (its entry " p ")"
    print "  not yet synced:" (missing == "" ? " nothing" : missing) }
' calls.txt
tree logs logs_out
done
