#!/usr/bin/env bash
# The Windows side of the tests: cross-builds zrk-update.exe with its unit
# tests, runs those under Wine through CTest, then runs the same update cases
# through the Linux program and the Windows one and fails on any difference
# in exit code, log lines or disk state (tests/tools/cross_host.py says what
# is normalised), and makes the release bundles of both builds twice over.
# The end-to-end suite of the Linux test binary also runs its scenarios
# against this build.
#
#   tools/test-windows.sh [BUILD_DIR]     (default: build-windows)
#
# Wine needs no display here: the programs open no window.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build-windows}")

tools/build-windows.sh "$out"
export WINEPREFIX=$out/wine

# A program that needs no DLL beyond Windows' own, of the given subsystem,
# with a long-path aware manifest.
check_shipped() {  # EXE SUBSYSTEM
  local exe=$1 name headers dlls dll
  name=$(basename "$exe")
  headers=$(x86_64-w64-mingw32-objdump -p "$exe")
  grep -q "Subsystem.*Windows $2" <<<"$headers" || { echo "$name is not a $2 program" >&2; exit 1; }
  dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
  for dll in $dlls; do
    case $dll in
      advapi32.dll | kernel32.dll | msvcrt.dll | shell32.dll | user32.dll) ;;
      *) echo "$name needs $dll, which Windows does not bring" >&2; exit 1 ;;
    esac
  done
  grep -qaF '>true</longPathAware>' "$exe" || { echo "$name is not long-path aware" >&2; exit 1; }
  echo "$2 subsystem; DLLs: $dlls; long-path aware; $(stat -c %s "$exe") bytes"
}

# The C runtime's path functions refuse the long path form ("\\?\") that
# every path takes, and their folder listing cuts paths at 260 characters, so
# the programs go through Win32 alone. Opening a stream stays (_wfsopen, and
# the libraries' own opens): those reach CreateFileW with the path unchanged.
check_win32_only() {  # EXE [NAME THAT NONE OF OUR CODE CALLS]
  local name crt
  name=$(basename "$1")
  crt=$(x86_64-w64-mingw32-objdump -p "$1" |
    awk '/DLL Name:/ { crt = tolower($3) == "msvcrt.dll"; next } crt && NF >= 3 { print $3 }' |
    grep -Ex '_?w?(stat|findfirst|findnext|mkdir|rmdir|chmod|chdir|fullpath|utime|access|unlink|remove|rename|opendir|readdir)(32|64|i64|32i64|64i32)?' |
    grep -vx "${2:-}" | sort -u | tr '\n' ' ') || true
  [ -z "$crt" ] || { echo "$name imports C runtime path functions: $crt" >&2; exit 1; }
  echo "$name: no C runtime path function besides the stream opens"
}

echo "== what ships: zrk-update.exe =="
# A GUI-subsystem program, run as the invoker, with its version record.
exe=$out/zrk-update.exe
check_shipped "$exe" GUI
check_win32_only "$exe"
for text in 'level="asInvoker"' 'supportedOS Id="{8e0f7a12'; do
  grep -qaF "$text" "$exe" || { echo "the manifest lacks $text" >&2; exit 1; }
done
grep -qaF 'OriginalFilename' < <(tr -d '\0' <"$exe") || { echo "no version record" >&2; exit 1; }

echo "== what ships for publishers: zrk-pack.exe =="
# A console program, static like the updater; build folders deep in a user's
# library can pass MAX_PATH.
exe=$out/zrk-pack.exe
check_shipped "$exe" CUI
# CLI11 builds its file validators at start-up, each calling the narrow
# stat(); zrk-pack uses none of them. Our own code takes wide paths only, so
# the narrow call has no other caller.
check_win32_only "$exe" _stat64

echo "== Windows unit tests under Wine =="
# CTest brings up the prefix's server before the first test and ends it
# after the last.
(cd "$out" && ctest --output-on-failure -j "$(nproc)")

# The same for the Windows programs run below: one server for all of them.
tools/wine-run.sh --up
trap 'tools/wine-run.sh --down' EXIT

# The Linux side of the comparison: the normal build's programs, and the
# stand-in game built for Linux.
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja
cmake --build build --target zrk-update zrk-pack
mkdir -p "$out/linux-tools"
cc -O2 -Wall -Wextra -Wpedantic -o "$out/linux-tools/record_start" tests/tools/record_start.c

echo "== zrk-pack.exe against zrk-pack =="
status=0
# zrk-pack.exe makes the same bytes as zrk-pack, and its check agrees.
pack_work=$out/pack-check
rm -rf "$pack_work"
mkdir -p "$pack_work/build/typefaces/Ünïcødé" "$pack_work/build/asset-rules/empty"
printf 'game' >"$pack_work/build/Z-Ravelkin.exe"
printf 'glyphs' >"$pack_work/build/typefaces/Ünïcødé/字体.ttf"
for archive in u.tar.gz u.zip; do
  build/zrk-pack create --quiet "$pack_work/build" "$pack_work/linux-$archive" >/dev/null
  tools/wine-run.sh "$exe" create --quiet "Z:$pack_work/build" "Z:$pack_work/windows-$archive" \
    </dev/null >/dev/null 2>&1 || status=$?
  cmp "$pack_work/linux-$archive" "$pack_work/windows-$archive" || status=1
  tools/wine-run.sh "$exe" check "Z:$pack_work/linux-$archive" </dev/null >/dev/null 2>&1 ||
    status=$?
done
[ "$status" = 0 ] && echo "same bytes, and its check agrees"

echo "== the same cases on Linux and on Windows =="

python3 tests/tools/cross_host.py \
  --linux build/zrk-update --windows "$out/zrk-update.exe" \
  --linux-game "$out/linux-tools/record_start" --windows-game "$out/record-start.exe" \
  --wine tools/wine-run.sh --work "$out/cross" || status=$?

echo "== the release bundles, made twice =="
# tools/bundle.sh on the two builds tested here: the same bytes twice, sums
# that check, the two programs and the README, and one version in the names,
# in what zrk-pack --version says and in the .exe files' version records.
version=$(build/zrk-pack --version)
version=${version#zrk-pack }
bundles=$out/bundles
rm -rf "$bundles"
for round in 1 2; do
  tools/bundle.sh --reuse build "$out" "$bundles/$round" >/dev/null || status=1
  # Programs built again from the same sources have other times.
  touch -d '+1 hour' build/zrk-update build/zrk-pack "$out/zrk-update.exe" "$out/zrk-pack.exe"
done
for row in "linux-x86_64:zrk-pack zrk-update" "windows-x64:zrk-pack.exe zrk-update.exe"; do
  zip=zrk-update-$version-${row%%:*}.zip
  top=${zip%.zip}
  if [ ! -f "$bundles/1/$zip" ]; then
    echo "no $zip" >&2
    status=1
    continue
  fi
  cmp "$bundles/1/$zip" "$bundles/2/$zip" || status=1
  (cd "$bundles/1" && sha256sum --quiet -c "$zip.sha256") || status=1
  expected="$top/ $top/README.md"
  for program in ${row#*:}; do expected+=" $top/$program"; done
  listing=$(unzip -Z1 "$bundles/1/$zip" | tr '\n' ' ')
  [ "$listing" = "$expected " ] || { echo "$zip holds $listing" >&2; status=1; }
  for program in ${row#*:}; do
    case $program in
      *.exe)
        grep -qaF "ProductVersion$version" < <(unzip -p "$bundles/1/$zip" "$top/$program" | tr -d '\0') ||
          { echo "$program's version record is not $version" >&2; status=1; }
        ;;
    esac
  done
done
[ "$status" = 0 ] && echo "$(cd "$bundles/1" && cat ./*.sha256)"

exit "$status"
