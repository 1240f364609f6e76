#!/usr/bin/env bash
# Photographs the desktop program under Xvfb: opens a sample image, embeds a
# watermark and saves the main window with both image windows as a PNG, then the
# generation, test and about dialogs, the test dialog's answers (found, not found, not a
# copy, a missing file) and the main window after opening six pictures.
#   scripts/screenshot.sh [OUTPUT_DIR [IMAGE.bmp]]     (default build/screenshots)
# The program is driven by build/bin/pelinor-demo (tools/), its own windows run by a script.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
image=${2:-}
bin=build/bin/pelinor-demo
[ -x "$bin" ] || { scripts/deps.sh && scripts/build.sh; }
for tool in xvfb-run import convert awk; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing" >&2; exit 1; }
done
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -z "$image" ]; then
  # ImageMagick's built-in sample photograph, enlarged, as a 24-bit BMP.
  image=$work/sample.bmp
  convert rose: -resize 300% -type TrueColor BMP3:"$image"
fi
image=$(cd "$(dirname "$image")" && pwd)/$(basename "$image")

# A watermark file of 100 normal values (alpha 0.3), CRLF lines, as the program writes it.
awk 'BEGIN { srand(20021); printf "\"CXSG\"\r\n100\r\n0.3\r\n0\r\n1\r\n";
  for (i = 0; i < 100; i++) { u = 1 - rand(); v = rand();
    printf "%.15g\r\n", sqrt(-2 * log(u)) * cos(6.283185307179586 * v) } }' > "$work/sample.wmk"

# One run of the program: waits until it reports that its commands are done,
# gives it a moment to paint, photographs the screen and stops the program.
shoot() {
  local name=$1; shift
  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" bash -c '
    log=$1; png=$2; shift 2
    "$@" >"$log" 2>&1 &
    pid=$!
    for _ in $(seq 1 600); do
      grep -q "demo: ready" "$log" && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    sleep 1.5
    import -window root "$png"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  ' shoot "$work/$name.log" "$out/$name.png" "$@"
  sed 's/^/  /' "$work/$name.log"
  echo "wrote $out/$name.png"
}

shoot main-window "$bin" --open="$image" --embed="$work/sample.wmk"
shoot dialog-generation "$bin" --dialog=gen
shoot dialog-test "$bin" --dialog=test
shoot dialog-about "$bin" --dialog=about

# The test dialog's answers: the marked copy, an unmarked one, another picture that is no
# copy of the original, a file that is not there.
build/bin/pelinor-cli embed "$image" "$work/sample.wmk" "$work/marked.png" >/dev/null
convert -size 180x140 -seed 3 plasma: -type TrueColor BMP3:"$work/other.bmp"
shoot test-found "$bin" --test="$image|$work/sample.wmk|$work/marked.png"
shoot test-not-found "$bin" --test="$image|$work/sample.wmk|$image"
shoot test-not-a-copy "$bin" --test="$image|$work/sample.wmk|$work/other.bmp"
shoot test-missing-file "$bin" --test="$image|$work/sample.wmk|$work/nema.png"
# Six windows in a row, as from the command line.
shoot six-windows "$bin" --open="$image|$image|$image|$image|$image|$image"
