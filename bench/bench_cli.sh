#!/usr/bin/env bash
# Times whole `pelinor-cli embed` and `detect` runs, file to file, on the sample photograph
# scaled to 512x512, 2048x2048 and 4096x3072 (24-bit BMP), and reports the median wall
# time and the peak resident memory of each.
#   bench/bench_cli.sh [BUILD_DIR] [RUNS]     (defaults: build, 7)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-7}
cli=$build/bin/pelinor-cli
[ -x "$cli" ] || { echo "no $cli: build first (scripts/build.sh)" >&2; exit 2; }
command -v convert >/dev/null || { echo "needs ImageMagick's convert" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package 'time')" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cli" generate "$work/w.wmk" --length 1000 --seed 1 >/dev/null

# median of the numbers on stdin
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# time_runs LABEL PIXELS BUDGET CMD...: runs CMD $runs times; prints median wall ms and peak
# RSS against a budget of BUDGET bytes per pixel plus 8 MB for the program itself. The
# budgets are what buffer reuse reaches at 12 MP: a picture and one plane of doubles for an
# embedding (3 + 8 bytes per pixel), two pictures and one plane for a detection (3 + 3 + 8).
time_runs() {
  local label=$1 pixels=$2 budget=$3; shift 3
  local times=() peak=0 i start end rss status
  for ((i = 0; i < runs; i++)); do
    start=$EPOCHREALTIME
    status=0
    /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null || status=$?
    end=$EPOCHREALTIME
    [ "$status" -le 1 ] || { echo "$label: command failed ($status)" >&2; exit 1; }
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", (b - a) * 1000 }')")
    rss=$(tail -n 1 "$work/rss")
    ((rss > peak)) && peak=$rss
  done
  local med limit
  med=$(printf '%s\n' "${times[@]}" | median)
  limit=$(((budget * pixels + 8 * 1024 * 1024) / 1024))
  printf '%-8s %-10s median %8.1f ms   peak RSS %7d KB (budget %7d KB, %5.1f bytes/pixel)\n' \
    "$label" "$size" "$med" "$peak" "$limit" "$(awk -v r="$peak" -v p="$pixels" 'BEGIN { print r * 1024 / p }')"
}

for size in 512x512 2048x2048 4096x3072; do
  w=${size%x*} h=${size#*x}
  src=$work/photo-$size.bmp
  convert "${PELINOR_BENCH_PHOTO:-samples/chelsea.png}" -resize "${size}!" -type TrueColor "BMP3:$src"
  "$cli" embed "$src" "$work/w.wmk" "$work/marked-$size.bmp" >/dev/null  # warm the page cache
  time_runs embed $((w * h)) 12 "$cli" embed "$src" "$work/w.wmk" "$work/marked-$size.bmp"
  time_runs detect $((w * h)) 16 "$cli" detect "$src" "$work/w.wmk" "$work/marked-$size.bmp"
done
