#!/usr/bin/env bash
# Times the robustness lab's commands (not a test):
#   - evaluate on a 512x512 picture with N = 1000 and K = 1000 random watermarks;
#   - identify with 1000 watermark files of N = 1000 on a 1-megapixel picture, against
#     identify with one file: the difference is the cost of the other 999 files.
# usage: bench/lab_timing.sh [BUILD_DIR]   (default build; needs pelinor-cli and lab_make_picture)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cli=$build/bin/pelinor-cli
make_picture=$(find "$build" -name lab_make_picture -type f -perm -u+x | head -1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
# wall SECONDS of one run of the command (output discarded)
wall() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}
runs=${RUNS:-5}

"$make_picture" p512.bmp 512 512 1
"$make_picture" p1m.bmp 1000 1000 2
"$cli" generate w.wmk --length 1000 --seed 1 >/dev/null
"$cli" embed p1m.bmp w.wmk marked1m.bmp >/dev/null

echo "evaluate 512x512, N = 1000, K = 1000 (median of $runs):"
for _ in $(seq "$runs"); do wall "$cli" evaluate p512.bmp w.wmk --out report --random 1000; done | median

mkdir -p marks
for i in $(seq 1000); do "$cli" generate "marks/w$i.wmk" --length 1000 --seed "$((i + 1000))" >/dev/null; done
cp w.wmk marks/w0.wmk
echo "identify 1000x1000, 1 file (median of $runs):"
one=$(for _ in $(seq "$runs"); do wall "$cli" identify p1m.bmp marked1m.bmp marks/w0.wmk; done | median)
echo "$one"
echo "identify 1000x1000, 1001 files (median of $runs):"
many=$(for _ in $(seq "$runs"); do wall "$cli" identify p1m.bmp marked1m.bmp marks/*.wmk; done | median)
echo "$many"
awk -v a="$one" -v b="$many" 'BEGIN { printf "cost of the other 1000 files: %.3f s\n", b - a }'
"$cli" identify p1m.bmp marked1m.bmp marks/*.wmk | head -3
