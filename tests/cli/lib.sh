# Prelude of every command-line case (tests/cli/run.py sources it, then the
# case, in a fresh temporary folder). TRCFORGE_BIN, TRCFORGE_EXTRA_ARGS and
# EXAMPLES come from the runner.

# The binary with the runner's extra arguments (the suite must give the same
# output with any of them); trcforge_bare without them, for the cases about
# the command line itself.
trcforge() { "$TRCFORGE_BIN" $TRCFORGE_EXTRA_ARGS "$@"; }
trcforge_bare() { "$TRCFORGE_BIN" "$@"; }

# run CMD...: prints "$ CMD", runs it, then prints "[exit N]".
run() { echo "\$ $*"; "$@"; echo "[exit $?]"; }

# tree [PATH...]: every entry below the paths, sorted, folders with "/",
# links with their target, files with their size; a missing path as "gone".
tree() {
  local p
  for p in "${@:-.}"; do [ -e "$p" ] || [ -L "$p" ] || echo "$p: gone"; done
  find "${@:-.}" \( -type d -printf '%p/\n' \) -o \( -type l -printf '%p -> %l\n' \) \
    -o -printf '%p %s\n' 2>/dev/null | LC_ALL=C sort
}
# names [PATH...]: the same without the sizes.
names() { tree "$@" | sed -E 's/ [0-9]+$//'; }

# show FILE...: each file behind a header line.
show() {
  local f
  for f in "$@"; do
    if [ ! -f "$f" ]; then echo "--- $f: no such file"; continue; fi
    echo "--- $f"
    cat -- "$f"
    if [ -s "$f" ] && [ -n "$(tail -c1 -- "$f")" ]; then echo "[no final newline]"; fi
  done
}

# skip REASON: ends the case as skipped (the runner reports it apart).
skip() {
  echo "SKIP: $*"
  exit 77
}

# as_nobody CMD...: runs CMD as user and group 65534, for the permission
# cases (as root the permission bits would not apply). need_nobody hands the
# temporary folder to that user first, or skips the case when it cannot be.
NOBODY=(setpriv --reuid=65534 --regid=65534 --clear-groups)
need_nobody() {
  [ "$(id -u)" = 0 ] || { NOBODY=(); return; }
  "${NOBODY[@]}" true 2>/dev/null || skip "cannot run as user 65534"
  chown -R 65534:65534 . || skip "cannot hand the folder to user 65534"
}
as_nobody() { command_of "$@"; "${NOBODY[@]}" "${CMD[@]}"; }

# command_of CMD...: CMD as words for another program to run (sets CMD):
# trcforge becomes the binary with the extra arguments.
command_of() {
  if [ "$1" = trcforge ]; then CMD=("$TRCFORGE_BIN" $TRCFORGE_EXTRA_ARGS "${@:2}"); else CMD=("$@"); fi
}

# interrupt SIGNAL BYTES CMD...: runs CMD in the background (every signal at
# its default) and sends it SIGNAL once it has written BYTES bytes; prints
# "[exit N]", 128 + the signal's number when the signal ended it.
interrupt() {
  local signal=$1 bytes=$2 pid written; shift 2
  echo "\$ $* (SIG$signal once it wrote $bytes bytes)"
  command_of "$@"
  # The program starts stopped and runs in short steps, each ended by
  # SIGSTOP, so that it cannot finish between two readings of its count.
  bash -c 'kill -STOP $$; exec env --default-signal "$@"' interrupt "${CMD[@]}" & pid=$!
  until stopped $pid; do :; done
  while written=$(awk '/^wchar/ { print $2 }' /proc/$pid/io 2>/dev/null) && [ -n "$written" ] &&
      [ "$written" -lt "$bytes" ]; do
    kill -CONT $pid; sleep 0.002; kill -STOP $pid
    until stopped $pid || ! [ -e /proc/$pid ] || grep -q '^State:.*zombie' /proc/$pid/status 2>/dev/null; do :; done
  done
  kill -s "$signal" $pid 2>/dev/null; kill -CONT $pid 2>/dev/null
  wait $pid 2>/dev/null
  echo "[exit $?]"
}
stopped() { grep -q '^State:.*stopped' /proc/$1/status 2>/dev/null; }

# gen_log FILE RECORDS [SPLIT]: a VorlatAlpha log with RECORDS frames, a
# millisecond apart from 07:00:00.000 on.
gen_log() {
  awk -v n="$2" -v sp="${3:-1}" 'BEGIN {
    printf "# Logger type: VorlatAlpha\n# Logger ID: 0A41F702\n# Session No.: 1\n# Split No.: %d\n", sp
    printf "# Time: 20240611T070000\n# Value separator: \";\"\n# Time format: 3\n"
    printf "# Time separator: \":\"\n# Time separator ms: \".\"\nTimestamp;Type;ID;Length;Data\n"
    for (i = 0; i < n; i++)
      printf "%02d:%02d:%02d.%03d;1;%X;8;%016X\n", 7 + int(i / 3600000), int(i / 60000) % 60,
        int(i / 1000) % 60, i % 1000, 256 + i % 1536, i
  }' >"$1"
}

# log_header FILE [SPLIT]: a VorlatBeta header without records; small_log
# adds two frames (standard received, extended sent); bad_log is a log whose
# header has no split number, which never converts.
log_header() {
  printf '%s\n' "# Logger type: VorlatBeta" "# Session No.: 1" "# Split No.: ${2:-1}" \
    "# Time: 20240115T093000" '# Value separator: ";"' '# Time separator: ":"' \
    '# Time separator ms: "."' "Timestamp;Type;ID;Length;Data" >"$1"
}
small_log() {
  log_header "$@"
  printf '%s\n' "09:30:01.123;0;123;8;1122334455667788" "09:30:02.623;9;18FEF100;3;A00BFF" >>"$1"
}
bad_log() {
  printf '%s\n' "# Logger type: VorlatBeta" "# Session No.: 1" '# Value separator: ";"' \
    "Timestamp;Type;ID;Length;Data" "09:30:01.123;0;123;8;11" >"$1"
}

# compare [-q] REFERENCE FILE...: whether each file holds the same bytes as
# the reference, only its beginning (a cut-off copy), or something else; -q
# leaves out the byte counts (when they depend on timing).
compare() {
  local more=1; [ "$1" = -q ] && { more=; shift; }
  local ref=$1 f size; shift
  for f in "$@"; do
    if [ ! -f "$f" ]; then echo "$f: no such file"; continue; fi
    size=$(stat -c %s -- "$f")
    if cmp -s -- "$ref" "$f"; then echo "$f: same as $ref"
    elif cmp -s -n "$size" -- "$ref" "$f"; then
      echo "$f: cut off from $ref${more:+, at $size of its $(stat -c %s -- "$ref") bytes}"
    else echo "$f: not $ref${more:+, $size bytes}"; fi
  done
}

# changes REFERENCE FILE: how FILE differs from REFERENCE: the count of its
# lines that differ, the first three of them and the last.
changes() {
  if [ ! -f "$2" ]; then echo "$2: no such file"; return; fi
  diff -- "$1" "$2" | sed -n 's/^> //p' >changes.diff
  if [ ! -s changes.diff ] && cmp -s -- "$1" "$2"; then echo "$2: same as $1"; return; fi
  echo "$2: $(wc -l <changes.diff) lines not in $1, first and last:"
  sed -n '1,3p;4,${$p}' changes.diff
}
