#!/usr/bin/env bash
# The BLF writer at every compression level on one large log, beside the
# version 2.1 trace of the same log: output size, the writer's own speed, and
# whole conversions (read the log, write the file) on one core, each paired
# with a conversion into the version 2.1 trace ("of v2.1": the median of the
# trace's time over the BLF file's).
#
#   bench/blf_levels.sh [runs]              (default 3; the median is shown)
#   SIZE=64M LEVELS="0 1" BUILD=build-rel bench/blf_levels.sh 5
#
# The log comes from gen_log (layout 0, seed 1) and is kept in $WORK (default
# /tmp/trcforge-blf-bench). Every timed command runs pinned to one processor
# (taskset -c $CPU, default 1), which the writer's compressing thread
# shares. BUILD (default build-rel) is configured as a Release build without
# profile-guided optimisation, so that trcforge and blf_write compile the
# reader alike, and built when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-3}
size=${SIZE:-256M}
levels=${LEVELS:-"0 1 2 3"}
build=${BUILD:-build-rel}
work=${WORK:-/tmp/trcforge-blf-bench}
cpu=${CPU:-1}
mkdir -p "$work/out"

if [ ! -x "$build/bench/blf_write" ] || [ ! -x "$build/app/trcforge" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRCFORGE_PGO=OFF -DTRCFORGE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target trcforge blf_write gen_log >/dev/null
fi
log=$work/log-$size.txt
[ -f "$log" ] || "$build/bench/gen_log" --size "$size" --layout 0 --seed 1 --out "$log" >/dev/null
log_bytes=$(stat -Lc %s "$log")
frames=$("$build/bench/blf_write" --level 0 "$log" "$work/out/log.blf" | sed 's/frames=\([0-9]*\).*/\1/')

# The median of a list of numbers, one a line.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# The wall time of a command, in seconds.
seconds() { /usr/bin/time -f %e taskset -c "$cpu" "$@" 2>&1 >/dev/null | tail -n 1; }
trace=("$build/app/trcforge" -O "$work/out" "$log")

# Paired runs: the version 2.1 trace, then the BLF file of the level, runs
# times; prints the medians of the BLF times and of the trace/BLF ratios.
convert_paired() {
  for _ in $(seq "$runs"); do
    t=$(seconds "${trace[@]}")
    b=$(seconds "$build/bench/blf_write" --level "$1" "$log" "$work/out/log.blf")
    echo "$b $(awk -v t="$t" -v b="$b" 'BEGIN { print t / b }')"
  done >"$work/pairs"
  echo "$(cut -d' ' -f1 "$work/pairs" | median) $(cut -d' ' -f2 "$work/pairs" | median)"
}

trace_seconds=$(for _ in $(seq "$runs"); do seconds "${trace[@]}"; done | median)
trace_bytes=$(stat -c %s "$work/out/$(basename "${log%.txt}").trc")
rm -f "$work/out/"*
echo "log: $log_bytes bytes; version 2.1 trace: $trace_bytes bytes in $trace_seconds s; median of $runs runs"
printf '%5s %11s %9s %10s %9s %11s %9s %9s\n' level bytes "of v2.1" "writer s" Mframes/s "convert s" "log MiB/s" "of v2.1"
for level in $levels; do
  writer=$(for _ in $(seq "$runs"); do
    taskset -c "$cpu" "$build/bench/blf_write" --level "$level" --encode-only "$log" "$work/out/log.blf"
  done | sed 's/.*seconds=//' | median)
  bytes=$(stat -c %s "$work/out/log.blf")
  read -r convert share < <(convert_paired "$level")
  rm -f "$work/out/"*
  awk -v l="$level" -v b="$bytes" -v tb="$trace_bytes" -v w="$writer" -v f="$frames" -v c="$convert" \
      -v lb="$log_bytes" -v s="$share" \
      'BEGIN { printf "%5d %11d %8.1f%% %10.2f %9.2f %11.2f %9.0f %8.0f%%\n", l, b, 100 * b / tb, w, f / w / 1e6, c,
               lb / c / 1048576, 100 * s }'
done
