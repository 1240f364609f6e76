#!/usr/bin/env bash
# Installs what is missing, builds, and starts the desktop program.
# `scripts/run.sh demo` runs the whole job on the sample photograph without a display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
if [ "${1:-}" = "demo" ]; then
  shift
  exec scripts/demo.sh "$@"
fi
exec build/bin/pelinor "$@"
