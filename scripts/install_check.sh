#!/usr/bin/env bash
# Installs a build into a temporary prefix, as `cmake --install` does for a user, and
# checks what arrives: every file in its place, the installed pelinor-cli through
# generate -> embed -> detect, `pelinor --version` and `--help` with no display, the desktop
# entry and the AppStream metadata under their validators, both man pages through `man -l`,
# the bash completion; then `cpack -G DEB` and the package's dependencies, contents, compressed
# man pages and description lines, and Debian's lintian on it (no error, no warning).
#
# usage: scripts/install_check.sh [BUILD_DIR]   (default build/, built with the desktop program)
# Installs desktop-file-utils, appstream, man-db and lintian from Debian when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -x "$build/bin/pelinor" ] || { echo "install_check: $build/bin/pelinor not built (scripts/build.sh)" >&2; exit 1; }
PELINOR_EXTRA_PACKAGES="desktop-file-utils appstream man-db lintian" scripts/deps.sh

id=hr.pelinor.Pelinor
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install_check: FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

# Every file where a desktop and the shell look for it.
sizes=(16 22 24 32 48 64 128 256)
expected=(bin/pelinor bin/pelinor-cli
  "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml"
  "share/icons/hicolor/scalable/apps/$id.svg"
  share/man/man1/pelinor.1.gz share/man/man1/pelinor-cli.1.gz
  share/bash-completion/completions/pelinor-cli
  share/doc/pelinor/LICENSE share/doc/pelinor/README.md
  share/doc/pelinor/copyright share/doc/pelinor/changelog.gz)
for size in "${sizes[@]}"; do expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png"); done
for file in "${expected[@]}"; do [ -s "$prefix/$file" ] || fail "$file not installed"; done
for size in "${sizes[@]}"; do
  # The PNG header's width and height (big-endian, bytes 16 to 23) match the folder.
  read -r w h < <(od -An -tu1 -j16 -N8 "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png" |
    awk '{ print $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }')
  [ "$w $h" = "$size $size" ] || fail "the ${size}x${size} icon is $w x $h"
done
installed=$(cd "$prefix" && find . -type f | wc -l)
[ "$installed" -eq "${#expected[@]}" ] || fail "$installed files installed, ${#expected[@]} expected"

# The installed command line, the whole road.
work=$prefix/work
mkdir "$work"
cli=$prefix/bin/pelinor-cli
"$cli" generate "$work/w.wmk" --length 1000 --alpha 0.1 --seed 7 >/dev/null
"$cli" embed samples/chelsea.png "$work/w.wmk" "$work/marked.png" >/dev/null
"$cli" detect samples/chelsea.png "$work/w.wmk" "$work/marked.png" >"$work/detect.txt" ||
  fail "the installed pelinor-cli did not find its watermark: $(cat "$work/detect.txt")"
grep -q "^verdict: found" "$work/detect.txt" || fail "detect said: $(cat "$work/detect.txt")"

# The desktop program answers --version and --help without any display.
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
version=$("${no_display[@]}" "$prefix/bin/pelinor" --version) || fail "pelinor --version failed"
[ "$version" = "Pelinor $(sed -n 's/^project(Pelinor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
  fail "pelinor --version said '$version'"
"${no_display[@]}" "$prefix/bin/pelinor" --help | grep -q -- "--version" || fail "pelinor --help"

# The desktop entry and the metadata, as a desktop and a software centre read them.
desktop-file-validate "$prefix/share/applications/$id.desktop" >"$work/desktop.txt" ||
  fail "desktop-file-validate: $(cat "$work/desktop.txt")"
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop" || fail "the desktop entry names another icon"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$work/appstream.txt" ||
  fail "appstreamcli: $(cat "$work/appstream.txt")"

# Both man pages render, with no complaint from groff.
for page in pelinor pelinor-cli; do
  warnings=$(MANWIDTH=80 man -l --warnings=all "$prefix/share/man/man1/$page.1.gz" 2>&1 >"$work/$page.txt")
  [ -z "$warnings" ] || fail "man -l $page.1.gz: $warnings"
  grep -q "^NAME" "$work/$page.txt" && grep -q "^FILES" "$work/$page.txt" || fail "man -l $page.1.gz rendered no page"
done

# The completion loads in bash and completes the commands.
commands=$(bash -c 'source "$1"; COMP_WORDS=(pelinor-cli ""); COMP_CWORD=1; _pelinor_cli; echo "${COMPREPLY[*]}"' \
  _ "$prefix/share/bash-completion/completions/pelinor-cli")
[[ $commands == *"generate embed detect"* ]] || fail "the completion offers '$commands'"

# The Debian package: found dependencies, the same files under /usr.
rm -f "$build"/pelinor_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.txt" 2>&1) || fail "cpack: $(cat "$work/cpack.txt")"
deb=$(ls "$build"/pelinor_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6gui6 libqt6core6 libfftw3 libpng16 libjpeg62-turbo libc6; do
  [[ $depends == *"$library"* ]] || fail "$deb does not depend on $library: $depends"
done
# The description's continuation lines each begin with one blank, never with a list's ";".
description=$(dpkg-deb -f "$deb" Description)
[ "$(wc -l <<<"$description")" -gt 1 ] || fail "$deb has no long description"
if awk 'length > 80' <<<"$description" | grep -q .; then fail "$deb: description lines over 80 columns"; fi
if grep -n '^[^ ]\|^ *;' <(tail -n +2 <<<"$description") >"$work/description.txt"; then
  fail "$deb: description lines not continued as dpkg expects: $(cat "$work/description.txt")"
fi
contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in "${expected[@]}"; do
  grep -qx "./usr/$file" <<<"$contents" || fail "$deb lacks /usr/$file"
done
! grep -q '/man/.*\.[0-9]$' <<<"$contents" || fail "$deb holds an uncompressed man page"

lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1 || fail "lintian: $(cat "$work/lintian.txt")"

echo "install: ${#expected[@]} files in place; pelinor-cli generate/embed/detect, pelinor --version" \
  "without a display, desktop entry, metadata, man pages and completion check out"
echo "package: $deb, depends on $depends; lintian finds nothing"
