#!/usr/bin/env bash
# The catalogue, mark and trace through the built tool: catalogue_cli_test.sh CLI MAKE_PICTURE SOURCE CASE.
set -uo pipefail
cli=$1 make_picture=$2 source=$3 case=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export PELINOR_CATALOGUE=$work/cat.sqlite

fail() { echo "FAIL [$case]: $*" >&2; exit 1; }
run() {
  local want=$1; shift
  "$cli" "$@" >out 2>err
  local got=$?
  [ "$got" -eq "$want" ] || fail "pelinor-cli $* exited $got, expected $want; stdout: $(cat out) stderr: $(cat err)"
}
has() { grep -qF -- "$2" "$1" || fail "$1 lacks '$2': $(cat "$1")"; }
lacks() { ! grep -qF -- "$2" "$1" || fail "$1 has '$2': $(cat "$1")"; }
mode_of() { stat -c %a "$1"; }
photo=$source/samples/chelsea.png

case $case in
catalogue)
  run 2 catalogue list; has err "no catalogue"
  [ ! -e cat.sqlite ] || fail "list created a catalogue"
  run 0 generate ana.wmk --seed 11
  run 0 generate "Client B.wmk" --seed 12
  run 0 catalogue import "$photo" ana.wmk "Client B.wmk"
  has out "ana.wmk: the key of"; has out "2 keys recorded"
  [ "$(mode_of cat.sqlite)" = 600 ] || fail "catalogue mode $(mode_of cat.sqlite)"
  run 0 catalogue import "$photo" ana.wmk; has out "already recorded"; has out "0 keys recorded"
  run 0 catalogue import "$photo" ana.wmk --for "Ana Horvat"; has out "0 keys"
  run 2 catalogue import "$photo" ana.wmk "Client B.wmk" --for X; has err "--for"
  run 0 catalogue list; has out "Client B"; has out "key imported from ana.wmk"; has out "1 originals, 2 recipients, 2 keys"
  # Key material never leaves the catalogue: no watermark value in any listing.
  value=$(sed -n 7p ana.wmk | tr -d '\r')
  for sub in list "list --json" "export" "export --format json" "show $photo" "show ana" check; do
    # shellcheck disable=SC2086
    run 0 catalogue $sub
    lacks out "$value"
  done
  run 0 catalogue export --output all.csv
  [ "$(head -c 10 all.csv)" = "recipient," ] || fail "export CSV header: $(head -1 all.csv)"
  [ "$(wc -l <all.csv)" -eq 3 ] || fail "export CSV rows: $(cat all.csv)"
  run 0 catalogue export --format json
  python3 -c 'import json; d=json.load(open("out")); assert len(d["keys"]) == 2 and d["keys"][0]["state"] == "imported"' \
    || fail "export JSON: $(cat out)"
  run 0 catalogue show "$photo"; has out "sha256: $(sha256sum "$photo" | cut -d' ' -f1)"
  run 2 catalogue show nobody; has err "neither a picture file nor a recipient"
  run 0 catalogue check; has out "tables sound"; has out "every file present"
  cp "$photo" moved.png
  run 0 catalogue import moved.png ana.wmk; has out "already recorded"
  run 0 catalogue remove "Client B"; has out "1 keys"
  run 2 catalogue remove "Client B"; has err "no recipient"
  run 0 catalogue list; lacks out "Client B"
  run 2 catalogue frobnicate; has err "unknown subcommand"
  # Others may read it: a warning, and the work is done.
  chmod 644 cat.sqlite
  run 0 catalogue list; has err "can be read by other users"
  ;;
refusals)
  printf 'name,key\nAna,1\n' >text.sqlite
  : >empty.sqlite
  python3 -c 'import sqlite3; c=sqlite3.connect("foreign.sqlite"); c.execute("create table t(x)"); c.commit()'
  for f in text empty foreign; do
    cp "$f.sqlite" "$f.before"
    run 2 catalogue list --catalogue "$f.sqlite"; has err "it was left as it is"
    run 2 catalogue import "$photo" --catalogue "$f.sqlite" x.wmk
    cmp -s "$f.sqlite" "$f.before" || fail "$f.sqlite was changed"
  done
  run 0 generate k.wmk --seed 3
  run 0 catalogue import "$photo" k.wmk --catalogue good.sqlite
  python3 -c 'import sqlite3; c=sqlite3.connect("good.sqlite"); c.execute("pragma user_version=99"); c.commit()'
  run 2 catalogue list --catalogue good.sqlite; has err "newer Pelinor"
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "ok [$case]"
