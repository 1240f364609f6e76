#!/usr/bin/env bash
# Command-line tests of attack, evaluate, identify and embed --target-psnr.
# usage: lab_cli_test.sh PELINOR_CLI LAB_MAKE_PICTURE TESTDATA CASE
set -uo pipefail
cli=$1
make_picture=$2
testdata=$3
case_name=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect STATUS COMMAND...: runs the command, keeps stdout/stderr in out.txt/err.txt.
expect() {
  local want=$1
  shift
  "$@" >out.txt 2>err.txt
  local got=$?
  if [ "$got" -ne "$want" ]; then
    fail "exit $got, wanted $want: $*"
    sed 's/^/  stderr: /' err.txt | head -5
  fi
}
stderr_has() { grep -q -- "$1" err.txt || fail "stderr lacks '$1': $(head -3 err.txt)"; }
stdout_has() { grep -q -- "$1" out.txt || fail "stdout lacks '$1'"; }

"$make_picture" original.bmp 96 80 3 || exit 1
"$make_picture" other.bmp 96 81 4 || exit 1

case_attack() {
  expect 0 "$cli" attack original.bmp jpeg.png --jpeg 50
  [ -s jpeg.png ] || fail "no JPEG-attacked output"
  expect 0 "$cli" attack original.bmp n1.bmp --noise 5 --seed 7
  expect 0 "$cli" attack original.bmp n2.bmp --noise 5 --seed 7
  expect 0 "$cli" attack original.bmp n3.bmp --noise=5 --seed 8
  cmp -s n1.bmp n2.bmp || fail "the same seed gave different noise"
  cmp -s n1.bmp n3.bmp && fail "different seeds gave the same noise"
  # Identities: whole area kept, all 256 levels, scale 1, blur 0.
  expect 0 "$cli" attack original.bmp same.bmp --crop 1 --requantize 256 --scale 1 --blur 0 \
    --fill-from original.bmp
  cmp -s original.bmp same.bmp || fail "identity attacks changed the picture"
  expect 0 "$cli" attack n1.bmp back.bmp --crop 0 --fill-from original.bmp
  cmp -s original.bmp back.bmp || fail "crop 0 is not the fill picture"
  expect 0 "$cli" attack original.bmp chain.jpg --blur 1 --scale 0.5 --noise 2 --crop 0.5 --fill-from original.bmp \
    --quality 80
  [ -s chain.jpg ] || fail "no output of a chain"

  # The edits registration undoes: sizes and exact pixels where they are exact.
  expect 0 "$cli" attack original.bmp small.bmp --crop-to 0.5
  expect 0 "$cli" info small.bmp
  stdout_has "48 x 40"
  expect 0 "$cli" attack original.bmp social.png --social --resize 0.5 --rotate 2 --shift 3,-2 --tone 1.1,10 --gamma 0.8
  expect 0 "$cli" info social.png
  stdout_has "48 x 40"
  expect 0 "$cli" attack original.bmp twice.bmp --mirror --mirror --shift=0,0 --rotate 0 --tone 1,0 --gamma 1
  cmp -s original.bmp twice.bmp || fail "identity edits changed the picture"
  expect 2 "$cli" attack original.bmp x.bmp --shift 3
  stderr_has "two numbers"
  expect 2 "$cli" attack original.bmp x.bmp --resize 0
  stderr_has "above 0"

  expect 2 "$cli" attack original.bmp x.bmp
  stderr_has "no attack given"
  expect 2 "$cli" attack original.bmp x.bmp --crop 0.5
  stderr_has "--fill-from"
  expect 2 "$cli" attack original.bmp x.bmp --crop 0.5 --fill-from other.bmp
  stderr_has "other.bmp"
  expect 2 "$cli" attack original.bmp x.bmp --jpeg 0
  stderr_has "from 1 to 100"
  expect 2 "$cli" attack original.bmp x.bmp --scale abc
  stderr_has "not a finite number"
  expect 2 "$cli" attack missing.bmp x.bmp --jpeg 50
  stderr_has "missing.bmp"
  expect 2 "$cli" attack "$testdata/bmpsuite/g/pal8.bmp" x.bmp --jpeg 50
  stderr_has "24-bit bitmaps only"
  [ -e x.bmp ] && fail "a failed attack left an output file"
  expect 0 "$cli" attack --help
  stdout_has "--requantize"
}

case_evaluate() {
  "$cli" generate w.wmk --length 200 --seed 5 >/dev/null || fail "generate"
  expect 0 "$cli" evaluate original.bmp w.wmk --out report --random 150 --seed 3
  for f in report.csv report.md report.html; do [ -s "report/$f" ] || fail "missing report/$f"; done
  [ "$(wc -l <report/report.csv)" -eq 35 ] || fail "report.csv should have a header and 34 rows"
  grep -q '^none,"marked, no attack",0,0\.9[5-9][0-9]*,1,' report/report.csv || fail "marked row: $(sed -n 2p report/report.csv)"
  grep -q '^control,"unmarked original",0,0\.000000,0,.*,inf,0\.000000,0,"not needed"$' report/report.csv ||
    fail "control row: $(sed -n 3p report/report.csv)"
  # A copy of another size: no plain similarity, a registered one.
  grep -q '^geometric,"resize ×0.5",0.5,,0,,,[0-9.]*,[-0-9.]*,[01],"stretch' report/report.csv ||
    fail "resize row: $(grep resize report/report.csv)"
  grep -q '^geometric,"mirror",0,[-0-9.]*,0,.*,"stretch[^"]*, mirrored"$' report/report.csv ||
    fail "mirror row: $(grep mirror report/report.csv)"
  grep -q '^- by evidence (false-positive probability at most 1e-09, a similarity above 0\.[0-9]* for N = [0-9]*): [0-9]* of [0-9]* attacks survived with registration, [0-9]* without; by similarity above 0.7: [0-9]* and [0-9]*$' report/report.md ||
    fail "report.md lacks the counts both ways: $(grep survived report/report.md)"
  grep -q '^jpeg,"JPEG Q=90",90,' report/report.csv || fail "no JPEG 90 row"
  grep -q '| crop 25% |' report/report.md || fail "report.md lacks the crop row"
  grep -q '150 random watermarks' report/report.md || fail "report.md lacks the false-positive line"
  grep -q '<table id="results">' report/report.html || fail "report.html lacks the table"
  [ "$(grep -c '<svg' report/report.html)" -eq 8 ] || fail "report.html should hold 8 charts"
  grep -q 'Similarity as the copy stands and registered' report/report.html || fail "report.html lacks the geometric chart"
  grep -Eq '<script|<link|src=|href=|url\(' report/report.html && fail "report.html refers to something outside itself"
  grep -q '\[ *[0-9]*/[0-9]*\]' err.txt || fail "no progress on stderr"
  stdout_has "| JPEG Q=5 |"
  # Same seed, same report.
  expect 0 "$cli" evaluate original.bmp w.wmk --out again --random 150 --seed 3 --jobs 1
  cmp -s report/report.csv again/report.csv || fail "evaluation is not reproducible"

  # Names are escaped in the page.
  cp w.wmk 'a<b>&"c.wmk'
  expect 0 "$cli" evaluate original.bmp 'a<b>&"c.wmk' --out escaped --random 10
  grep -q 'a&lt;b&gt;&amp;&quot;c.wmk' escaped/report.html || fail "file name not escaped in report.html"
  grep -q 'a<b>' escaped/report.html && fail "raw file name in report.html"

  # The strength chosen for a PSNR, and no false-positive side.
  expect 0 "$cli" evaluate original.bmp w.wmk --out chosen --random 0 --target-psnr 40
  grep -q 'chosen for a PSNR of at least 40 dB' chosen/report.md || fail "report.md lacks the chosen strength"
  psnr=$(sed -n 2p chosen/report.csv | awk -F, '{ print $(NF-3) }')
  awk -v p="$psnr" 'BEGIN { exit !(p >= 40 && p < 40.3) }' || fail "marked PSNR $psnr for target 40"
  grep -q '<table id="results">' chosen/report.html || fail "report.html without random watermarks"

  expect 2 "$cli" evaluate original.bmp w.wmk
  stderr_has "--out"
  expect 2 "$cli" evaluate original.bmp w.wmk --out r2 --random -1
  stderr_has "--random"
  expect 2 "$cli" evaluate original.bmp missing.wmk --out r3
  stderr_has "missing.wmk"
  printf 'garbage\n' >bad.wmk
  expect 2 "$cli" evaluate original.bmp bad.wmk --out r4
  stderr_has "bad.wmk"
  [ -e r4/report.html ] && fail "a failed evaluation wrote a report"
}

case_identify() {
  for i in 1 2 3 4 5; do "$cli" generate "w$i.wmk" --length 300 --seed "$i" >/dev/null || fail "generate $i"; done
  "$cli" generate long.wmk --length 500 --seed 9 >/dev/null || fail "generate long"
  expect 0 "$cli" embed original.bmp w3.wmk marked.bmp
  expect 0 "$cli" identify original.bmp marked.bmp w1.wmk w2.wmk w3.wmk w4.wmk w5.wmk long.wmk
  [ "$(sed -n 2p out.txt | awk '{print $7}')" = w3.wmk ] || fail "w3 is not ranked first: $(cat out.txt)"
  [ "$(awk '$6 == "found"' out.txt | wc -l)" -eq 1 ] || fail "exactly one watermark should be found"
  [ "$(wc -l <out.txt)" -eq 10 ] || fail "a header, six ranked lines, the family-wise, rule and registration lines expected"
  [ "$(tail -1 out.txt)" = "registration: none" ] || fail "registration line: $(tail -1 out.txt)"
  # The family-wise figure: 1 - prod(1 - p) over the six files at the top similarity.
  top=$(sed -n 2p out.txt | awk '{print $2}')
  stdout_has "family-wise false-positive probability: .*(any of the 6 files, never embedded, reaching $top"
  expect 0 "$cli" identify original.bmp marked.bmp w5.wmk w3.wmk --json
  grep -q '"registration": null}$' out.txt || fail "JSON without its registration: $(cat out.txt)"
  head -1 out.txt | grep -q '"watermarks": \[{"watermark": "w3.wmk", "similarity": 0\.9[0-9]*, "found": true, "z": [0-9.]*, "false_positive_probability": [0-9.e-]*, "log10_false_positive_probability": -[0-9.]*, "length": 300, "family_wise_false_positive_probability": [0-9.e-]*, "log10_family_wise_false_positive_probability": -[0-9.]*}' ||
    fail "JSON: $(cat out.txt)"
  grep -q '"watermark": "w5.wmk", "similarity": [-0-9.e]*, "found": false' out.txt || fail "JSON lacks w5"
  if command -v python3 >/dev/null; then
    python3 -c '
import json, math
d = json.load(open("out.txt"))
w = d["watermarks"]
assert d["schema"] == 1 and d["files"] == 2 and d["top_similarity"] == w[0]["similarity"], d
# The figures are tiny here: in logarithms, 1 - (1 - p)^2 is 2p.
lp = w[0]["log10_false_positive_probability"]
assert lp < -100 and math.isclose(d["log10_family_wise_false_positive_probability"], lp + math.log10(2), rel_tol=1e-12), d
# A chance figure: the exact p of the file ranked second, and the family-wise of it.
p = w[1]["false_positive_probability"]
assert 0 < p < 1 and math.isclose(w[1]["family_wise_false_positive_probability"], -math.expm1(2 * math.log1p(-p)), rel_tol=1e-9), d
' || fail "identify JSON: $(cat out.txt)"
  fi
  if command -v python3 >/dev/null; then python3 -m json.tool out.txt >/dev/null || fail "invalid JSON"; fi

  expect 1 "$cli" identify original.bmp original.bmp w1.wmk w3.wmk
  printf '"CXSG"\n3\nx\n' >bad.wmk
  expect 2 "$cli" identify original.bmp marked.bmp w3.wmk bad.wmk missing.wmk
  stderr_has "bad.wmk"
  stderr_has "missing.wmk"
  stdout_has "w3.wmk"
  # Without registration pictures of different sizes are refused; with it (the default)
  # another picture is either refused or not found.
  expect 2 "$cli" identify original.bmp other.bmp w3.wmk --register never
  stderr_has "96 x 81"
  "$cli" identify original.bmp other.bmp w3.wmk >out.txt 2>err.txt
  status=$?
  [ "$status" -eq 1 ] || [ "$status" -eq 2 ] || fail "another picture: exit $status"
  expect 2 "$cli" identify original.bmp marked.bmp
  stderr_has "missing arguments"

  # Two recipients average their copies to hide who leaked: each mark is at half strength,
  # below 0.7, yet both are overwhelming evidence and both are found; the others are not.
  # (At the files' own alpha: the quality floor would lower each key by its own factor.)
  expect 0 "$cli" embed original.bmp w1.wmk c1.bmp --min-psnr 0
  expect 0 "$cli" embed original.bmp w2.wmk c2.bmp --min-psnr 0
  python3 -c '
a, b = open("c1.bmp", "rb").read(), open("c2.bmp", "rb").read()
open("averaged.bmp", "wb").write(a[:54] + bytes((x + y + 1) // 2 for x, y in zip(a[54:], b[54:])))
' || fail "averaging"
  expect 0 "$cli" identify original.bmp averaged.bmp w1.wmk w2.wmk w3.wmk w4.wmk w5.wmk long.wmk
  [ "$(awk '$6 == "found" {print $7}' out.txt | sort | tr '\n' ' ')" = "w1.wmk w2.wmk " ] ||
    fail "both colluders, and only they, should be found: $(cat out.txt)"
  awk '$6 == "found" && $2 >= 0.7 { bad = 1 } END { exit bad }' out.txt || fail "a colluder above 0.7: $(cat out.txt)"
  expect 1 "$cli" identify original.bmp averaged.bmp w1.wmk w2.wmk --threshold 0.7
}

# Watermarks of 1 to 10 values reach similarities near +-1 by chance: by evidence they never
# find an unmarked picture, though the bare similarity rule often does.
case_short_watermarks() {
  fooled=0
  for n in 1 2 3 5 8 10; do
    expect 0 "$cli" generate "s$n.wmk" --length "$n" --seed "$n" --force
    for copy in 1 2 3; do
      "$cli" attack original.bmp "u$copy.bmp" --noise 3 --seed "$copy" >/dev/null || fail "attack"
      expect 1 "$cli" detect original.bmp "s$n.wmk" "u$copy.bmp"
      "$cli" detect original.bmp "s$n.wmk" "u$copy.bmp" --threshold 0.7 >/dev/null && fooled=$((fooled + 1))
    done
  done
  [ "$fooled" -gt 0 ] || fail "the similarity rule was expected to be fooled at least once"
}

case_target_psnr() {
  "$cli" generate w.wmk --length 300 --alpha 0.3 --seed 2 >/dev/null || fail "generate"
  for target in 36 42; do
    expect 0 "$cli" embed original.bmp w.wmk "m$target.bmp" --target-psnr "$target"
    stdout_has "alpha"
    # The reported PSNR is at or just above the target.
    psnr=$(grep -io 'psnr[^0-9]*[0-9.]*' out.txt | grep -o '[0-9.]*$' | head -1)
    awk -v p="$psnr" -v t="$target" 'BEGIN { exit !(p >= t && p < t + 0.3) }' || fail "PSNR $psnr for target $target"
    expect 0 "$cli" detect original.bmp w.wmk "m$target.bmp"
  done
  expect 2 "$cli" embed original.bmp w.wmk x.bmp --target-psnr 200
  stderr_has "--target-psnr: 200 is outside 10..100"
  # Absurd targets are refused whole, before any work: no truncated number, no talk of the
  # strength not changing the picture.
  for target in 1e308 0.0001 9.99 100.01; do
    expect 2 "$cli" embed original.bmp w.wmk x.bmp --target-psnr "$target"
    stderr_has "--target-psnr: $target is outside 10..100"
    expect 2 "$cli" evaluate original.bmp w.wmk --out r --random 0 --target-psnr "$target"
    stderr_has "--target-psnr: $target is outside 10..100"
  done
  expect 2 "$cli" embed original.bmp w.wmk x.bmp --target-psnr abc
}

case_browser() {
  "$cli" generate w.wmk --length 200 --seed 5 >/dev/null || fail "generate"
  expect 0 "$cli" evaluate original.bmp w.wmk --out report --random 200
  "$(dirname "$0")/../../scripts/report_check.sh" report/report.html report/report.png
  local status=$?
  [ "$status" -eq 77 ] && exit 77
  [ "$status" -eq 0 ] || fail "the report did not render in the browser"
}

"case_$case_name"
[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "ok"
