#!/usr/bin/env bash
# Runs every test: the Windows build's unit tests under Wine and the
# cross-host comparison, 45 seconds of each fuzz target, a smoke run of the
# benchmark programs, then the test binary in a plain build and in one with
# AddressSanitizer and UBSan. The end-to-end scenarios of both run against
# the Linux program and against the Windows one under Wine (ZRK_REQUIRE_WINE
# turns a missing Windows build into a failure instead of a skip, and
# ZRK_REQUIRE_POWER_CUT a machine where no ext4 image can be mounted).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)

tools/test-windows.sh

echo "== fuzz targets: 45 s each =="
tools/fuzz.sh --ci

echo "== benchmark programs and data generator: smoke run =="
bench/smoke.sh

export ZRK_REQUIRE_WINE=1 ZRK_REQUIRE_POWER_CUT=1 WINEPREFIX=$PWD/build-windows/wine
# One Wine server for every Windows program the two builds' tests run.
tools/wine-run.sh --up
trap 'tools/wine-run.sh --down' EXIT
for variant in plain sanitize; do
  dir=build-test-$variant
  sanitize=OFF
  [ "$variant" = sanitize ] && sanitize=ON
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRK_SANITIZE=$sanitize
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $variant build =="
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
done
