#!/usr/bin/env bash
# Renders an evaluation report (report.html from `pelinor-cli evaluate`) in headless
# Chromium, saves a PNG screenshot, and checks that the page loaded whole: the rendered
# document must hold the results table, its rows and every chart.
#
# usage: scripts/report_check.sh [--install] REPORT.html [SCREENSHOT.png]
#   --install  install Debian's chromium first if it is missing (through scripts/deps.sh)
# Exit status: 0 page fine, 1 it did not render as expected, 77 no Chromium (skipped).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

install=0
if [ "${1:-}" = "--install" ]; then
  install=1
  shift
fi
report=${1:?usage: report_check.sh [--install] REPORT.html [SCREENSHOT.png]}
shot=${2:-${report%.html}.png}
[ -f "$report" ] || { echo "report_check: $report: no such file" >&2; exit 1; }

find_browser() {
  for b in chromium chromium-browser google-chrome; do
    if command -v "$b" >/dev/null; then command -v "$b"; return 0; fi
  done
  return 1
}
if ! browser=$(find_browser); then
  if [ "$install" -eq 1 ]; then
    PELINOR_EXTRA_PACKAGES=chromium "$here/deps.sh"
    browser=$(find_browser) || { echo "report_check: chromium did not install" >&2; exit 1; }
  else
    echo "report_check: no Chromium found; skipped (use --install to install it)"
    exit 77
  fi
fi

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
url="file://$(cd "$(dirname "$report")" && pwd)/$(basename "$report")"
flags=(--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking
  --disable-component-update --disable-sync --disable-dev-shm-usage --hide-scrollbars
  --user-data-dir="$profile")

timeout 120 "$browser" "${flags[@]}" --window-size=1000,2900 --screenshot="$shot" "$url" \
  >"$profile/shot.log" 2>&1 || { echo "report_check: screenshot failed:" >&2; tail -5 "$profile/shot.log" >&2; exit 1; }
timeout 120 "$browser" "${flags[@]}" --dump-dom "$url" >"$profile/dom.html" 2>"$profile/dom.log" ||
  { echo "report_check: --dump-dom failed:" >&2; tail -5 "$profile/dom.log" >&2; exit 1; }

problems=0
check() { grep -q -- "$1" "$profile/dom.html" || { echo "report_check: rendered page lacks $2" >&2; problems=1; }; }
check '<table id="results">' "the results table"
check 'marked, no attack' "the row of the marked picture"
check 'unmarked original' "the control row"
check 'Never-embedded watermarks' "the false-positive histogram"
rows=$(grep -o '<tr class=' "$profile/dom.html" | wc -l)
charts=$(grep -o '<svg' "$profile/dom.html" | wc -l)
[ "$rows" -ge 3 ] || { echo "report_check: only $rows result rows rendered" >&2; problems=1; }
[ "$charts" -ge 2 ] || { echo "report_check: only $charts charts rendered" >&2; problems=1; }
if grep -Eqi 'ERR_|net::|Uncaught' "$profile/dom.log" "$profile/shot.log"; then
  echo "report_check: the browser reported errors:" >&2
  grep -Ei 'ERR_|net::|Uncaught' "$profile/dom.log" "$profile/shot.log" | head -5 >&2
  problems=1
fi
[ -s "$shot" ] || { echo "report_check: no screenshot written" >&2; problems=1; }
[ "$problems" -eq 0 ] || exit 1
echo "report_check: $report rendered ($rows rows, $charts charts); screenshot $shot"
