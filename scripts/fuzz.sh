#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, and runs each one for a bounded
# time on a copy of its committed seed corpus (the repository is not
# modified). Exits non-zero when a target crashes or fails a check; the
# reproducer is left in build-fuzz/findings/<target>/.
#   FUZZ_SECONDS=60 FUZZ_SEED=1 scripts/fuzz.sh [target...]
# The seed is fixed by default, so that a run repeats the same mutations;
# FUZZ_SEED=0 lets each run choose its own (for longer hunts by hand).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
seed=${FUZZ_SEED:-1}
build=build-fuzz

scripts/deps.sh
sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g"
cmake -S . -B "$build" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS="$sanitize" \
  -DTRCFORGE_FUZZ=ON -DTRCFORGE_BUILD_TESTS=OFF -DTRCFORGE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_targets >/dev/null

targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in tests/fuzz/*_fuzz.cc; do
    targets+=("$(basename "$source" .cc)")
  done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
  work="$build/fuzz-run/$target"
  findings="$build/findings/$target"
  rm -rf "$work"
  mkdir -p "$work" "$findings"
  if [ -d "tests/fuzz/corpus/$target" ]; then
    cp -R "tests/fuzz/corpus/$target/." "$work/"
  fi
  echo "== $target: ${seconds}s"
  if ! "$build/tests/$target" -max_total_time="$seconds" -seed="$seed" -timeout=25 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/" "$work" >"$build/$target.log" 2>&1; then
    echo "!! $target failed; last lines of $build/$target.log:"
    tail -n 40 "$build/$target.log"
    status=1
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$build/$target.log" || true
  fi
done
exit $status
