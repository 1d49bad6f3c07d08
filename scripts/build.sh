#!/usr/bin/env bash
# Configures and builds into a build folder.
#   scripts/build.sh [--sanitize] [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then sanitize=ON; shift; fi
build=${1:-build}
if [ "$sanitize" = ON ] && [ -z "${1:-}" ]; then build=build-sanitize; fi

scripts/deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRCFORGE_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"$(nproc)"
