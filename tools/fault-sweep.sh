#!/usr/bin/env bash
# Runs the whole fault sweep: every traced call of a .tar.gz and a .zip update
# failed once with each error that fits (EIO, EACCES, ENOSPC, EINTR) and with
# EIO from the call on, each run judged by the disk and the log and followed
# by an unhindered run. The test command runs its single-fault part after CTest.
#
#   tools/fault-sweep.sh [BUILD_DIR]     (default: build-sweep)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-sweep}
tools/install-deps.sh
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$dir" -j "$(nproc)"
ZRK_FULL_SWEEP=1 "$dir/zrk_update_tests" --gtest_filter='*FaultSweep*'
