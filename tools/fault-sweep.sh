#!/usr/bin/env bash
# Runs the fault sweep: every traced call of a .tar.gz and a .zip update
# failed in turn, each run judged by the disk and the log and followed by an
# unhindered run. The two archives run side by side, one per core.
#
#   tools/fault-sweep.sh [BUILD_DIR]       every call once with each error that
#                                          fits (EIO, EACCES, ENOSPC, EINTR),
#                                          and with EIO from the call on
#                                          (default build folder: build-sweep)
#   tools/fault-sweep.sh --ci BUILD_DIR    every call once with EIO, and the
#                                          flushes and the archive's reads with
#                                          EINTR; what the test command runs
#
# The plain build's program, so that every call it fails is one of the
# program's own and none of a sanitizer's runtime.
set -euo pipefail
cd "$(dirname "$0")/.."
sweep=(env ZRK_FULL_SWEEP=1)
if [ "${1:-}" = --ci ]; then
  sweep=(env -u ZRK_FULL_SWEEP)
  shift
fi
dir=${1:-build-sweep}
tools/install-deps.sh
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$(nproc)"
pids=()
for archive in Tarball Zip; do
  "${sweep[@]}" "$dir/zrk_update_tests" --gtest_brief=1 \
    --gtest_filter="*FaultSweep*/$archive" >"$dir/sweep-$archive.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
cat "$dir/sweep-Tarball.log" "$dir/sweep-Zip.log"
exit $status
