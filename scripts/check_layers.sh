#!/usr/bin/env bash
# Fails when a file includes a header from a layer above its own. The layers, lowest first:
# base, obrada, image, watermark, lab (the core and the robustness lab); ui, the frm_* windows
# in their subsystem folders, app (the desktop program, which never uses lab); cli on top;
# tools (the screenshot driver) on the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."

# What each kind of file may include, as a pattern on the included path.
allowed_for() {
    case "$1" in
    base/*) echo '^base/' ;;
    obrada/*) echo '^(base|obrada)/' ;;
    */frm_*) echo '^(base|obrada|image|watermark|ui)/|/frm_[a-z_]+\.h$' ;;
    image/*) echo '^(base|obrada|image)/' ;;
    watermark/*) echo '^(base|obrada|image|watermark)/' ;;
    lab/*) echo '^(base|obrada|image|watermark|lab)/' ;;
    ui/*) echo '^(base|obrada|image|watermark|ui)/' ;;
    app/*) echo '^(base|obrada|image|watermark|ui|app)/|/frm_[a-z_]+\.h$' ;;
    cli/*) echo '^(base|obrada|image|watermark|lab|cli)/' ;;
    tools/*) echo '^(base|obrada|image|watermark|ui|app|tools)/|/frm_[a-z_]+\.h$' ;;
    *) echo '' ;;
    esac
}

status=0
while IFS= read -r file; do
    allowed=$(allowed_for "$file")
    [ -z "$allowed" ] && continue
    while IFS= read -r inc; do
        if ! [[ "$inc" =~ $allowed ]]; then
            echo "$file includes \"$inc\" from a higher layer" >&2
            status=1
        fi
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
done < <(git ls-files '*.cpp' '*.h')
[ $status -eq 0 ] && echo "layers: every include points down"
exit $status
