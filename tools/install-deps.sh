#!/usr/bin/env bash
# Installs what building and testing zrk-update needs on Debian 12 (as root).
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  zlib1g-dev libzip-dev libbz2-dev libgtest-dev
  python3 zip unzip tar gzip libarchive-tools e2fsprogs
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${CI:-}" = "true" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${packages[@]}"
fi
