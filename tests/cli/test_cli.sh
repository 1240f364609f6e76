#!/usr/bin/env bash
# Runs the built pelinor-cli through one scenario: test_cli.sh CLI SAMPLE TESTDATA CASE.
set -uo pipefail
cli=$1 sample=$2 testdata=$3 case=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() { echo "FAIL [$case]: $*" >&2; exit 1; }
# run EXPECTED_STATUS ARGS...: runs the tool, keeps stdout/stderr in out/err.
run() {
  local want=$1; shift
  "$cli" "$@" >out 2>err
  local got=$?
  [ "$got" -eq "$want" ] || fail "pelinor-cli $* exited $got, expected $want; stderr: $(cat err)"
}
has() { grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"; }
lacks() { ! grep -qF -- "$2" "$1" || fail "$1 has '$2'"; }
only_expected_files() {
  local extra patterns=(-e out -e err) f
  for f in "$@"; do patterns+=(-e "$f"); done
  extra=$(ls -A | grep -v -x -F "${patterns[@]}")
  [ -z "$extra" ] || fail "unexpected files left: $extra"
}

case $case in
help)
  run 0 --help; has out "usage: pelinor-cli"
  run 0 --version; has out "pelinor-cli "
  for c in generate embed detect info; do
    run 0 "$c" --help; has out "usage: pelinor-cli $c"
    [ ! -s err ] || fail "$c --help wrote to stderr"
  done
  ;;
usage)
  run 2; has err "usage:"
  run 2 frobnicate; has err "unknown command"
  run 2 embed only-one.bmp; has err "missing arguments"; has err "--help"
  run 2 detect a b c d; has err "unexpected argument 'd'"
  run 2 generate w.wmk --length abc; has err "--length"
  run 2 generate w.wmk --length 0; has err "--length"
  run 2 generate w.wmk --alpha nan; has err "--alpha"
  run 2 generate w.wmk --bogus; has err "unknown option '--bogus'"
  run 2 embed --quality 101 a b c; has err "--quality"
  run 2 embed a b c --jobs 2; has err "--output-dir"
  run 2 embed --output-dir d w.wmk a.bmp --format gif; has err "--format"
  only_expected_files
  ;;
roundtrip)
  run 0 generate w.wmk --length 1000 --alpha 0.3 --seed 42; has out "1000 values"
  [ "$(head -c 6 w.wmk)" = '"CXSG"' ] || fail "watermark file tag"
  run 0 generate w2.wmk --length 1000 --seed 42
  cmp -s w.wmk w2.wmk || fail "the same seed gave different watermarks"
  run 0 generate other.wmk --length 1000 --seed 43
  run 0 embed "$sample" w.wmk marked.bmp; has out "marked.bmp: 1000 coefficients changed, PSNR"
  run 0 detect "$sample" w.wmk marked.bmp; has out "verdict: watermark found"; has out "coefficients: 1000"
  grep -q '^similarity: 0\.9[5-9]' out || fail "similarity below 0.95: $(cat out)"
  run 1 detect "$sample" other.wmk marked.bmp; has out "watermark not found"
  run 1 detect "$sample" w.wmk "$sample"; has out "similarity: 0"
  run 1 detect "$sample" w.wmk marked.bmp --threshold 1; has out "not found"
  run 0 detect "$sample" w.wmk marked.bmp --json
  [ "$(wc -l <out)" -eq 1 ] || fail "--json printed more than one line"
  for key in '"similarity": 0.9' '"found": true' '"threshold": 0.69999' '"coefficients": 1000' '"z": ' \
             '"false_positive_probability": ' '"original": {"width": 451, "height": 300}' \
             '"suspect": {"width": 451, "height": 300}'; do
    has out "$key"
  done
  if command -v python3 >/dev/null; then
    python3 -c 'import json,sys; d=json.load(open("out")); assert d["found"] and d["z"] > 20' || fail "bad JSON"
  fi
  ;;
formats)
  run 0 generate w.wmk --seed 7
  run 0 embed "$sample" w.wmk marked.png
  [ "$(head -c 4 marked.png | tail -c 3)" = PNG ] || fail "marked.png is not a PNG"
  run 0 detect "$sample" w.wmk marked.png
  run 0 embed "$sample" w.wmk marked.jpg --quality 90
  [ "$(head -c 2 marked.jpg | od -An -tx1 | tr -d ' ')" = ffd8 ] || fail "marked.jpg is not a JPEG"
  run 0 detect "$sample" w.wmk marked.jpg
  run 0 info marked.png marked.jpg; has out "marked.png: PNG, 451 x 300 pixels, 24 bits per pixel"
  has out "marked.jpg: JPEG, 451 x 300"
  ;;
errors)
  run 0 generate w.wmk --seed 1
  run 2 embed missing.bmp w.wmk out.bmp; has err "missing.bmp"
  run 2 embed "$sample" nowhere.wmk out.bmp; has err "nowhere.wmk"
  printf '"CXSG"\r\n5\r\n0.3\r\n0\r\n1\r\n1.5\r\nxyz\r\n' >bad.wmk
  run 2 embed "$sample" bad.wmk out.bmp; has err "bad.wmk"
  printf '"CXSG"\r\n5\r\n0.3\r\n0\r\n1\r\n1.5\r\n' >short.wmk
  run 2 detect "$sample" short.wmk "$sample"; has err "short.wmk"
  echo "not a picture" >junk.bmp
  run 2 embed junk.bmp w.wmk out.bmp; has err "junk.bmp"
  run 2 detect "$sample" w.wmk junk.bmp; has err "junk.bmp"
  # An 8-bit picture is refused before the watermark file is even read.
  run 2 embed "$testdata/bmpsuite/g/pal8.bmp" nowhere.wmk out.bmp; has err "pal8.bmp: 24-bit bitmaps only"
  run 2 detect "$testdata/bmpsuite/g/pal8.bmp" w.wmk "$sample"; has err "24-bit bitmaps only"
  run 2 detect "$sample" w.wmk "$testdata/bmpsuite/g/rgb24.bmp"
  has err "rgb24.bmp"; has err "127 x 64"; has err "451 x 300"
  printf '"CXSG"\r\n2\r\n0\r\n0\r\n1\r\n1.5\r\n-1\r\n' >alpha0.wmk
  run 2 detect "$sample" alpha0.wmk "$sample"; has err "alpha0.wmk"; has err "alpha"
  printf '"CXSG"\r\n2\r\n0.3\r\n0\r\n1\r\n0\r\n0\r\n' >zeros.wmk
  run 2 detect "$sample" zeros.wmk "$sample"; has err "zeros.wmk"
  run 2 embed "$sample" w.wmk no-such-folder/out.bmp; has err "no-such-folder/out.bmp"
  # Nothing half-written is ever left behind.
  only_expected_files w.wmk bad.wmk short.wmk junk.bmp alpha0.wmk zeros.wmk
  run 2 info "$sample" junk.bmp missing.png; has out "451 x 300"; has err "junk.bmp"; has err "missing.png"
  ;;
batch)
  run 0 generate w.wmk --seed 3
  mkdir in
  cp "$sample" in/a.png; cp "$sample" in/b.png; echo junk >in/bad.bmp
  cp "$testdata/bmpsuite/g/pal8.bmp" in/pal8.bmp
  run 2 embed --output-dir outdir w.wmk in/a.png in/bad.bmp in/b.png in/pal8.bmp --jobs 2
  [ -f outdir/a.png ] && [ -f outdir/b.png ] || fail "good pictures not written: $(ls outdir)"
  [ ! -e outdir/bad.bmp ] && [ ! -e outdir/pal8.bmp ] || fail "a failed picture left an output"
  [ "$(ls -A outdir | wc -l)" -eq 2 ] || fail "stray files in outdir: $(ls -A outdir)"
  has err "bad.bmp"; has err "pal8.bmp: 24-bit bitmaps only"; has err "2 of 4 pictures failed"
  has out "outdir/a.png: "; has out "outdir/b.png: "
  lacks err "["  # no progress bar when stderr is not a terminal
  run 0 detect in/a.png w.wmk outdir/b.png
  run 0 embed --output-dir outbmp w.wmk in/a.png in/b.png --format bmp
  [ "$(head -c 2 outbmp/a.bmp)" = BM ] || fail "--format bmp did not write a BMP"
  # An output that would replace its input, or another item's output, is refused.
  run 2 embed --output-dir in w.wmk in/a.png; has err "would replace"
  cmp -s in/a.png "$sample" || fail "the input was overwritten"
  mkdir in2; cp "$sample" in2/a.png
  run 2 embed --output-dir same w.wmk in/a.png in2/a.png; has err "already writes"
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "PASS [$case]"
