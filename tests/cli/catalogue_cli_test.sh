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
mark)
  cp "$source/samples/photos/coffee.jpg" DSC_0412.JPG
  cp "$photo" cat.png
  printf 'Client A\tagency, Zagreb\n# a comment\n\nKlijent Č/ž\n' >rec.txt
  run 0 mark DSC_0412.JPG cat.png --recipients rec.txt --for "Client B" --output-dir copies --jobs 2
  for f in DSC_0412-Client_A.JPG DSC_0412-Client_B.JPG DSC_0412-Klijent_Č_ž.JPG cat-Client_A.png cat-Client_B.png; do
    [ -s "copies/$f" ] || fail "no copies/$f: $(ls copies)"
  done
  has out "copies/cat-Client_B.png: for Client B, PSNR"; has out "verified (similarity 0.9"
  [ "$(mode_of cat.sqlite)" = 600 ] || fail "catalogue mode $(mode_of cat.sqlite)"
  # --alpha is the strongest allowed: a copy too visible at it is marked more gently, and says so.
  run 0 mark cat.png --for Strong --output-dir copies --alpha 0.6
  has out "alpha lowered from 0.6 to"; has out "banding"
  psnr=$(sed -n 's/.*PSNR \([0-9.]*\) dB.*/\1/p' out)
  awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }' || fail "PSNR $psnr below the floor"
  run 0 mark cat.png --for Raw --output-dir copies --alpha 0.6 --min-psnr 0
  lacks out "lowered"; lacks out "banding"
  run 2 mark cat.png --for Raw2 --output-dir copies --min-psnr 5; has err "--min-psnr"
  # The JPEG photo's quality is kept, its metadata too (the copy is a JPEG as large as the photo, roughly).
  [ "$(head -c 3 copies/DSC_0412-Client_A.JPG | od -An -tx1 | tr -d ' ')" = ffd8ff ] || fail "not a JPEG"
  run 0 catalogue list; has out "8 keys"; has out "Klijent Č/ž"
  run 0 catalogue show copies/cat-Client_A.png; has out "/cat.png for Client A"
  run 0 catalogue show "Client A"; has out "recipient: Client A - agency, Zagreb"
  run 0 catalogue check; has out "every file present and unchanged"
  # Marked again: refused, unless --again, which keeps the earlier key and replaces the copy.
  run 2 mark cat.png --for "Client A" --output-dir copies; has err "already marked for Client A on"
  cp copies/cat-Client_A.png before.png
  run 0 mark cat.png --for "Client A" --output-dir copies --again
  cmp -s before.png copies/cat-Client_A.png && fail "--again kept the old copy"
  run 0 catalogue list; has out "9 keys"
  run 0 catalogue check
  # A copy its encoding would wash the key out of is not written, and the earlier one stays.
  cp copies/cat-Client_A.png before.png
  run 2 mark cat.png --for "Client A" --output-dir copies --again --alpha 0.0005 --quality 5 --length 50
  has err "nothing written"
  cmp -s before.png copies/cat-Client_A.png || fail "a failed --again replaced the copy"
  run 0 catalogue list; has out "9 keys"
  # A file in the way that the catalogue does not know is not replaced by surprise.
  echo keep >copies/cat-Dora.png
  run 2 mark cat.png --for Dora --output-dir copies; has err "exists already"
  [ "$(cat copies/cat-Dora.png)" = keep ] || fail "replaced a file in the way"
  # A bad picture is named, the rest is done.
  echo "not a picture" >bad.png
  run 2 mark bad.png cat.png --for Eve --output-dir copies; has err "bad.png"; has err "1 of 2 copies failed"
  [ -s copies/cat-Eve.png ] || fail "the good photo was not marked"
  # Plans that would clash write nothing.
  mkdir other && cp cat.png other/cat.png
  run 2 mark cat.png other/cat.png --for Fay --output-dir copies; has err "is also the output of"
  [ ! -e copies/cat-Fay.png ] || fail "a clashing plan wrote"
  run 2 mark cat.png --for "Fay" --for "Fay!" --output-dir copies; has err "is also the output of"
  run 2 mark cat.png --output-dir copies; has err "no recipient"
  run 2 mark cat.png --for X; has err "--output-dir"
  ;;
interrupted)
  # kill -9 at any moment: every copy written has its record, finished or unfinished, and the
  # tables stay sound; an unfinished one is finished by --again.
  for seed in 1 2 3; do "$make_picture" "p$seed.png" 700 500 "$seed" || fail "make picture"; done
  for delay in 0.2 0.5 0.9 1.4 2.0; do
    "$cli" mark p1.png p2.png p3.png --for A --for B --for C --output-dir copies --again --jobs 2 >/dev/null 2>&1 &
    pid=$!
    sleep "$delay"
    kill -9 "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    # Killed before it made the catalogue (a slow start): then nothing may have been written.
    if [ ! -e cat.sqlite ]; then
      [ -z "$(ls -A copies 2>/dev/null)" ] || fail "copies without a catalogue: $(ls -A copies)"
      echo "after kill -9 at $delay s: no catalogue yet"
      continue
    fi
    run 0 catalogue export --format json
    python3 - "$work/copies" <<'PY' || fail "after kill -9 at $delay s: $(cat out)"
import json, os, sys
d = json.load(open("out"))
recorded = {os.path.basename(k["output"]) for k in d["keys"] if k["output"]}
for f in os.listdir(sys.argv[1]):
    # A writer killed before its rename leaves its hidden temporary; the next write removes it.
    if f.startswith(".") and f.endswith(".tmp"):
        continue
    assert f in recorded, f + " has no record"
PY
    "$cli" catalogue check >out 2>err
    status=$?
    [ "$status" -le 1 ] || fail "check after kill -9 at $delay s exited $status: $(cat out err)"
    lacks out "DAMAGED"; lacks out ": changed"; echo "after kill -9 at $delay s: $(ls copies 2>/dev/null | wc -l) copies, $(grep -c unfinished out) unfinished"
  done
  run 0 mark p1.png p2.png p3.png --for A --for B --for C --output-dir copies --again
  ls -A copies | grep -q '\.tmp$' && fail "temporaries left: $(ls -A copies)"
  run 0 catalogue check; has out "every file present and unchanged"
  ;;
trace)
  # The photographer's job: one camera JPEG for 20 clients, one copy found online.
  cp "$source/samples/photos/coffee.jpg" DSC_0412.JPG
  cp "$source/samples/photos/rocket.jpg" DSC_0500.JPG
  for i in $(seq -w 1 20); do echo "Client $i"; done >rec.txt
  run 0 mark DSC_0412.JPG DSC_0500.JPG --recipients rec.txt --output-dir copies --jobs 2
  # As a social network serves it: cropped 5 %, brightened, made smaller, JPEG 80.
  run 0 attack copies/DSC_0412-Client_07.JPG social.jpg --crop-to 0.95 --tone 1.1,10 --resize 0.75 --social
  mkdir elsewhere && cd elsewhere || fail "cd"
  run 0 trace ../social.jpg
  has out "photo DSC_0412.JPG, marked for Client 07 on $(date -u +%Y-%m-%d): found (similarity 0."
  has out "over 20 keys)"
  [ "$(grep -c ': found' out)" -eq 1 ] || fail "more than one recipient found: $(cat out)"
  run 0 trace ../social.jpg --json
  python3 - <<'PY' || fail "trace JSON: $(cat out)"
import json
d = json.load(open("out"))
assert d["found"] and d["keys_tested"] == 20 and d["originals_searched"] == 2
c = d["candidates"][0]
assert c["original"].endswith("/DSC_0412.JPG") and c["registration"] is not None
found = [k for k in c["keys"] if k["found"]]
assert [k["recipient"] for k in found] == ["Client 07"], found
assert found[0]["family_wise_false_positive_probability"] <= 1e-9
assert found[0]["output"].endswith("/copies/DSC_0412-Client_07.JPG")
PY
  # The evidence report carries the same figures, the hashes and the pictures.
  run 0 trace ../social.jpg --report ev.html --json
  cp out ev.json
  python3 - "$work" <<'PY' || fail "report content"
import base64, html.parser, json, hashlib, sys
work = sys.argv[1]
d = json.load(open("ev.json"))
page = open("ev.html", encoding="utf-8").read()
class Parser(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(); self.images = {}; self.cells = []; self.inside = None; self.text = ""
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "figure": self.figure = a.get("id")
        if tag == "img": self.images[self.figure] = a["src"]
        if tag in ("td", "p"): self.inside = tag; self.text = ""
    def handle_data(self, data):
        if self.inside: self.text += data
    def handle_endtag(self, tag):
        if tag == self.inside: self.cells.append(self.text.strip()); self.inside = None
p = Parser(); p.feed(page)
for name in ("original", "suspect", "registered", "difference"):
    src = p.images[name]
    assert src.startswith("data:image/jpeg;base64,"), name
    assert base64.b64decode(src.split(",", 1)[1])[:3] == b"\xff\xd8\xff", name
c = d["candidates"][0]; k = [k for k in c["keys"] if k["found"]][0]
sha = lambda f: hashlib.sha256(open(f, "rb").read()).hexdigest()
for want in (sha(work + "/social.jpg"), sha(work + "/DSC_0412.JPG"), k["key_sha256"], k["output_sha256"],
             "%.4f" % k["similarity"], "%.3g" % k["false_positive_probability"],
             "%.3g" % k["family_wise_false_positive_probability"], "%.4f" % c["registration"]["scale"], "Client 07"):
    assert want in p.cells, want
assert any("marked for Client 07" in t and "found" in t for t in p.cells)
assert any(d["rule"] in t for t in p.cells)
assert d["command_line"] in page and d["tool_version"] in page and d["date"] in page
PY
  run 2 trace ../social.jpg --report ../social.jpg; has err "social.jpg"
  cd .. || fail "cd"
  # Not in the catalogue: not found, exit 1.
  run 1 trace "$source/samples/photos/astronaut.jpg"; has out "none of the 2 originals in the catalogue resembles it"
  # The original, and a re-export of it: no recipient, and the original itself is named.
  run 1 trace DSC_0412.JPG; has err "is the original"; has out "none of its 20 keys found"
  run 0 attack DSC_0412.JPG reexport.jpg --jpeg 92
  run 1 trace reexport.jpg; has out "none of its 20 keys found"
  # The exact copy written is named as such.
  run 0 trace copies/DSC_0500-Client_03.JPG; has err "byte for byte, the copy written for Client 03"
  has out "photo DSC_0500.JPG, marked for Client 03"
  # An original moved away since it was marked is named, not a crash.
  mv DSC_0412.JPG moved.JPG
  run 1 trace social.jpg; has out "photo DSC_0412.JPG: not tried:"
  run 2 trace nothing.jpg
  run 2 trace social.jpg --catalogue missing.sqlite; [ ! -e missing.sqlite ] || fail "trace created a catalogue"
  ;;
report_browser)
  # The evidence report rendered and printed by a browser, with nothing fetched.
  cp "$source/samples/photos/coffee.jpg" DSC_0412.JPG
  run 0 mark DSC_0412.JPG --for A --for B --output-dir copies
  run 0 attack copies/DSC_0412-B.JPG social.jpg --crop-to 0.9 --social
  run 0 trace social.jpg --report ev.html
  "$source/scripts/evidence_check.sh" ev.html shot
  status=$?
  [ "$status" -eq 77 ] && exit 77
  [ "$status" -eq 0 ] || fail "the evidence report did not render"
  ;;
wrong_original)
  # detect and identify warn when the original given is not the picture the keys were marked into.
  cp "$source/samples/photos/coffee.jpg" photo.jpg
  run 0 generate k.wmk --seed 5
  run 0 embed photo.jpg k.wmk marked.jpg
  run 0 detect photo.jpg k.wmk marked.jpg; lacks err "warning" # no catalogue: nothing said
  run 0 catalogue import photo.jpg k.wmk
  run 0 detect photo.jpg k.wmk marked.jpg; lacks err "warning"
  # detect's evidence report names the key's recipient from the catalogue, with the hashes.
  run 0 detect photo.jpg k.wmk marked.jpg --report det.html
  for want in "k.wmk in marked.jpg: found" "k (k.wmk)" "$(sha256sum k.wmk | cut -d' ' -f1)" \
    "$(sha256sum marked.jpg | cut -d' ' -f1)" "$(sha256sum photo.jpg | cut -d' ' -f1)" 'id="original"' 'id="registered"'; do
    has det.html "$want"
  done
  run 2 detect photo.jpg k.wmk marked.jpg --report k.wmk; has err "k.wmk"
  run 0 attack photo.jpg reexport.jpg --jpeg 85
  for command in "detect reexport.jpg k.wmk marked.jpg" "identify reexport.jpg marked.jpg k.wmk"; do
    # shellcheck disable=SC2086
    "$cli" $command >out 2>err
    has err "reexport.jpg is not the original that was marked"; has err "$work/photo.jpg (SHA-256 $(sha256sum photo.jpg | cut -c1-12)"
  done
  run 0 mark photo.jpg --for Ana --output-dir copies
  "$cli" detect copies/photo-Ana.jpg k.wmk marked.jpg >out 2>err
  has err "is not an original: it is the copy marked for Ana"
  # Another picture, and a damaged catalogue: nothing said, the detection as before.
  run 1 detect "$source/samples/photos/rocket.jpg" k.wmk "$source/samples/photos/rocket.jpg"; lacks err "warning"
  echo damaged >cat.sqlite
  "$cli" detect reexport.jpg k.wmk marked.jpg >out 2>err
  has out "similarity:"; lacks err "warning"
  ;;
concurrent)
  for seed in 1 2 3 4; do "$make_picture" "p$seed.png" 500 400 "$seed" || fail "make picture"; done
  "$cli" mark p1.png p2.png --for A --for B --for C --output-dir copies >one.out 2>one.err &
  first=$!
  "$cli" mark p3.png p4.png --for A --for B --for D --output-dir copies >two.out 2>two.err &
  second=$!
  wait "$first" || fail "first mark failed: $(cat one.err)"
  wait "$second" || fail "second mark failed: $(cat two.err)"
  run 0 catalogue list; has out "4 originals, 4 recipients, 12 keys"
  run 0 catalogue check; has out "every file present and unchanged"
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "ok [$case]"
