#!/usr/bin/env bash
# Pictures as people keep them, through the built tool: photos_cli_test.sh CLI MAKE_PICTURE
set -uo pipefail
cli=$1 make=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() { echo "FAIL [photos]: $*" >&2; exit 1; }
run() {
  local want=$1; shift
  "$cli" "$@" >out 2>err
  local got=$?
  [ "$got" -eq "$want" ] || fail "pelinor-cli $* exited $got, expected $want; stderr: $(cat err)"
}
has() { grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"; }
lacks() { ! grep -qF -- "$2" "$1" || fail "$1 has '$2': $(cat "$1")"; }

run 0 generate w.wmk --length 500 --alpha 0.2 --seed 5

# Each depth and channel layout, through each format that holds it: marked, described
# with its own channels and depth, and found again.
while read -r kind input output description; do
  "$make" "$input" "$kind" || fail "could not make $input"
  run 0 embed "$input" w.wmk "$output"; lacks err "warning"
  run 0 info "$output"; has out "$description"
  run 0 detect "$input" w.wmk "$output"; has out "verdict: found"
done <<'LIST'
grey8 grey8.png m-grey8.png grey, 8 bits per sample
greyalpha8 ga8.png m-ga8.tif TIFF, 160 x 120 pixels, 16 bits per pixel, grey + alpha, 8 bits per sample
rgba8 rgba8.png m-rgba8.webp WebP, 160 x 120 pixels, 32 bits per pixel, RGBA, 8 bits per sample
rgb16 rgb16.png m-rgb16.png 48 bits per pixel, RGB, 16 bits per sample
grey16 grey16.tif m-grey16.tif grey, 16 bits per sample
LIST

# Marked at 16 bits, found in an 8-bit JPEG of the marked picture (16-bit is dropped with a warning).
run 0 embed m-rgb16.png w.wmk copy.jpg; has err "cannot hold 16-bit samples"
rm copy.jpg

# EXIF, ICC and XMP survive marking; --quality same keeps the JPEG's quality, and its
# subsampling is kept unless asked otherwise.
"$make" photo.jpg meta || fail "could not make photo.jpg"
run 0 info photo.jpg; has out "metadata: EXIF ICC XMP; JPEG quality about 75, subsampling 4:4:4"
run 0 embed photo.jpg w.wmk m-photo.jpg --quality same
run 0 info m-photo.jpg; has out "metadata: EXIF ICC XMP; JPEG quality about 75, subsampling 4:4:4"
# The same without the option: embed keeps a JPEG's quality by default.
run 0 embed photo.jpg w.wmk m-default.jpg
run 0 info m-default.jpg; has out "JPEG quality about 75, subsampling 4:4:4"
rm m-default.jpg
grep -qaF "(c) Ana Horvat" m-photo.jpg || fail "the Copyright tag was lost"
run 0 detect photo.jpg w.wmk m-photo.jpg; has out "verdict: found"
run 0 embed photo.jpg w.wmk m-420.jpg --subsampling 420
run 0 info m-420.jpg; has out "subsampling 4:2:0"
run 0 embed photo.jpg w.wmk m-photo.png
run 0 info m-photo.png; has out "metadata: EXIF ICC XMP"
run 0 embed photo.jpg w.wmk m-photo.tif
run 0 info m-photo.tif; has out "metadata: EXIF ICC XMP"
grep -qaF "(c) Ana Horvat" m-photo.tif || fail "the Copyright tag was lost in TIFF"
# A bitmap holds none of it, and the tool says what was dropped.
run 0 embed photo.jpg w.wmk m-photo.bmp; has err "m-photo.bmp: a BMP file cannot hold EXIF, the ICC profile, XMP; dropped"
run 2 embed photo.jpg w.wmk x.jpg --subsampling 411; has err "--subsampling"
# attack carries the metadata as well.
run 0 attack m-photo.jpg attacked.jpg --noise 2 --quality same
run 0 info attacked.jpg; has out "metadata: EXIF ICC XMP; JPEG quality about 75"

# CMYK stays refused, with a reason a user can act on.
"$make" cmyk.jpg cmyk || fail "could not make cmyk.jpg"
run 2 embed cmyk.jpg w.wmk out.png; has err "CMYK"; has err "convert it to RGB"
[ ! -e out.png ] || fail "a refused picture left an output"

# The help says that colour profiles are not applied.
run 0 detect --help; has out "ICC profile is not applied"
echo "PASS [photos]"
