#!/usr/bin/env bash
# Installs what building and testing zrk-update needs on Debian 12 (as root):
# the Linux build, its tests and fuzz targets, and the Windows cross-build
# with Wine. One `apt-get update`, after the deb-src entries from which the
# Windows build fetches bzip2 and libzip.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(
  cmake ninja-build g++ pkg-config
  zlib1g-dev libzip-dev libbz2-dev libgtest-dev libcli11-dev
  python3 zip unzip tar gzip pigz libarchive-tools e2fsprogs hyperfine time unicode-data golang-go
  strace
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 dpkg-dev xz-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Checked package by package, so a fresh machine gets everything and a ready
# one is not updated again by each script that calls this.
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  tools/deb-src.sh
  apt-get update
  apt-get install -y --no-install-recommends "${packages[@]}"
fi
