#!/usr/bin/env bash
# Builds zrk-update twice (plain, then with AddressSanitizer and UBSan) and
# runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)
for variant in plain sanitize; do
  dir=build-test-$variant
  sanitize=OFF
  [ "$variant" = sanitize ] && sanitize=ON
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRK_SANITIZE=$sanitize
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $variant build =="
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
done
