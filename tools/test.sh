#!/usr/bin/env bash
# Runs every test: the Windows build's unit tests under Wine and the
# cross-host comparison, 25 seconds of each fuzz target, a smoke run of the
# benchmark programs, then the test binary in a plain build and in one with
# AddressSanitizer and UBSan, and the fault sweep's single faults in the
# former. The end-to-end scenarios of both run against the Linux program and
# against the Windows one under Wine (ZRK_REQUIRE_WINE turns a missing Windows
# build into a failure instead of a skip, and ZRK_REQUIRE_POWER_CUT a machine
# where no ext4 image can be mounted).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)

configure() {  # DIR SANITIZE
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRK_SANITIZE="$2" >/dev/null
}

# The cross-host comparison takes its Linux programs from the plain build.
configure build-test-plain OFF
ZRK_LINUX_BUILD=build-test-plain tools/test-windows.sh

echo "== fuzz targets: 25 s each =="
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
  configure "$dir" $sanitize
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $variant build =="
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
done

# Hundreds of runs of the updater, each with one failing system call; CTest
# leaves them to this stage.
echo "== fault sweep: each traced call failed once, plain build =="
tools/fault-sweep.sh --ci build-test-plain
