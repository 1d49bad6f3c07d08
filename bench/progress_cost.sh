#!/usr/bin/env bash
# The cost of the status line: converts one large log through a pseudo-
# terminal (script(1)) with the status line on, and with --non-interactive,
# alternating, and prints the median wall and CPU times (user + system, from
# /usr/bin/time around trcforge itself) of each and their differences (not
# part of CI).
#
#   bench/progress_cost.sh LOG [ROUNDS] [TRCFORGE]
#
# LOG is a large text log (bench/throughput.py caches a 256 MiB one);
# ROUNDS defaults to 7, TRCFORGE to build/app/trcforge. Both variants run
# under the same script(1) wrapper, so the wrapper's cost is in both.
set -euo pipefail
log=$(realpath "$1")
rounds=${2:-7}
trcforge=$(realpath "${3:-build/app/trcforge}")
work=$(mktemp -d "${TMPDIR:-/tmp}/trcforge-progress-XXXXXX")
trap 'rm -rf "$work"' EXIT
ln -s "$log" "$work/big.txt"

# run ARGS...: converts the log once in a terminal; appends "wall cpu" to
# $work/times-<first argument or "on">.
run() {
  rm -f "$work/big.trc"
  script -qfec "/usr/bin/time -o $work/time -f '%e %U %S' $trcforge $* $work/big.txt" /dev/null >/dev/null
  awk '{ print $1, $2 + $3 }' "$work/time" >>"$work/times-${1:-on}"
}

for ((i = 0; i < rounds; i++)); do
  if ((i % 2)); then
    run --non-interactive
    run
  else
    run
    run --non-interactive
  fi
done
# median FILE COLUMN
median() { sort -g -k"$2" "$1" | awk -v c="$2" '{ a[NR] = $c } END { print a[int((NR + 1) / 2)] }'; }
for column in 1 2; do
  name=$([ "$column" = 1 ] && echo wall || echo cpu)
  on=$(median "$work/times-on" "$column")
  off=$(median "$work/times---non-interactive" "$column")
  best_on=$(sort -g -k"$column" "$work/times-on" | awk -v c="$column" 'NR == 1 { print $c }')
  best_off=$(sort -g -k"$column" "$work/times---non-interactive" | awk -v c="$column" 'NR == 1 { print $c }')
  echo "$name: status line on $on s (best $best_on), --non-interactive $off s (best $best_off), medians of $rounds, difference" \
    "$(echo "scale=2; 100 * ($on - $off) / $off" | bc) %"
done
