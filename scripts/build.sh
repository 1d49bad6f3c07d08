#!/usr/bin/env bash
# Configures and builds into a build folder.
#   scripts/build.sh [--sanitize] [--werror] [build-folder]
# --sanitize builds with AddressSanitizer and UndefinedBehaviorSanitizer
# (into build-sanitize unless a folder is named), always with --werror;
# --werror makes every compiler warning an error (the test script and CI ask
# for it; a user's build does not). Without it the folder keeps what it was
# configured with before.
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
werror=()
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize=ON; werror=(-DTRCFORGE_WERROR=ON); shift ;;
    --werror) werror=(-DTRCFORGE_WERROR=ON); shift ;;
    *) break ;;
  esac
done
build=${1:-build}
if [ "$sanitize" = ON ] && [ -z "${1:-}" ]; then build=build-sanitize; fi

scripts/deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRCFORGE_SANITIZE="$sanitize" "${werror[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
