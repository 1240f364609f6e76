#!/usr/bin/env bash
# Renders the icon's PNG sizes from its SVG (data/icons/hicolor/scalable/apps/), for the
# menus and panels that do not draw SVG. Run after changing the SVG and commit the PNGs.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v rsvg-convert >/dev/null || PELINOR_EXTRA_PACKAGES=librsvg2-bin scripts/deps.sh
icons=data/icons/hicolor
svg=$icons/scalable/apps/hr.pelinor.Pelinor.svg
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$icons/${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" "$svg" -o "$icons/${size}x${size}/apps/hr.pelinor.Pelinor.png"
done
echo "icons: $(find "$icons" -name '*.png' | wc -l) PNG sizes from $svg"
