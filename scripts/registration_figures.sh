#!/usr/bin/env bash
# The registration figures of the README (not a test): for the sample photograph and the
# photographs in samples/photos/, N = 1000 and alpha = 0.1, each copy of the registration
# battery tested as it stands and registered (evaluate), the never-embedded watermarks
# against the registered copies, and every photograph tested as the suspect of another.
# usage: scripts/registration_figures.sh [BUILD_DIR]   (needs python3 to read the JSON)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(cd "${1:-$root/build}" && pwd)/bin/pelinor-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

photos=("$root/samples/chelsea.png" "$root/samples/photos/"*)
"$cli" generate w.wmk --length 1000 --alpha 0.1 --seed 2024 >/dev/null
for p in "${photos[@]}"; do
  name=$(basename "${p%.*}")
  "$cli" evaluate "$p" w.wmk --out "$name" --random 100 --min-psnr 0 --json >"$name.json" 2>/dev/null
done

python3 - "${photos[@]}" <<'EOF'
import json, os, sys
names = [os.path.splitext(os.path.basename(p))[0] for p in sys.argv[1:]]
runs = {n: json.load(open(n + ".json")) for n in names}
print("| copy | " + " | ".join(names) + " |")
print("|---|" + "---:|" * len(names))
first = runs[names[0]]
for i, row in enumerate(first["rows"]):
    if row["family"] not in ("geometric", "tone"):
        continue
    cells = []
    for n in names:
        r = runs[n]["rows"][i]
        plain = "–" if r["similarity"] is None else "%.2f" % r["similarity"]
        mark = "" if r["registered_found"] else " ✗"
        cells.append("%s → **%.2f**%s" % (plain, r["registered_similarity"], mark))
    print("| %s | %s |" % (row["attack"], " | ".join(cells)))
print()
for n in names:
    d = runs[n]
    print("%s: %dx%d, marked PSNR %.1f dB; survives %d of %d attacks with registration, %d without; "
          "100 never-embedded watermarks against its %d registered copies: at most %.3f"
          % (n, d["width"], d["height"], d["marked_psnr_db"], d["attacks_survived_registered"], d["attacks"],
             d["attacks_survived"], d["registered_pictures"], d["registered_random_max_similarity"]))
EOF

# Each photograph's marked copy, resized to 0.8, as the suspect of every other original.
echo
for p in "${photos[@]}"; do
  name=$(basename "${p%.*}")
  "$cli" embed "$p" w.wmk "$name-marked.png" --min-psnr 0 >/dev/null
  "$cli" attack "$name-marked.png" "$name-small.png" --resize 0.8 >/dev/null
done
for o in "${photos[@]}"; do
  for s in "${photos[@]}"; do
    [ "$o" = "$s" ] && continue
    sname=$(basename "${s%.*}")
    status=0
    "$cli" detect "$o" w.wmk "$sname-small.png" >out.txt 2>err.txt || status=$?
    case $status in
      1) echo "$(basename "$o") against $sname: not found, $(head -1 out.txt)" ;;
      2) echo "$(basename "$o") against $sname: refused" ;;
      *) echo "$(basename "$o") against $sname: FOUND (exit $status)" ;;
    esac
  done
done
