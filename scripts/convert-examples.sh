#!/usr/bin/env bash
# Installs what is missing, builds trcforge and converts the bundled example
# logs: examples/ becomes examples_out/ beside it, one .trc per log.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/build.sh build >/dev/null
status=0
build/app/trcforge --verbosity 3 "$@" examples || status=$?
if [ $# -eq 0 ]; then
  echo "Trace files written under $(pwd)/examples_out/:"
  find examples_out -name '*.trc' | sort
fi
exit $status
