#!/usr/bin/env bash
# Makes the release bundles (as root on Debian 12): for each host a zip of
# zrk-update, zrk-pack, the README, LICENSE and THIRD-PARTY-NOTICES.md, and the
# zip's SHA-256 beside it,
#
#   OUT_DIR/zrk-update-<version>-linux-x86_64.zip, .zip.sha256
#   OUT_DIR/zrk-update-<version>-windows-x64.zip, .zip.sha256 (the two .exe files)
#
# with the version of CMakeLists.txt. Both programs are built as the tests
# build them (RelWithDebInfo, stripped), in build-bundle/; the Windows build
# reuses the libraries in build-windows/deps. The zips have fixed times and
# sorted entries, so the same sources give the same bytes.
#
#   tools/bundle.sh [OUT_DIR]                                (default: dist)
#   tools/bundle.sh --reuse LINUX_BUILD WINDOWS_BUILD [OUT_DIR]
#
# --reuse packs what two existing build folders hold, building nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --reuse ]; then
  [ $# -ge 3 ] || { echo "usage: tools/bundle.sh --reuse LINUX_BUILD WINDOWS_BUILD [OUT_DIR]" >&2; exit 2; }
  builds=("$(realpath "$2")" "$(realpath "$3")")
  shift 3
else
  tools/install-deps.sh
  builds=("$PWD/build-bundle/linux" "$PWD/build-bundle/windows")
  # The build id that stays in a stripped program is a hash taken with the
  # debug information, so the checkout's path is kept out of that.
  cmake -S . -B "${builds[0]}" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRK_BUILD_TESTS=OFF \
    -DCMAKE_C_FLAGS="-ffile-prefix-map=$PWD/=" -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$PWD/="
  cmake --build "${builds[0]}" -j "$(nproc)"
  ZRK_WINDOWS_DEPS=$PWD/build-windows/deps tools/build-windows.sh "${builds[1]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRK_BUILD_TESTS=OFF
fi
out=$(realpath -m "${1:-dist}")
mkdir -p "$out"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for build in "${builds[@]}"; do
  # CPack installs the build into a staging folder of its own and zips it
  # with cmake/bundle_package.cmake.
  cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" ||
    { cat "$work/cpack.log" >&2; exit 1; }
  cat "$work"/packages/*.zip.sha256
  mv "$work"/packages/*.zip "$work"/packages/*.zip.sha256 "$out/"
  rm -rf "$work/packages"
done
