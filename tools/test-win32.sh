#!/usr/bin/env bash
# Builds zrk-update for Linux and for Windows, then runs the same update cases
# through both (the Windows one under Wine) and fails on any difference in
# exit code, log lines or disk state (tests/tools/cross_host.py says what is
# normalised).
#
#   tools/test-win32.sh [BUILD_DIR]     (default: build-win32)
#
# Wine needs no display here: the program and the stand-in game are GUI-
# subsystem programs that open no window.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build-win32}")

tools/build-win32.sh "$out"

# The Linux side: the normal build's program.
tools/install-deps.sh
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja
cmake --build build --target zrk-update

# The stand-in game, once per host.
mkdir -p "$out/tools"
x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -Wpedantic -municode -mwindows -static \
  -o "$out/tools/record_start.exe" tests/tools/record_start.c
cc -O2 -Wall -Wextra -Wpedantic -o "$out/tools/record_start" tests/tools/record_start.c

# A private Wine prefix, made once; no Mono or Gecko prompts.
export WINEPREFIX=$out/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i
  wineserver -w
fi

status=0
python3 tests/tools/cross_host.py \
  --linux build/zrk-update --windows "$out/zrk/zrk-update.exe" \
  --linux-game "$out/tools/record_start" --windows-game "$out/tools/record_start.exe" \
  --work "$out/cross" || status=$?
# Let this prefix's wineserver finish before we return.
wineserver -w
exit "$status"
