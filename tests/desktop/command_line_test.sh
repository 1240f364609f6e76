#!/usr/bin/env bash
# The desktop program answers --help, --version and unknown options with a text, with or
# without a display: never a window, never an abort.
# command_line_test.sh PELINOR
set -uo pipefail
pelinor=$1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

# run DISPLAY-MODE EXPECTED-STATUS ARGUMENTS...
run() {
  local mode=$1 expected=$2
  shift 2
  local status
  if [ "$mode" = none ]; then
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 20 "$pelinor" "$@" >"$out" 2>"$err"
  else
    QT_QPA_PLATFORM=offscreen timeout 20 "$pelinor" "$@" >"$out" 2>"$err"
  fi
  status=$?
  [ "$status" -eq "$expected" ] || fail "$mode: pelinor $* exited $status, not $expected: $(head -c 300 "$err")"
}

for mode in none offscreen; do
  run "$mode" 2 --bogus
  grep -q "bogus" "$err" || fail "$mode: --bogus: the option is not named"
  grep -q -- "--help" "$err" || fail "$mode: --bogus: no usage text"
  [ -s "$out" ] && fail "$mode: --bogus wrote to stdout"
  run "$mode" 2 -platform offscreen --bogus picture.bmp
  grep -q "bogus" "$err" || fail "$mode: -platform offscreen --bogus: the option is not named"
  run "$mode" 0 --help
  grep -q -- "--version" "$out" || fail "$mode: --help does not list --version"
  run "$mode" 0 -style fusion --version
  grep -q "^Pelinor " "$out" || fail "$mode: --version does not name the program"
done

[ "$failures" -eq 0 ] || exit 1
echo "help, version and unknown options answered with and without a display"
