#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   scripts/test.sh              the normal build
#   scripts/test.sh --sanitize   the same suite under AddressSanitizer and
#                                UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

args=(--werror)
build=build
if [ "${1:-}" = "--sanitize" ]; then args=(--sanitize); build=build-sanitize; fi

scripts/build.sh "${args[@]}" "$build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
