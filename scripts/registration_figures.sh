#!/usr/bin/env bash
# The registration figures of the README (not a test). For the sample photograph and the
# photographs in samples/photos/ (N = 1000, alpha = 0.1): each everyday copy of the marked
# photograph (bench/make_copies) detected as detect does it by default, with its
# similarity, z, false-positive probability and the registration found; 100 never-embedded
# watermarks against every registered copy; each photograph's copy against the other
# originals; and the drift of unmoved and exactly resized copies at alpha 0.1, 0.3 and 1.
# "Found by evidence": a false-positive probability of at most 1e-9.
# usage: scripts/registration_figures.sh [BUILD_DIR]   (needs python3 to read the JSON)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build}" && pwd)/bin
cli=$bin/pelinor-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

photos=("$root/samples/chelsea.png" "$root/samples/photos/"*)
copies=(rot90 rot180 rot270 flip grey keystone border letterbox vignette half narrow)
"$cli" generate w.wmk --length 1000 --alpha 0.1 --seed 2024 >/dev/null
randoms=()
for k in $(seq 1 100); do
  "$cli" generate "r$k.wmk" --length 1000 --seed $((5000 + k)) >/dev/null
  randoms+=("r$k.wmk")
done

for p in "${photos[@]}"; do
  name=$(basename "${p%.*}")
  mkdir "$name"
  "$cli" embed "$p" w.wmk "$name/marked.png" --min-psnr 0 >/dev/null
  "$bin/make_copies" "$name/marked.png" "$name"
  for c in "${copies[@]}"; do
    "$cli" detect "$p" w.wmk "$name/$c.png" --json >"$name/$c.json" 2>"$name/$c.err" || true
    "$cli" identify "$p" "$name/$c.png" "${randoms[@]}" --register always --json >"$name/$c.random.json" \
      2>"$name/$c.random.err" || true
  done
done

# Drift: the marked photograph unmoved and resized exactly, registered whatever the plain answer.
resized=(exact-half exact-third exact-075 exact-150 sized-half)
for alpha in 0.1 0.3 1; do
  "$cli" generate "a$alpha.wmk" --length 1000 --alpha "$alpha" --seed 77 >/dev/null
  for p in "${photos[@]}"; do
    name=$(basename "${p%.*}")
    "$cli" embed "$p" "a$alpha.wmk" "$name/m$alpha.png" --min-psnr 0 >/dev/null
    mkdir -p "$name/d$alpha"
    "$bin/make_copies" "$name/m$alpha.png" "$name/d$alpha"
    "$cli" detect "$p" "a$alpha.wmk" "$name/m$alpha.png" --register always --json >"$name/d$alpha/unmoved.json" || true
    for c in "${resized[@]}"; do
      "$cli" detect "$p" "a$alpha.wmk" "$name/d$alpha/$c.png" --register always --json \
        >"$name/d$alpha/$c.json" || true
    done
  done
done

python3 - "${photos[@]}" <<'PY'
import json, math, os, sys
names = [os.path.splitext(os.path.basename(p))[0] for p in sys.argv[1:]]
copies = ["rot90", "rot180", "rot270", "flip", "grey", "keystone", "border", "letterbox", "vignette", "half", "narrow"]
labels = {"rot90": "rotated 90°", "rot180": "rotated 180°", "rot270": "rotated 270°", "flip": "flipped vertically",
          "grey": "grey, resized 0.7", "keystone": "keystone 3 %", "border": "crop 85 % + black border",
          "letterbox": "letterbox bars (4:5)", "vignette": "vignetting (−33 % at the corners)",
          "half": "halved (linear)", "narrow": "width × 0.9"}

def load(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None

# detect's verdict by evidence (its default rule), and the similarity rule for comparison.
def found(d):
    return d is not None and d["found"]

def above(d):
    return d is not None and d["similarity"] > 0.7

def p_text(d):
    lg = d.get("log10_false_positive_probability")
    if lg is None:
        return "p –"
    return "p 1e%d" % math.floor(lg) if lg < -300 else "p %.0e" % d["false_positive_probability"]

print("| copy | " + " | ".join(names) + " |")
print("|---|" + "---:|" * len(names))
count = similar = total = 0
for c in copies:
    cells = []
    for n in names:
        d = load("%s/%s.json" % (n, c))
        total += 1
        if d is None:
            cells.append("refused")
            continue
        count += found(d)
        similar += above(d)
        cells.append("%s%.2f, z %.0f, %s" % ("" if found(d) else "✗ ", d["similarity"], d["z"], p_text(d)))
    print("| %s | %s |" % (labels[c], " | ".join(cells)))
print()
print("found by evidence (p <= 1e-9): %d of %d copies; similarity above 0.7: %d of %d" % (count, total, similar, total))
print()
print("Registration found (photograph: copy: method, model, orientation, scale_x x scale_y, border, gain, tone, r):")
for n in names:
    for c in copies:
        d = load("%s/%s.json" % (n, c))
        if d is None:
            with open("%s/%s.err" % (n, c)) as f:
                print("  %s: %s: %s" % (n, c, f.read().strip()))
            continue
        r = d["registration"]
        if r is None:
            print("  %s: %s: as it stands" % (n, c))
            continue
        b = r["border"]
        print("  %s: %s: %s, %s, %d°%s, %.3f x %.3f, border %d/%d/%d/%d, gain %s, tone %s, r %.3f"
              % (n, c, r["method"], r["model"], r["orientation"], " mirrored" if r["mirrored"] else "",
                 r["scale_x"], r["scale_y"], b["left"], b["top"], b["right"], b["bottom"], r["gain"], r["tone"],
                 r["image_correlation"]))
print()
worst, fp, fpSimilar, tested = 0.0, 0, 0, 0
for n in names:
    for c in copies:
        d = load("%s/%s.random.json" % (n, c))
        if d is None:
            continue
        for w in d["watermarks"]:
            tested += 1
            worst = max(worst, w["similarity"])
            fp += w["found"] or (w["false_positive_probability"] is not None and w["false_positive_probability"] <= 1e-9)
            fpSimilar += w["similarity"] > 0.7
print("never-embedded watermarks: %d tests against the registered copies, %d found by evidence, "
      "%d with a similarity above 0.7, highest similarity %.3f" % (tested, fp, fpSimilar, worst))
print()
def corners(t, w, h):
    out = []
    for x in (0, w - 1):
        for y in (0, h - 1):
            d = t[6] * x + t[7] * y + t[8]
            out.append(((t[0] * x + t[1] * y + t[2]) / d, (t[3] * x + t[4] * y + t[5]) / d))
    return out
# The true transform of each copy: a factor f maps pixel centres as f (x + 0.5) - 0.5 on both
# axes, whatever the rounding of the sides; a copy resized to given sides stretches the frame.
def truth(kind, d):
    if kind == "unmoved":
        return [1, 0, 0, 0, 1, 0, 0, 0, 1]
    if kind == "sized-half":
        fx = d["suspect"]["width"] / d["original"]["width"]
        fy = d["suspect"]["height"] / d["original"]["height"]
    else:
        fx = fy = {"exact-half": 0.5, "exact-third": 1 / 3, "exact-075": 0.75, "exact-150": 1.5}[kind]
    return [fx, 0, 0.5 * fx - 0.5, 0, fy, 0.5 * fy - 0.5, 0, 0, 1]
kinds = ["unmoved", "exact-half", "exact-third", "exact-075", "exact-150", "sized-half"]
for alpha in ("0.1", "0.3", "1"):
    errors = []
    for n in names:
        for kind in kinds:
            d = load("%s/d%s/%s.json" % (n, alpha, kind))
            if d is None or d["registration"] is None:
                errors.append(float("nan"))
                continue
            w, h = d["original"]["width"], d["original"]["height"]
            got = corners(d["registration"]["transform"], w, h)
            want = corners(truth(kind, d), w, h)
            errors.append(max(math.hypot(a[0] - b[0], a[1] - b[1]) for a, b in zip(got, want)))
    # A copy that could not be registered counts as a failure, not as no error.
    failed = sum(1 for e in errors if math.isnan(e))
    print("drift at alpha %s: %d unmoved and exactly resized copies (factors 1/2, 1/3, 3/4, 3/2 and half the sides), "
          "largest corner error %.3f px, %d not registered"
          % (alpha, len(errors), max([e for e in errors if not math.isnan(e)], default=float("nan")), failed))
PY

# Each photograph's marked copy, resized to 0.8, as the suspect of every other original.
echo
for p in "${photos[@]}"; do
  name=$(basename "${p%.*}")
  "$cli" attack "$name/marked.png" "$name-small.png" --resize 0.8 >/dev/null
done
refused=0 notfound=0 found=0
for o in "${photos[@]}"; do
  for s in "${photos[@]}"; do
    [ "$o" = "$s" ] && continue
    sname=$(basename "${s%.*}")
    status=0
    "$cli" detect "$o" w.wmk "$sname-small.png" --json >out.json 2>/dev/null || status=$?
    case $status in
      1) notfound=$((notfound + 1)) ;;
      2) refused=$((refused + 1)) ;;
      *) found=$((found + 1)); echo "$(basename "$o") against $sname: FOUND" ;;
    esac
  done
done
echo "unrelated originals: $refused refused, $notfound not found, $found found"

# The copies of evaluate's battery (at the file's alpha): similarity as the copy stands and
# with registration, and how many of all the attacks each photograph survives.
echo
for p in "${photos[@]}"; do
  name=$(basename "${p%.*}")
  "$cli" evaluate "$p" w.wmk --out "$name/eval" --random 0 --min-psnr 0 --json >"$name/eval.json" 2>/dev/null
done
python3 - "${photos[@]}" <<'PY'
import json, os, sys
names = [os.path.splitext(os.path.basename(p))[0] for p in sys.argv[1:]]
evals = {n: json.load(open("%s/eval.json" % n)) for n in names}
copies = [r["attack"] for r in evals[names[0]]["rows"] if r["family"] in ("geometric", "tone")]
print("| copy | " + " | ".join(names) + " |")
print("|---|" + "---:|" * len(names))
for c in copies:
    cells = []
    for n in names:
        r = next(r for r in evals[n]["rows"] if r["attack"] == c)
        plain = "–" if r["similarity"] is None else "%.2f" % r["similarity"]
        reg = r["registered_similarity"]
        mark = "" if r["registered_found"] else " ✗"
        cells.append("%s → **%.2f**%s" % (plain, reg, mark))
    print("| %s | %s |" % (c, " | ".join(cells)))
print()
for n in names:
    e = evals[n]
    print("%s: of %d attacks, found by evidence %d with registration (%d without); similarity above 0.7: %d (%d)"
          % (n, e["attacks"], e["attacks_survived_registered"], e["attacks_survived"],
             e["attacks_survived_registered_by_similarity"], e["attacks_survived_by_similarity"]))
PY
