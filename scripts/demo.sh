#!/usr/bin/env bash
# The whole job on the sample photograph, without a display: generate a watermark, embed
# it, and test the marked picture for it and, for contrast, for a watermark never embedded.
# Results go to build/demo/. Run after a build (scripts/run.sh demo builds first).
set -euo pipefail
cd "$(dirname "$0")/.."
cli=build/bin/pelinor-cli
[ -x "$cli" ] || { echo "demo: $cli is missing; run scripts/build.sh first" >&2; exit 2; }
out=build/demo
mkdir -p "$out"
photo=samples/chelsea.png

echo "== pelinor-cli generate $out/watermark.wmk"
"$cli" generate "$out/watermark.wmk"
echo
echo "== pelinor-cli embed $photo $out/watermark.wmk $out/marked.bmp"
"$cli" embed "$photo" "$out/watermark.wmk" "$out/marked.bmp"
echo
echo "== pelinor-cli detect $photo $out/watermark.wmk $out/marked.bmp"
"$cli" detect "$photo" "$out/watermark.wmk" "$out/marked.bmp"
echo
echo "== for contrast, another watermark that was never embedded"
"$cli" generate "$out/other.wmk" >/dev/null
status=0
"$cli" detect "$photo" "$out/other.wmk" "$out/marked.bmp" || status=$?
[ "$status" -eq 1 ] || { echo "demo: unexpected exit status $status" >&2; exit 1; }
echo
echo "The marked picture is $out/marked.bmp."
