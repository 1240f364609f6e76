#!/usr/bin/env bash
# Installs a Pelinor .deb into a clean Debian 12 (bookworm) made with debootstrap, as a
# user would (`apt-get install ./pelinor_*.deb`, which brings the dependencies from the
# mirror), and runs the programs there: pelinor-cli generate -> embed -> detect,
# `pelinor --version` with no display, and the desktop program on a picture under Xvfb
# (xcb, as on a desktop), photographed to WORKDIR/screen.png.
#
# usage: scripts/deb_check.sh DEB [WORKDIR]   (as root; default WORKDIR /var/tmp/pelinor-deb)
# The pristine system is made once in WORKDIR/base and copied for every check.
# PELINOR_DEBIAN_MIRROR overrides http://deb.debian.org/debian.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] && [ -f "$1" ] || { echo "usage: scripts/deb_check.sh DEB [WORKDIR]" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "deb_check: needs root (debootstrap, chroot)" >&2; exit 1; }
deb=$(realpath "$1")
work=${2:-/var/tmp/pelinor-deb}
mirror=${PELINOR_DEBIAN_MIRROR:-http://deb.debian.org/debian}
command -v debootstrap >/dev/null || PELINOR_EXTRA_PACKAGES=debootstrap scripts/deps.sh

base=$work/base
if [ ! -x "$base/usr/bin/apt-get" ]; then
  rm -rf "$base"
  debootstrap --variant=minbase bookworm "$base" "$mirror" >"$work/debootstrap.log"
fi
root=$work/root
rm -rf "$root"
cp -a "$base" "$root"
mount -t proc proc "$root/proc"
trap 'umount "$root/proc"' EXIT
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" samples/chelsea.png "$root/tmp/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "deb_check: apt-get install ./$(basename "$deb") in a clean bookworm"
in_root apt-get update -qq
in_root sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./$(basename "$deb")" \
  >"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log"; exit 1; }
grep -E '^(Setting up|Unpacking) pelinor' "$work/apt.log" | head -2
in_root dpkg -s pelinor | grep -E '^(Status|Version|Depends|Recommends):'
in_root test -f /usr/share/qt6/translations/qtbase_hr.qm && echo "Qt's Croatian texts: installed (recommended)"

in_root sh -ec '
  cd /tmp
  pelinor-cli generate w.wmk --length 1000 --alpha 0.1 --seed 7
  pelinor-cli embed chelsea.png w.wmk marked.png
  pelinor-cli detect chelsea.png w.wmk marked.png
  echo "pelinor --version (no display): $(pelinor --version)"
  test -f /usr/share/applications/hr.pelinor.Pelinor.desktop
  test -f /usr/share/man/man1/pelinor-cli.1
'

# The desktop program on a real X server: Xvfb and xwd for the photograph.
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xvfb xauth x11-apps' \
  >>"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log"; exit 1; }
in_root sh -c 'cd /tmp && xvfb-run -a -s "-screen 0 1024x700x24" sh -c "
  pelinor chelsea.png marked.png & sleep 4
  xwd -root -silent > screen.xwd
  kill -0 \$! && echo \"pelinor: running, two pictures open\"; kill \$!"'
if command -v convert >/dev/null; then
  convert "$root/tmp/screen.xwd" "$work/screen.png" && echo "deb_check: screenshot in $work/screen.png"
fi
echo "deb_check: the package installs and runs on a clean Debian 12"
