#!/usr/bin/env bash
# Renders an evidence report (pelinor-cli trace --report) in headless Chromium: a PNG
# screenshot and a print to PDF (A4), and checks that the page loaded whole without asking
# the network for anything: the rendered document holds the verdict, the tables and every
# picture, decoded.
#
# usage: scripts/evidence_check.sh REPORT.html [OUT_PREFIX]
# Exit status: 0 page fine, 1 it did not render as expected, 77 no Chromium (skipped).
set -euo pipefail
report=${1:?usage: evidence_check.sh REPORT.html [OUT_PREFIX]}
prefix=${2:-${report%.html}}
[ -f "$report" ] || { echo "evidence_check: $report: no such file" >&2; exit 1; }
browser=""
for b in chromium chromium-browser google-chrome; do
  if command -v "$b" >/dev/null; then browser=$(command -v "$b"); break; fi
done
[ -n "$browser" ] || { echo "evidence_check: no Chromium found; skipped"; exit 77; }

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
url="file://$(cd "$(dirname "$report")" && pwd)/$(basename "$report")"
flags=(--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking
  --disable-component-update --disable-sync --disable-dev-shm-usage --hide-scrollbars
  --user-data-dir="$profile")

timeout 120 "$browser" "${flags[@]}" --window-size=1000,2600 --screenshot="$prefix.png" "$url" \
  >"$profile/shot.log" 2>&1 || { echo "evidence_check: screenshot failed" >&2; tail -5 "$profile/shot.log" >&2; exit 1; }
timeout 120 "$browser" "${flags[@]}" --no-pdf-header-footer --print-to-pdf="$prefix.pdf" "$url" \
  >"$profile/pdf.log" 2>&1 || { echo "evidence_check: print to PDF failed" >&2; tail -5 "$profile/pdf.log" >&2; exit 1; }
# The DOM after the images decoded: each <img> is replaced by its natural size.
timeout 120 "$browser" "${flags[@]}" --run-all-compositor-stages-before-draw --virtual-time-budget=5000 \
  --dump-dom "$url" >"$profile/dom.html" 2>"$profile/dom.log" ||
  { echo "evidence_check: --dump-dom failed" >&2; tail -5 "$profile/dom.log" >&2; exit 1; }

problems=0
check() { grep -q -- "$1" "$profile/dom.html" || { echo "evidence_check: rendered page lacks $2" >&2; problems=1; }; }
check 'id="verdict"' "the verdict"
check '<table id="keys">' "the table of keys"
check '<table id="hashes">' "the hashes"
check 'id="model"' "the statistical model"
images=$(grep -o '<img ' "$profile/dom.html" | wc -l)
[ "$images" -ge 3 ] || { echo "evidence_check: only $images pictures" >&2; problems=1; }
# Nothing may leave the page: every src, href and url() is a data: URI or a fragment, and
# there are no scripts, frames or imports.
if grep -Eoi '(src|href)="[^"#][^"]*"|url\([^)]*\)|<script|<iframe|<link|@import' "$report" \
  | grep -Evi '^(src|href)="data:' | grep -q .; then
  echo "evidence_check: the page refers to something outside it:" >&2
  grep -Eoi '(src|href)="[^"#][^"]{0,60}|url\([^)]*\)|<script|<iframe|<link|@import' "$report" \
    | grep -Evi '^(src|href)="data:' | sort -u | head -5 >&2
  problems=1
fi
if grep -Eqi 'ERR_|Uncaught' "$profile/dom.log" "$profile/shot.log"; then
  echo "evidence_check: the browser reported errors:" >&2
  grep -Ei 'ERR_|Uncaught' "$profile/dom.log" "$profile/shot.log" | head -5 >&2
  problems=1
fi
[ -s "$prefix.png" ] || { echo "evidence_check: no screenshot" >&2; problems=1; }
[ "$(head -c 5 "$prefix.pdf" 2>/dev/null)" = "%PDF-" ] || { echo "evidence_check: no PDF" >&2; problems=1; }
[ "$problems" -eq 0 ] || exit 1
echo "evidence_check: $report rendered ($images pictures); $prefix.png, $prefix.pdf"
