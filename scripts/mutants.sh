#!/usr/bin/env bash
# Fault-finding power of the test suite: applies each planted fault of
# scripts/mutants/NN-name.patch in turn, builds incrementally, runs the whole
# suite and tells whether some test caught the fault; then reverts it.
#
#   scripts/mutants.sh            every fault
#   scripts/mutants.sh 03 17      the faults numbered 03 and 17
#
# Environment: MUTANTS_BUILD (build folder, default build), MUTANTS_TIMEOUT
# (seconds per test, default 120: the slowest test takes about 10 on an idle
# machine, several times that on a loaded one), MUTANTS_JOBS (default 2),
# MUTANTS_FIRST=1 (a fault counts as caught at the first failing test: far
# quicker, but only that test is listed), MUTANTS_EXCLUDE (a ctest -E pattern
# of tests left out of the run, e.g. one that fails on a loaded machine
# whatever the code; say so with the results). The build is unoptimised by profile
# (a profile build would train again for every fault). A
# fault can make a test loop and grow: each test gets at most 4 GiB of address
# space, and no file it writes may grow beyond 1 GiB (a fault that makes the
# reader go round in circles would otherwise fill the disk with one trace).
#
# A test that fails is run once more and counts as failing only when it fails
# again: a test that depends on timing (the status line) can fail once on a
# loaded machine, and would otherwise "catch" every fault after it.
#
# Results: CAUGHT (a test failed twice, or a test program no longer compiles),
# MISSED (the whole suite passed), INVALID (the product itself no longer
# compiles: the fault must be rewritten). The table goes to standard output;
# each fault's build and test log to <build>/mutants/NN.log.
set -uo pipefail
cd "$(dirname "$0")/.."

build=${MUTANTS_BUILD:-build}
timeout=${MUTANTS_TIMEOUT:-120}
jobs=${MUTANTS_JOBS:-2}
logs=$build/mutants
export TRCFORGE_CASE_TIMEOUT=$timeout  # the command-line cases' own limit

applied=""
revert() {
  if [ -n "$applied" ]; then
    git apply -R "$applied" || echo "mutants.sh: could not revert $applied" >&2
    applied=""
  fi
}
trap revert EXIT
trap 'revert; exit 130' INT TERM

patches=()
if [ $# -eq 0 ]; then
  patches=(scripts/mutants/[0-9]*.patch)
else
  for n in "$@"; do patches+=(scripts/mutants/"$n"-*.patch); done
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRCFORGE_PGO=OFF >/dev/null || exit 1
stop=()
[ "${MUTANTS_FIRST:-0}" = 1 ] && stop=(--stop-on-failure)
[ -n "${MUTANTS_EXCLUDE:-}" ] && stop+=(-E "$MUTANTS_EXCLUDE")
cmake --build "$build" -j"$jobs" >/dev/null || { echo "the unchanged tree does not build" >&2; exit 1; }
mkdir -p "$logs"
: >"$logs/failing.txt"

printf '%-40s %-8s %5s  %s\n' fault result secs "failing tests (first few)"
caught=0 missed=0 invalid=0
for patch in "${patches[@]}"; do
  name=$(basename "$patch" .patch)
  log=$logs/${name%%-*}.log
  start=$SECONDS
  git apply "$patch" || { echo "$name: does not apply" >&2; exit 1; }
  applied=$patch
  failing=""
  if ! cmake --build "$build" -j"$jobs" --target trcforge >"$log" 2>&1; then
    result=INVALID
  elif ! cmake --build "$build" -j"$jobs" >>"$log" 2>&1; then
    result=CAUGHT failing="(a test program no longer compiles)"
  else
    rm -f "$build/Testing/Temporary/LastTestsFailed.log"
    if (ulimit -v 4194304 && ulimit -f 1048576 && ctest --test-dir "$build" -j"$jobs" --timeout "$timeout" --repeat until-pass:2 --output-on-failure "${stop[@]}") >>"$log" 2>&1; then
      result=MISSED
    else
      result=CAUGHT
      failing=$(cut -d: -f2- "$build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | tr '\n' ' ')
    fi
  fi
  revert
  case $result in CAUGHT) caught=$((caught + 1)) ;; MISSED) missed=$((missed + 1)) ;; *) invalid=$((invalid + 1)) ;; esac
  echo "$name $result $failing" >>"$logs/failing.txt"
  printf '%-40s %-8s %5d  %.160s\n' "$name" "$result" $((SECONDS - start)) "$failing"
done
# Leave the build matching the unchanged tree.
cmake --build "$build" -j"$jobs" >/dev/null
echo "caught $caught, missed $missed, invalid $invalid of ${#patches[@]} faults in $SECONDS s"
