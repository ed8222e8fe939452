#!/usr/bin/env bash
# Runs every test: the Windows build against the Linux build under Wine
# (same verdicts, log lines and exit codes), 45 seconds of each of the
# fuzz targets, then the test binary in a plain build and in one with
# AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)

echo "== cross-host check: Linux and Windows under Wine =="
tools/test-win32.sh

echo "== fuzz targets: 45 s each =="
tools/fuzz.sh --ci

for variant in plain sanitize; do
  dir=build-test-$variant
  sanitize=OFF
  [ "$variant" = sanitize ] && sanitize=ON
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRK_SANITIZE=$sanitize
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $variant build =="
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
done
