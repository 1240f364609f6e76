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
# within FILE KEY LOW HIGH: the first JSON number "KEY": N in FILE lies in [LOW, HIGH]. A
# recovered transform is checked by tolerance: the text "scale": 0.8 also matches 0.83.
within() {
  local got
  got=$(grep -o "\"$2\": -\?[0-9][0-9.eE+-]*" "$1" | head -n 1 | sed 's/^.*: //')
  [ -n "$got" ] || fail "$1 lacks a number \"$2\": $(cat "$1")"
  awk -v v="$got" -v lo="$3" -v hi="$4" 'BEGIN { exit !(v + 0 >= lo + 0 && v + 0 <= hi + 0) }' ||
    fail "\"$2\": $got is outside [$3, $4]"
}
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
  # A marked photograph keeps its JPEG quality by default, and embed's help says so.
  run 0 embed --help; has out "'same' (the default)"
  ;;
usage)
  run 2; has err "usage:"
  run 2 frobnicate; has err "unknown command"
  run 2 embed only-one.bmp; has err "missing arguments"; has err "--help"
  run 2 detect a b c d; has err "unexpected argument 'd'"
  run 2 generate w.wmk --length abc; has err "--length"
  run 2 generate w.wmk --length 0; has err "--length"
  run 2 generate w.wmk --alpha nan; has err "--alpha"
  run 2 generate w.wmk --length 10; has err "at least 11 values"; has err "--force"
  run 2 generate w.wmk --bogus; has err "unknown option '--bogus'"
  run 2 embed --quality 101 a b c; has err "--quality"
  run 2 embed a b c --jobs 2; has err "--output-dir"
  run 2 embed --output-dir d w.wmk a.bmp --format gif; has err "'gif' is not one of bmp, png, jpg, tif, webp"
  # A threshold of -1 found every picture: every command deciding "found" takes a threshold
  # strictly between 0 and 1 and a false-positive bound strictly between 0 and 0.5, before
  # it reads a file.
  for command in "detect a.png w.wmk b.png" "identify a.png b.png w.wmk" "trace b.png" "evaluate a.png w.wmk --out r" \
                 "embed a.png w.wmk out.png" "embed --output-dir d w.wmk a.png"; do
    for bad in -1 0 1 2; do
      run 2 $command --threshold "$bad"; has err "--threshold: $bad is not a similarity between 0 and 1"
    done
    for bad in 0 -0.1 0.5 1; do
      run 2 $command --max-false-positive "$bad"
      has err "--max-false-positive: $bad is not a probability between 0 and 0.5"
    done
  done
  only_expected_files
  ;;
roundtrip)
  run 0 generate w.wmk --length 1000 --alpha 0.3 --seed 42; has out "1000 values"
  [ "$(head -c 6 w.wmk)" = '"CXSG"' ] || fail "watermark file tag"
  run 0 generate w2.wmk --length 1000 --alpha 0.3 --seed 42
  cmp -s w.wmk w2.wmk || fail "the same seed gave different watermarks"
  run 0 generate other.wmk --length 1000 --seed 43
  run 0 embed "$sample" w.wmk marked.bmp; has out "marked.bmp: 1000 coefficients changed, PSNR"
  run 0 detect "$sample" w.wmk marked.bmp; has out "verdict: found"; has out "coefficients: 1000"
  grep -q '^similarity: 0\.9[5-9]' out || fail "similarity below 0.95: $(cat out)"
  # The command line speaks English only.
  LC_ALL=C grep -q '[^ -~]' out && fail "non-ASCII text in detect's output: $(cat out)"
  run 1 detect "$sample" other.wmk marked.bmp; has out "verdict: not found"
  # A watermark too short to be evidence is written only on request, and then never finds
  # an unmarked picture, though its similarity is +-1 or close.
  run 0 generate short.wmk --length 11; run 0 generate tiny.wmk --length 1 --seed 5 --force
  for key in tiny.wmk short.wmk; do
    run 1 detect "$sample" "$key" marked.bmp; has out "verdict: not found: false-positive probability"
  done
  # A watermark drawn with a mean other than 0 has no false-positive figure: the similarity decides.
  run 0 generate biased.wmk --length 1000 --mean 2 --seed 8
  run 1 detect "$sample" biased.wmk marked.bmp; has out "false positive probability: n/a"
  has out "verdict: not found: similarity"; has out "does not hold for a watermark whose mean is not 0"
  run 0 detect "$sample" tiny.wmk marked.bmp --threshold 0.7 --json
  has out '"found": true'; has out '"false_positive_probability": 0.5,'
  run 1 detect "$sample" w.wmk "$sample"; has out "similarity: 0"
  run 1 detect "$sample" w.wmk marked.bmp --threshold 0.999; grep -q '^verdict: not found: similarity 0\.[0-9]* <= 0.999$' out || fail "--threshold 0.999 $(cat out)"
  has out "rule: similarity (above 0.999)"
  # The verdict by evidence is the default; the similarity rule on request, never both.
  run 0 detect "$sample" w.wmk marked.bmp; has out "rule: evidence (false-positive probability at most 1e-09)"
  grep -q '^verdict: found: false-positive probability [0-9.]*e-[0-9]* <= 1e-09$' out || fail "evidence verdict: $(cat out)"
  run 2 detect "$sample" w.wmk marked.bmp --max-false-positive 1e-6 --threshold 0.5
  for bad in 0 -1 1 nan abc; do run 2 detect "$sample" w.wmk marked.bmp --max-false-positive "$bad"; done
  run 0 detect "$sample" w.wmk marked.bmp --json
  [ "$(wc -l <out)" -eq 1 ] || fail "--json printed more than one line"
  for key in '{"schema": 1, "similarity": 0.9' '"found": true' '"threshold": 0.7,' '"coefficients": 1000' \
             '"z": ' '"false_positive_probability": 0, "log10_false_positive_probability": -' '"verdict": "found"' \
             '"rule": "evidence"' '"max_false_positive": 1e-09' \
             '"original": {"width": 451, "height": 300}' '"suspect": {"width": 451, "height": 300}' \
             '"files": {"original": "'"$sample"'", "watermark": "w.wmk", "suspect": "marked.bmp"}' \
             '"registration": null'; do
    has out "$key"
  done
  if command -v python3 >/dev/null; then
    python3 -c 'import json,sys; d=json.load(open("out")); assert d["found"] and d["z"] > 20' || fail "bad JSON"
  fi
  run 1 detect "$sample" other.wmk marked.bmp --json --threshold 0.1; has out '"threshold": 0.1,'
  has out '"verdict": "not found"' 
  run 0 detect "$sample" w.wmk marked.bmp; has out "registration: none"
  ;;
register)
  # Copies that were moved, resized, mirrored or re-toned are registered and found;
  # the same copies without registration are not.
  run 0 generate w.wmk --length 1000 --alpha 0.1 --seed 42
  run 0 embed "$sample" w.wmk marked.png
  run 0 attack marked.png small.jpg --rotate 2 --resize 0.8 --jpeg 85
  run 0 detect "$sample" w.wmk small.jpg --json
  for key in '"found": true' '"suspect": {"width": 361, "height": 240}' '"registration": {"method": "' \
             '"shift_x": ' '"shift_y": ' '"mirrored": false' '"coverage": ' '"tone": "none"'; do
    has out "$key"
  done
  within out scale 0.795 0.805; within out scale_x 0.795 0.805; within out scale_y 0.795 0.805
  within out rotation_deg 1.95 2.05; within out coverage 0.95 1; within out image_correlation 0.9 1
  if command -v python3 >/dev/null; then
    python3 -c '
import json
d = json.load(open("out"))
r = d["registration"]
assert set(r) == {"method", "model", "scale", "scale_x", "scale_y", "rotation_deg", "orientation", "shift_x",
                  "shift_y", "mirrored", "border", "coverage", "gain", "tone", "image_correlation", "transform"}, r
assert len(r["transform"]) == 9 and r["transform"][8] == 1, r
assert r["orientation"] == 0 and r["model"] in ("similarity", "affine") and not any(r["border"].values()), r
assert abs(r["scale"] - 0.8) < 0.005 and abs(r["rotation_deg"] - 2) < 0.05 and r["coverage"] > 0.95, r
' || fail "registration JSON: $(cat out)"
  fi
  run 2 detect "$sample" w.wmk small.jpg --register never; has err "361 x 240"
  run 0 attack marked.png moved.png --mirror --shift 3,-2
  run 1 detect "$sample" w.wmk moved.png --register never; has out "registration: none"
  run 0 detect "$sample" w.wmk moved.png; has out "verdict: found"; has out ", mirrored,"
  run 0 attack marked.png dark.png --gamma 0.7 --tone 0.9,-5
  run 0 detect "$sample" w.wmk dark.png --register always; has out "tone curve"
  # identify registers once for all its watermark files.
  run 0 generate other.wmk --length 1000 --seed 43
  run 0 identify "$sample" moved.png other.wmk w.wmk --json
  has out '"registration": {"method": "'; has out '"mirrored": true'
  within out scale 0.995 1.005; within out rotation_deg -0.05 0.05
  within out shift_x -3.2 -2.8; within out shift_y -2.2 -1.8
  if command -v python3 >/dev/null; then
    python3 -c '
import json
d = json.load(open("out"))
assert d["watermarks"][0]["watermark"] == "w.wmk" and d["watermarks"][0]["found"], d
# Mirrored after the shift: the shift reads as it does on the unmirrored suspect.
assert d["registration"]["mirrored"] and abs(d["registration"]["shift_x"] + 3) < 0.2, d
assert abs(d["registration"]["shift_y"] + 2) < 0.2, d
' || fail "identify JSON: $(cat out)"
  fi
  run 0 identify "$sample" moved.png other.wmk w.wmk; has out "registration: "; has out ", mirrored,"
  run 1 identify "$sample" moved.png other.wmk w.wmk --register never
  # Another picture is refused when it cannot be registered.
  run 2 detect "$sample" w.wmk "$testdata/bmpsuite/g/rgb24.bmp" --register always; has err "cannot be aligned"
  run 2 detect "$sample" w.wmk marked.png --register sometimes; has err "--register"
  ;;
numbers)
  # wmk N ALPHA VALUE: a watermark file of N equal values.
  wmk() { { printf '"CXSG"\r\n%s\r\n%s\r\n0\r\n1\r\n' "$1" "$2"; for ((i = 0; i < $1; i++)); do printf '%s\r\n' "$3"; done; } >"$4"; }
  run 0 generate w.wmk --length 1000 --seed 42
  run 0 generate other.wmk --length 1000 --seed 43
  wmk 1000 0.1 1E+308 huge.wmk
  wmk 1000 0.1 0 zeros.wmk
  wmk 1000 0 1 alpha0.wmk
  # Values that overflow stop with error 6 and name what overflowed, never a NaN similarity.
  run 2 embed "$sample" huge.wmk m.png; has err "huge.wmk: Overflow: the marked coefficients are too large"
  run 2 embed --target-psnr 40 "$sample" huge.wmk m.png; has err "huge.wmk: Overflow: the marked coefficients"
  [ ! -e m.png ] || fail "embed left a picture after an overflow"
  run 0 embed "$sample" w.wmk marked.png
  run 2 detect "$sample" huge.wmk marked.png; has err "Overflow: the watermark's values are too large"
  lacks out "nan"
  # identify reports the file as bad and ranks the others without it.
  run 2 identify "$sample" marked.png huge.wmk other.wmk w.wmk
  has err "huge.wmk"; has err "Overflow"; lacks out "huge.wmk"; lacks out "nan"
  sed -n 2p out | grep -q 'found  *w\.wmk$' || fail "identify does not rank w.wmk first: $(cat out)"
  run 2 identify "$sample" marked.png huge.wmk w.wmk --json
  has out '"files": 1, "found": true'; has out '"errors": [{"watermark": "huge.wmk", "error": "Overflow: '
  run 2 evaluate "$sample" huge.wmk --out rep --random 5; has err "huge.wmk: Overflow"
  [ ! -e rep/report.html ] || fail "evaluate wrote a report after an overflow"
  # Embedding that would leave nothing detectable is refused, as detection refuses it.
  run 2 embed "$sample" zeros.wmk z.png; has err "zeros.wmk: Every value of the watermark is 0"
  run 2 embed "$sample" alpha0.wmk z.png; has err "alpha0.wmk: The watermark's alpha is 0"
  run 2 embed --output-dir zd alpha0.wmk "$sample"; has err "alpha0.wmk: The watermark's alpha is 0"
  run 0 attack "$sample" flat.png --tone 0.001,0
  run 2 embed flat.png w.wmk z.png; has err "flat.png: The picture has 0 non-zero coefficients among its"
  run 0 attack "$sample" small.png --crop-to 0.05
  run 2 embed small.png w.wmk z.png; has err "but the watermark has 1000 values"
  run 2 embed --target-psnr 40 small.png w.wmk z.png; has err "but the watermark has 1000 values"
  [ ! -e z.png ] || fail "a refused embedding left a picture"
  # Running out of memory is named as such, never put on the watermark file. (Skipped where
  # the tool cannot start under a limit on its address space, as with a sanitizer.)
  if (ulimit -v 300000 && "$cli" --version) >/dev/null 2>&1; then
    # identify holds one watermark file per thread, not all of them: 24 files of 2 million
    # values (16 MB each once read) rank within 350 MB of address space.
    { printf '"CXSG"\r\n2000000\r\n0.1\r\n0\r\n1\r\n'; yes $'1\r' | head -n 2000000; } >long.wmk
    many=()
    for i in $(seq 1 24); do ln -s long.wmk "l$i.wmk"; many+=("l$i.wmk"); done
    (ulimit -v 350000 && exec "$cli" identify "$sample" marked.png "${many[@]}" w.wmk --jobs 2) >out 2>err
    [ $? -eq 0 ] || fail "identify of 25 files within 350 MB: $(cat err)"
    has out "l24.wmk"; sed -n 2p out | grep -q 'found  *w\.wmk$' || fail "identify ranking: $(cat out)"
    rm -f long.wmk l*.wmk
    run 0 attack "$sample" big.png --resize 4
    (ulimit -v 300000 && exec "$cli" evaluate big.png w.wmk --out big --random 10 --jobs 2) >out 2>err
    status=$?
    if [ "$status" -ne 0 ]; then
      [ "$status" -eq 2 ] || fail "evaluate out of memory exited $status: $(cat err)"
      has err "Out of memory"; has err "while evaluating the 1804 x 1200 picture"; lacks err "w.wmk"
    fi
  fi
  # Too many random watermarks for their length are refused before any work, naming the bound.
  run 0 generate n1e4.wmk --length 10000
  run 2 evaluate "$sample" n1e4.wmk --out rnd --random 100001; has err "K x N is at most 1e9"
  [ ! -e rnd ] || fail "evaluate created its folder before refusing --random"
  # A header announcing more values than any generated watermark is refused before reading.
  printf '"CXSG"\r\n268435456\r\n0.1\r\n0\r\n1\r\n1\r\n' >long.wmk
  run 2 detect "$sample" long.wmk marked.png; has err "announces 268435456 values (at most 16777216)"
  ;;
formats)
  run 0 generate w.wmk --seed 7
  run 0 embed "$sample" w.wmk marked.png
  [ "$(head -c 4 marked.png | tail -c 3)" = PNG ] || fail "marked.png is not a PNG"
  run 0 detect "$sample" w.wmk marked.png
  run 0 embed "$sample" w.wmk marked.jpg --quality 90
  [ "$(head -c 2 marked.jpg | od -An -tx1 | tr -d ' ')" = ffd8 ] || fail "marked.jpg is not a JPEG"
  run 0 detect "$sample" w.wmk marked.jpg
  run 0 info marked.png marked.jpg; has out "marked.png: PNG, 451 x 300 pixels, 24 bits per pixel, RGB, 8 bits per sample"
  has out "marked.jpg: JPEG, 451 x 300"; has out "JPEG quality about 90, subsampling 4:2:0"
  run 0 info marked.png "$testdata/bmpsuite/g/pal8.bmp" --json
  has out '{"schema": 1, "files": [{"file": "marked.png", "format": "PNG", "width": 451, "height": 300, "bits_per_pixel": 24, "can_be_watermarked": true, "channels": "RGB", "bits_per_sample": 8, "palette": false, "metadata": {"exif": false, "icc": false, "xmp": false, "iptc": false, "text": false}},'
  has out '"format": "BMP", "width": 127, "height": 64, "bits_per_pixel": 8, "can_be_watermarked": false, "channels": "RGB", "bits_per_sample": 8, "palette": true, "metadata": {"exif": false, "icc": false, "xmp": false, "iptc": false, "text": false}}], "errors": []}'
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
  # A palette picture is marked as RGB, and the tool says so.
  run 0 embed "$testdata/bmpsuite/g/pal8.bmp" w.wmk pal8-marked.png
  has err "pal8.bmp: a palette picture, converted to RGB for marking"
  rm -f pal8-marked.png
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
  [ -f outdir/a.png ] && [ -f outdir/b.png ] && [ -f outdir/pal8.bmp ] || fail "good pictures not written: $(ls outdir)"
  [ ! -e outdir/bad.bmp ] || fail "a failed picture left an output"
  [ "$(ls -A outdir | wc -l)" -eq 3 ] || fail "stray files in outdir: $(ls -A outdir)"
  has err "bad.bmp"; has err "pal8.bmp: a palette picture"; has err "1 of 4 pictures failed"
  has out "outdir/a.png: "; has out "outdir/b.png: "
  lacks err "["  # no progress bar when stderr is not a terminal
  run 0 detect in/a.png w.wmk outdir/b.png
  run 0 embed --output-dir outbmp w.wmk in/a.png in/b.png --format bmp
  [ "$(head -c 2 outbmp/a.bmp)" = BM ] || fail "--format bmp did not write a BMP"
  # An output that would replace its input, or another item's output, is refused.
  run 2 embed --output-dir in w.wmk in/a.png; has err "would replace"
  cmp -s in/a.png "$sample" || fail "the input was overwritten"
  mkdir in2; cp "$sample" in2/a.png
  run 2 embed --output-dir same w.wmk in/a.png in2/a.png; has err "already writes"; has err "nothing written"
  [ ! -e same ] || fail "a refused batch wrote something: $(ls -A same)"
  ;;
overwrite)
  # A watermark file is a key: generate never replaces one without --force, also through a link.
  run 0 generate w.wmk --seed 5; cp w.wmk key.copy
  ln -s w.wmk key-link.wmk
  for target in w.wmk key-link.wmk; do
    run 2 generate "$target" --seed 6; has err "$target: already exists"; has err "--force"
    cmp -s w.wmk key.copy || fail "generate replaced $target"
  done
  run 0 generate key-link.wmk --seed 6 --force
  cmp -s w.wmk key.copy && fail "--force did not replace the watermark file"
  [ -L key-link.wmk ] || fail "the link was replaced by a file"
  cp w.wmk key.copy

  # No output may be one of the inputs: the same name, a path to it, a symbolic or hard link.
  cp "$sample" photo.png; cp photo.png photo.copy
  ln -s photo.png link.png; ln photo.png hard.png; mkdir sub; ln -s ../photo.png sub/up.png
  for out in photo.png ./photo.png "$PWD/photo.png" link.png hard.png sub/up.png w.wmk key-link.wmk; do
    run 2 embed photo.png w.wmk "$out"; has err "the output $out "; has err "refusing to replace it"
  done
  run 0 embed photo.png w.wmk marked.png
  run 2 embed --output-dir . w.wmk photo.png; has err "would replace this input picture"
  # One item's output is another's input, or the watermark file: the whole batch is refused.
  mkdir e; cp photo.png e/photo.png; cp photo.png other.png
  run 2 embed --output-dir e w.wmk other.png photo.png e/photo.png; has err "nothing written"
  [ ! -e e/other.png ] || fail "a refused batch wrote e/other.png"
  cmp -s e/photo.png photo.copy || fail "a batch replaced another item's input"
  mkdir k; cp w.wmk k/photo.png
  run 2 embed --output-dir k k/photo.png photo.png; has err "would replace the input k/photo.png"
  cmp -s k/photo.png key.copy || fail "a batch replaced its watermark file"
  run 2 attack marked.png marked.png --jpeg 50; has err "refusing to replace it"
  run 2 attack marked.png link.png --crop 0.5 --fill-from photo.png; has err "same file as the input photo.png"
  mkdir rep; cp photo.png rep/report.html; cp w.wmk rep/report.md
  run 2 evaluate rep/report.html w.wmk --out rep --random 0; has err "rep/report.html"
  run 2 evaluate photo.png rep/report.md --out rep --random 0; has err "rep/report.md"
  [ ! -e rep/report.csv ] || fail "a refused evaluation wrote report.csv"
  cmp -s rep/report.html photo.copy && cmp -s rep/report.md key.copy || fail "evaluate replaced an input"
  cmp -s photo.png photo.copy || fail "the original was replaced"
  cmp -s w.wmk key.copy || fail "the watermark file was replaced"
  [ -L link.png ] && [ -L sub/up.png ] || fail "a link was replaced"

  # A link as the output of a save is written through, and stays a link.
  ln -s marked-target.png out-link.png
  run 0 embed photo.png w.wmk out-link.png
  [ -L out-link.png ] && [ -f marked-target.png ] || fail "the save did not write through the link"
  run 0 detect photo.png w.wmk out-link.png
  ;;
json)
  # The command line's defaults are Cox et al.'s: N = 1000, alpha = 0.1.
  run 0 generate w.wmk --seed 9
  [ "$(sed -n 2p w.wmk | tr -d '\r')" = 1000 ] && [ "$(sed -n 3p w.wmk | tr -d '\r')" = 0.1 ] ||
    fail "generate's defaults: $(head -3 w.wmk)"
  # Names with quotes, backslashes, control characters and bytes that are not UTF-8.
  name=$(printf 'we"ird\\na\tme\001\377.png')
  key=$(printf 'k\177\303\251y.wmk')
  cp "$sample" "$name"; cp w.wmk "$key"
  run 0 embed "$name" "$key" marked.png
  run 0 detect "$name" "$key" marked.png --json
  has out '"files": {"original": "we\"ird\\na\tme\u0001\udcff.png", "watermark": "k\u007féy.wmk", "suspect": "marked.png"}'
  [ "$(wc -l <out)" -eq 1 ] || fail "detect --json printed more than one line"
  run 0 info "$name" --json; has out '"file": "we\"ird\\na\tme\u0001\udcff.png"'
  run 2 info "$name" missing.png --json; has out '"errors": [{"file": "missing.png", "error": "File not found: \"missing.png\""}]'
  run 0 generate other.wmk --seed 10 --length 500
  run 0 identify "$name" marked.png other.wmk "$key" --json
  has out '{"schema": 1, "original": "we\"ird\\na\tme\u0001\udcff.png", "suspect": "marked.png", "rule": "evidence", "threshold": 0.7, "max_false_positive": 1e-09, "files": 2, "found": true, "top_similarity": 0.9'
  has out '"family_wise_false_positive_probability": '; has out '"errors": [], "registration": null}'
  has out '[{"watermark": "k\u007féy.wmk", "similarity": 0.9'; has out '"length": 500, "family_wise_false_positive_probability": '
  if command -v python3 >/dev/null; then
    run 0 detect "$name" "$key" marked.png --json
    NAME="$name" python3 -c '
import json, os
d = json.load(open("out"))
assert d["schema"] == 1 and d["found"] and d["verdict"] == "found", d
assert os.fsencode(d["files"]["original"]) == os.fsencode(os.environ["NAME"]), d["files"]
' || fail "detect --json does not read back: $(cat out)"
  fi
  run 0 identify "$name" marked.png other.wmk "$key"
  has out "false pos."; has out "family-wise false-positive probability: "
  run 0 evaluate "$sample" w.wmk --out rep --random 20 --json
  [ "$(head -c 14 out)" = '{"schema": 1, ' ] || fail "evaluate --json: $(head -c 200 out)"
  has out '"attacks": 32, "attacks_survived": '; has out '"random_watermarks": 20,'
  has out '"reports": {"csv": "rep/report.csv", "markdown": "rep/report.md", "html": "rep/report.html"}'
  lacks out "| JPEG"
  [ -s rep/report.html ] || fail "evaluate --json wrote no report"
  if command -v python3 >/dev/null; then
    python3 -c '
import json
d = json.load(open("out"))
rows = [r for r in d["rows"] if r["family"] not in ("none", "control")]
assert len(d["rows"]) == 34 and d["attacks"] == len(rows), d["attacks"]
assert d["attacks_survived"] == sum(r["found"] for r in rows)
assert d["attacks_survived_registered"] == sum(r["registered_found"] for r in rows)
assert d["attacks_survived_registered"] > d["attacks_survived"]
# Counted both ways: the evidence rule finds at least what similarity above 0.7 does.
assert d["rule"] == "evidence" and d["max_false_positive"] == 1e-9 and 0 < d["threshold"] < 0.7, d
assert d["attacks_survived_by_similarity"] == sum(r["similarity"] is not None and r["similarity"] > 0.7 for r in rows)
assert d["attacks_survived_registered_by_similarity"] <= d["attacks_survived_registered"]
moved = [r for r in rows if r["family"] == "geometric" and r["registration"]]
assert moved and all(0.5 < r["registration"]["scale"] < 1.01 for r in moved), moved
# Each moved copy registered by the transform it was made with, within tolerance.
import re
for r in moved:
    g, label = r["registration"], r["attack"]
    scale = 1.0
    for f in re.findall(r"resize ×([0-9.]+)", label): scale *= float(f)
    turn = re.search(r"rotate (-?[0-9.]+)°", label)
    assert abs(g["scale"] / scale - 1) < 0.01, (label, g)
    assert abs(g["rotation_deg"] - (float(turn.group(1)) if turn else 0)) < 0.1, (label, g)
    assert g["mirrored"] == (label == "mirror"), (label, g)
assert d["registered_random_max_similarity"] < 0.3 and d["registered_pictures"] >= len(moved)
assert d["similarity"] == d["rows"][0]["similarity"]
' || fail "evaluate --json does not agree with its rows"
  fi
  ;;
inputs)
  # Hostile inputs. A FIFO once blocked open() forever and /dev/zero was read for 2 GB:
  # every command is bounded by timeout here (and by ctest's TIMEOUT), so a regression fails.
  run() {
    local want=$1; shift
    timeout 30 "$cli" "$@" >out 2>err
    local got=$?
    [ "$got" -eq "$want" ] || fail "pelinor-cli $* exited $got, expected $want; stderr: $(cat err)"
  }
  run 0 generate w.wmk --seed 3
  mkfifo fifo.png fifo.wmk
  run 2 info "$sample" fifo.png
  has out "451 x 300"; has err 'Cannot read "fifo.png": not a regular file'
  run 2 info /dev/zero; has err 'Cannot read "/dev/zero": not a regular file'
  run 2 embed "$sample" fifo.wmk marked.png; has err 'Cannot read "fifo.wmk": not a regular file'
  run 2 detect "$sample" w.wmk fifo.png; has err 'Cannot read "fifo.png": not a regular file'
  run 2 embed --output-dir outdir w.wmk "$sample" fifo.png --jobs 2
  has err 'Cannot read "fifo.png": not a regular file'; has err "1 of 2 pictures failed"
  [ "$(ls -A outdir)" = chelsea.png ] || fail "batch outputs: $(ls -A outdir)"
  # The pixel budget: refused from the header by every command that reads pictures.
  budget='Out of memory: a 451 x 300 picture (0.1353 megapixels) is over the limit of 0.1 megapixels (--max-pixels raises it)'
  run 2 info "$sample" --max-pixels 100000; has err "$budget"
  run 0 info "$sample" --max-pixels 135300
  run 2 embed "$sample" w.wmk marked.png --max-pixels 100000; has err "$budget"
  run 0 embed "$sample" w.wmk marked.png --max-pixels=135300
  run 2 detect "$sample" w.wmk marked.png --max-pixels 100000; has err "$budget"
  run 2 identify "$sample" marked.png w.wmk --max-pixels 100000; has err "$budget"
  run 2 attack "$sample" attacked.png --jpeg 50 --max-pixels 100000; has err "$budget"
  # An attack that would grow the picture past the budget is refused before it runs.
  run 2 attack "$sample" grown.png --resize 4 --max-pixels 1000000
  has err 'resize ×4 needs a picture of 2164800 pixels, over the limit of 1000000 pixels (--max-pixels raises it)'
  [ ! -e grown.png ] || fail "a refused attack wrote grown.png"
  run 2 attack "$sample" grown.png --crop-to 0.5 --scale 4 --max-pixels 200000; has err 'scale ×4 needs a picture of 542400 pixels'
  run 0 attack "$sample" grown.png --crop-to 0.5 --resize 2 --max-pixels 200000; rm grown.png
  run 2 evaluate "$sample" w.wmk --out reports --random 0 --max-pixels 100000; has err "$budget"
  run 2 info "$sample" --max-pixels 0; has err "--max-pixels"
  [ ! -e reports ] && [ ! -e attacked.png ] || fail "a refused command wrote something"
  only_expected_files w.wmk fifo.png fifo.wmk outdir marked.png
  ;;
verify)
  # A lossy output is checked as written: one that loses the mark is not written.
  run 0 generate w.wmk --length 1000 --seed 42
  run 2 embed "$sample" w.wmk q1.jpg --quality 1
  has err "q1.jpg: the mark would not be found in the file as written at quality 1"
  has err "nothing written"; [ ! -e q1.jpg ] || fail "a refused output was written"
  enough=$(grep -oE -- '--quality [0-9]+ or higher keeps the mark findable' err | grep -oE '[0-9]+')
  [ -n "$enough" ] && [ "$enough" -gt 1 ] && [ "$enough" -le 100 ] || fail "no quality suggested: $(cat err)"
  # An existing file stays as it was.
  echo keep >q1.jpg
  run 2 embed "$sample" w.wmk q1.jpg --quality 1
  [ "$(cat q1.jpg)" = keep ] || fail "a refused embedding replaced the existing file"
  rm q1.jpg
  # The suggested quality does keep the mark, and the report gives the file's own figures.
  run 0 embed "$sample" w.wmk enough.jpg --quality "$enough"
  has out "as written: PSNR"; has out "found: false-positive probability"
  run 0 detect "$sample" w.wmk enough.jpg
  run 0 embed "$sample" w.wmk q75.jpg --quality 75; has out "as written: PSNR"
  run 0 embed "$sample" w.wmk q75.webp --quality 75; has out "as written: PSNR"
  # The file's PSNR, not the marked picture's before encoding.
  before=$(grep -oE 'changed, PSNR [0-9.]+' out | grep -oE '[0-9.]+$')
  after=$(grep -oE 'as written: PSNR [0-9.]+' out | grep -oE '[0-9.]+$')
  awk -v a="$after" -v b="$before" 'BEGIN { exit !(a < b) }' || fail "written PSNR $after not below $before"
  # --no-verify writes what was asked; detect then finds nothing.
  run 0 embed "$sample" w.wmk q1.jpg --quality 1 --no-verify; lacks out "as written"
  [ -s q1.jpg ] || fail "--no-verify did not write"
  run 1 detect "$sample" w.wmk q1.jpg
  # Lossless outputs are not checked.
  run 0 embed "$sample" w.wmk m.png --quality 1; lacks out "as written"
  run 2 embed "$sample" w.wmk x.jpg --threshold 0.7 --max-false-positive 1e-9; has err "two different rules"
  # A batch refuses the picture that would lose its mark and writes the others.
  mkdir in; cp "$sample" in/a.png; cp q75.jpg in/b.jpg
  run 2 embed --output-dir marked w.wmk in/a.png in/b.jpg --quality 1
  [ -f marked/a.png ] || fail "the lossless output of a batch was not written"
  [ ! -e marked/b.jpg ] || fail "a batch wrote an output that loses the mark"
  has err "marked/b.jpg: the mark would not be found"; has err "or higher keeps the mark findable"
  has err "1 of 2 pictures failed"
  ;;
floor)
  # The key's alpha is the strongest allowed: lowered for the quality floor, only when needed.
  run 0 generate w.wmk --length 1000 --alpha 0.1 --seed 42
  run 0 embed "$sample" w.wmk m.png; has out "banding"; has out "alpha lowered from 0.1 to 0.0"
  psnr=$(grep -oE 'changed, PSNR [0-9.]+' out | grep -oE '[0-9.]+$')
  awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }' || fail "the floor did not hold: PSNR $psnr"
  band=$(grep -oE 'banding [0-9.]+ levels' out | head -1 | grep -oE '[0-9.]+')
  awk -v b="$band" 'BEGIN { exit !(b <= 4) }' || fail "banding $band above 4 levels"
  run 0 detect "$sample" w.wmk m.png; has out "verdict: found"
  # Today's embedding on request.
  run 0 embed "$sample" w.wmk m0.png --min-psnr 0; lacks out "lowered"; lacks out "banding"
  psnr0=$(grep -oE 'changed, PSNR [0-9.]+' out | grep -oE '[0-9.]+$')
  awk -v p="$psnr0" 'BEGIN { exit !(p < 40) }' || fail "--min-psnr 0 changed the embedding: PSNR $psnr0"
  # A gentle key is embedded as it is.
  run 0 generate gentle.wmk --length 1000 --alpha 0.01 --seed 42
  run 0 embed "$sample" gentle.wmk g.png; has out "banding"; lacks out "lowered"
  run 0 embed "$sample" w.wmk t.png --target-psnr 35; lacks out "lowered"; has out "alpha 0."
  run 2 embed "$sample" w.wmk x.png --min-psnr 5; has err "--min-psnr"
  run 2 embed "$sample" w.wmk x.png --min-psnr 120; has err "--min-psnr"
  # evaluate judges the picture embed writes, and the file's alpha on request.
  run 0 evaluate "$sample" w.wmk --out ev --random 0 --jobs 2 --json
  has out '"key_alpha": 0.1,'; has out '"min_psnr_db": 40,'; has out '"marked_banding_levels": '
  has out '"alpha": 0.0'
  run 0 evaluate "$sample" w.wmk --out ev0 --random 0 --jobs 2 --min-psnr 0
  has out "banding"; lacks out "alpha lowered"
  has ev/report.md "- alpha lowered from 0.1 to 0.0"
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "PASS [$case]"
