#!/usr/bin/env bash
# Makes the robustness report of the sample photograph and checks it in headless Chromium:
# writes OUTDIR/report.{csv,md,html} and OUTDIR/report.png (a screenshot of the page).
#
# usage: scripts/report_screenshot.sh [--install] [OUTDIR]   (default OUTDIR: build/report)
#   --install  install Debian's chromium first if it is missing
# Needs a build (scripts/build.sh). Exit status as scripts/report_check.sh (77: no Chromium).
set -euo pipefail
cd "$(dirname "$0")/.."
install=()
if [ "${1:-}" = "--install" ]; then
  install=(--install)
  shift
fi
out=${1:-build/report}
cli=build/bin/pelinor-cli
[ -x "$cli" ] || { echo "report_screenshot: $cli not built (run scripts/build.sh)" >&2; exit 1; }
mkdir -p "$out"
"$cli" generate "$out/sample.wmk" --length 1000 --alpha 0.1 --seed 2024 >/dev/null
"$cli" evaluate samples/chelsea.png "$out/sample.wmk" --out "$out" --seed 1 >/dev/null
scripts/report_check.sh "${install[@]}" "$out/report.html" "$out/report.png"
