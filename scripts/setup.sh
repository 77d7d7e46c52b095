#!/usr/bin/env bash
# Installs every Debian package the project needs; does nothing when all are present.
set -euo pipefail

packages=(
  # build tools
  cmake ninja-build g++ ccache pkg-config clang clang-format libclang-rt-14-dev
  # test and benchmark frameworks
  libgtest-dev libgmock-dev libbenchmark-dev
  # reference pipeline of the development-chain benchmark only; the program never links it
  libvips-dev
  # libraries the program calls
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libtiff-dev liblcms2-dev
  libsdl2-dev libfreetype-dev libfontconfig-dev libusb-1.0-0-dev
  # window tests
  xvfb xauth
  # fonts the text tests pin: a Latin face and a small Japanese and Korean fallback
  fonts-dejavu-core fonts-wqy-microhei
  # independent readers that tests run on our output files
  libjpeg-turbo-progs libtiff-tools libimage-exiftool-perl liblcms2-utils libxml2-utils
  # checks the desktop entries the installer writes
  desktop-file-utils
  # public-domain and CC0 photographs the sample folder's raw files are made from
  python3-skimage
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
