#!/usr/bin/env bash
# Installs the Debian packages Pelinor needs, only those that are missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-translations-l10n
  libfftw3-dev libpng-dev zlib1g-dev libjpeg62-turbo-dev libtiff-dev libwebp-dev
  libopencv-core-dev libopencv-imgproc-dev libopencv-features2d-dev libopencv-calib3d-dev
  libopencv-video-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth clang clang-format
  python3
)
# Optional extras, e.g. PELINOR_EXTRA_PACKAGES=chromium for the evaluation report's browser
# check (scripts/report_check.sh --install asks for it that way).
if [ "${PELINOR_EXTRA_PACKAGES:-}" != "" ]; then
  # shellcheck disable=SC2206
  packages+=(${PELINOR_EXTRA_PACKAGES})
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
