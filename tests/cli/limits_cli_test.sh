#!/usr/bin/env bash
# The built pelinor-cli at the edges of its resources: limits_cli_test.sh CLI SAMPLE CASE.
#   output  every command that prints reports a stdout it could not write (exit 2)
#   memory  under every address-space limit from "just starts" upwards, a run ends with
#           its result or a clean out-of-memory error, never with an abort or a signal
#   canvas  the kept 38-byte lossless WebP of 16383 x 9000 pixels is read within its memory
#           (about a gigabyte), and short of it refused as out of memory
set -uo pipefail
cli=$1 sample=$2 case=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() { echo "FAIL [$case]: $*" >&2; exit 1; }
"$cli" generate w.wmk --length 1000 --seed 1 >/dev/null || fail "generate"
"$cli" generate other.wmk --length 1000 --seed 2 >/dev/null || fail "generate"

case $case in
output)
  "$cli" embed "$sample" w.wmk marked.png >/dev/null || fail "embed"
  # A full device takes nothing: what would have been printed is lost, and the status says so.
  while IFS= read -r line; do
    read -r -a args <<<"$line"
    "$cli" "${args[@]}" >/dev/full 2>err
    got=$?
    [ "$got" -eq 2 ] || fail "pelinor-cli $line > /dev/full exited $got, expected 2"
    grep -qF "cannot write to standard output" err || fail "pelinor-cli $line > /dev/full: stderr $(cat err)"
  done <<EOF2
detect $sample w.wmk marked.png --json
detect $sample w.wmk marked.png
detect $sample other.wmk marked.png
identify $sample marked.png w.wmk other.wmk --json
info $sample
info --json $sample
generate new.wmk --length 20
--version
--help
embed --help
EOF2
  # More than a buffer's worth fails on the way, before the end.
  names=()
  for _ in $(seq 300); do names+=("$sample"); done
  "$cli" info "${names[@]}" >/dev/full 2>err
  [ $? -eq 2 ] || fail "a long info > /dev/full did not exit 2"
  # A pipe that works still gets everything.
  "$cli" info "$sample" | grep -q "can be watermarked\|24 bits" || fail "info through a pipe"
  ;;
memory)
  # A picture wide enough that its transforms need real memory: 1204 x 801.
  "$cli" attack "$sample" big.png --resize 2.67 >/dev/null 2>&1 || fail "attack --resize"
  "$cli" embed big.png w.wmk marked.png >/dev/null || fail "embed"
  # The smallest limit (KiB) under which the tool starts at all: shared libraries take most.
  low=1000 high=4000000
  (ulimit -v $high; "$cli" --version >/dev/null 2>&1) || fail "does not start under ${high} KiB"
  while [ $((high - low)) -gt 500 ]; do
    mid=$(((low + high) / 2))
    if (ulimit -v $mid; "$cli" --version >/dev/null 2>&1); then high=$mid; else low=$mid; fi
  done
  echo "starts under ${high} KiB"
  succeeded=0 refused=0
  for command in "embed big.png w.wmk out.png" "detect big.png w.wmk marked.png"; do
    read -r -a args <<<"$command"
    for extra in $(seq 0 500 50000); do
      limit=$((high + extra))
      (ulimit -v $limit; exec "$cli" "${args[@]}") >out 2>err
      got=$?
      case $got in
      0) succeeded=$((succeeded + 1)) ;;
      2)
        grep -q "Out of memory" err || fail "$command under $limit KiB: exit 2 without 'Out of memory': $(cat err)"
        refused=$((refused + 1))
        ;;
      *) fail "$command under $limit KiB exited $got: $(head -c 300 err)" ;;
      esac
    done
  done
  echo "$refused runs refused cleanly, $succeeded succeeded"
  [ "$succeeded" -gt 0 ] || fail "no run succeeded: the sweep never reached enough memory"
  [ "$refused" -gt 0 ] || fail "no run was short of memory: the sweep tested nothing"
  ;;
canvas)
  # Every pixel of it costs no bit; libwebp's own rows (4 bytes a pixel) and its 3-byte
  # output, then ours, peak near 1 GB. Address space is what ulimit can bound: 1300 MB holds
  # the tool and that peak, 600 MB does not.
  canvas=$(dirname "$0")/../data/hostile/webp_38_bytes_lossless_16383x9000.webp
  (ulimit -v 1331200; exec "$cli" info "$canvas") >out 2>err
  got=$?
  [ "$got" -eq 0 ] || fail "info on the 38-byte canvas within 1300 MB exited $got: $(head -c 300 err)"
  grep -q "WebP, 16383 x 9000 pixels" out || fail "info on the 38-byte canvas: $(cat out)"
  (ulimit -v 614400; exec "$cli" info "$canvas") >out 2>err
  got=$?
  [ "$got" -eq 2 ] || fail "info on the 38-byte canvas within 600 MB exited $got: $(head -c 300 err)"
  grep -q "Out of memory decoding a WebP picture of 16383 x 9000 pixels" err \
    || fail "within 600 MB, not named as out of memory: $(cat err)"
  ;;
*) fail "unknown case" ;;
esac
echo "ok [$case]"
