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
# the programs go through Win32 alone. That holds for opening a file too:
# nothing documents that the runtime's opens pass the long form on unchanged,
# so src/fs opens with CreateFileW and hands the handle to the libraries. An
# open may stay imported only where a static library refers to it beside the
# descriptor path that we take, and nothing of ours does: OPEN=REFERRER
# allows it when the link map's cross-reference table names no other
# referrer. Any other NAME is a path function that none of our code calls.
check_win32_only() {  # EXE MAP [NAME | OPEN=REFERRER]...
  local exe=$1 map=$2 name imports found allowance referrers refused=""
  shift 2
  name=$(basename "$exe")
  imports=$(x86_64-w64-mingw32-objdump -p "$exe" |
    awk '/DLL Name:/ { crt = tolower($3) == "msvcrt.dll"; next } crt && NF >= 3 { print $3 }')
  found=$(grep -Ex '_?w?(stat|findfirst|findnext|mkdir|rmdir|chmod|chdir|fullpath|utime|access|unlink|remove|rename|opendir|readdir)(32|64|i64|32i64|64i32)?' <<<"$imports" |
    sort -u) || true
  for allowance; do
    [[ $allowance == *=* ]] || found=$(grep -vx "$allowance" <<<"$found") || true
  done
  [ -z "$found" ] || { echo "$name imports C runtime path functions: $(echo $found)" >&2; exit 1; }
  for open in $(grep -Ex '_?w?(f|s|fs)?open(_s)?|_?w?freopen(_s)?|_?w?creat' <<<"$imports" | sort -u); do
    # The file after a symbol defines it; the ones below it refer to it. The
    # runtime's "_open" is also the symbol "open".
    referrers=$(awk -v name="$open" '
      BEGIN { bare = name; sub(/^_/, "", bare) }
      /^Cross Reference Table/ { on = 1; next }
      !on { next }
      /^[^ \t]/ {
        mine = $1 == name || $1 == "__imp_" name || $1 == bare || $1 == "__imp_" bare
        definer = NF < 2
        next
      }
      mine && definer { definer = 0; next }
      mine { sub(/.*\//, "", $1); print $1 }' "$map" | sort -u)
    local allowed=""
    for allowance; do
      [[ $allowance == "$open="* ]] && allowed+="${allowance#*=}"$'\n'
    done
    if [ -z "$referrers" ] || grep -vxF -f <(printf '%s' "$allowed") <<<"$referrers" >/dev/null; then
      refused+="$open (referred to by: $(echo ${referrers:-nothing in the link map})) "
    fi
  done
  # libstdc++'s file streams hold _wfopen for a wide path: an object of ours
  # that opens a stream so is refused, whatever else refers to _wfopen.
  refused+=$(awk '
    /^Cross Reference Table/ { on = 1; next }
    !on { next }
    /^[^ \t]/ { mine = $0 ~ /(stream|filebuf)/ && $0 ~ /\((wchar_t const\*|std::filesystem::)/; next }
    mine && $1 ~ /\.obj\)?$/ { sub(/.*\//, "", $1); printf "a wide stream open (referred to by: %s) ", $1 }' "$map")
  [ -z "$refused" ] || { echo "$name imports C runtime opens: $refused" >&2; exit 1; }
  echo "$name: no C runtime path function, and no open but the libraries' own unused ones"
}

echo "== files are opened in src/fs alone =="
# The import check below holds the .exe files to Win32 opens; this holds the
# sources to one place for them, on both hosts.
pattern='std::(i|o)?fstream|(^|[^.>_[:alnum:]])(::)?(fopen|_wfopen|_wfsopen|_fsopen|_wopen|_open'
pattern+='|_sopen|_wsopen|freopen|gzopen|gzopen_w|zip_open|fdopen|open)\(.*(O_|"|L"|, *[0-9])'
pattern+='|(^|[^.>_[:alnum:]])(gzopen|gzopen_w|zip_open|_wfopen|fopen)\('
pattern+='|zip_source_(file|filep|win32a|win32w|win32handle)(_create)?\(|CreateFile[AW]?\('
outside=$(grep -rnE "$pattern" src --include='*.cpp' --include='*.h' | grep -v '^src/fs/' |
  grep -v '_test\.cpp:') || true
[ -z "$outside" ] || { echo "files opened outside src/fs:" >&2; echo "$outside" >&2; exit 1; }
echo "none outside src/fs"

echo "== what ships: zrk-update.exe =="
# A GUI-subsystem program, run as the invoker, with its version record.
exe=$out/zrk-update.exe
check_shipped "$exe" GUI
# zlib's gz_open opens a name (_wopen, open) beside the descriptor that
# gzdopen hands it; bzip2's BZ2_bzopen, which libzip's bzip2 method never
# calls, holds fopen.
zlib_bzip2=('_wopen=libz.a(gzlib.o)' '_open=libz.a(gzlib.o)' 'fopen=libbz2.a(bzlib.o)')
check_win32_only "$exe" "$out/zrk-update.map" "${zlib_bzip2[@]}"
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
# the narrow call has no other caller. CLI11 reads a configuration file
# through a narrow std::ifstream, which brings in libstdc++'s file opens
# (fopen through fopen64, and _wfopen beside it); zrk-pack defines no
# configuration option, so none of them is called.
check_win32_only "$exe" "$out/zrk-pack.map" _stat64 "${zlib_bzip2[@]}" \
  'fopen=libmingwex.a(lib64_libmingwex_a-fopen64.o)' '_wfopen=libstdc++.a(basic_file.o)'

echo "== Windows unit tests under Wine =="
# CTest brings up the prefix's server before the first test and ends it
# after the last.
(cd "$out" && ctest --output-on-failure -j "$(nproc)")

# The same for the Windows programs run below: one server for all of them.
tools/wine-run.sh --up
trap 'tools/wine-run.sh --down' EXIT

# The Linux side of the comparison: the programs of the normal build, or of
# the one ZRK_LINUX_BUILD names (the test command's plain build, which then
# needs no second build), and the stand-in game built for Linux.
linux=${ZRK_LINUX_BUILD:-build}
[ -f "$linux/build.ninja" ] || cmake -S . -B "$linux" -G Ninja
cmake --build "$linux" --target zrk-update zrk-pack
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
  "$linux/zrk-pack" create --quiet "$pack_work/build" "$pack_work/linux-$archive" >/dev/null
  tools/wine-run.sh "$exe" create --quiet "Z:$pack_work/build" "Z:$pack_work/windows-$archive" \
    </dev/null >/dev/null 2>&1 || status=$?
  cmp "$pack_work/linux-$archive" "$pack_work/windows-$archive" || status=1
  tools/wine-run.sh "$exe" check "Z:$pack_work/linux-$archive" </dev/null >/dev/null 2>&1 ||
    status=$?
done
[ "$status" = 0 ] && echo "same bytes, and its check agrees"

echo "== the same cases on Linux and on Windows =="

python3 tests/tools/cross_host.py \
  --linux "$linux/zrk-update" --windows "$out/zrk-update.exe" \
  --linux-game "$out/linux-tools/record_start" --windows-game "$out/record-start.exe" \
  --wine tools/wine-run.sh --work "$out/cross" || status=$?

echo "== the release bundles, made twice =="
# tools/bundle.sh on the two builds tested here: the same bytes twice, sums
# that check, the two programs, the README, the licence and the notices, and
# one version in the names, in what zrk-pack --version says and in the .exe
# files' version records.
version=$("$linux/zrk-pack" --version)
version=${version#zrk-pack }
bundles=$out/bundles
rm -rf "$bundles"
for round in 1 2; do
  tools/bundle.sh --reuse "$linux" "$out" "$bundles/$round" >/dev/null || status=1
  # Programs built again from the same sources have other times.
  touch -d '+1 hour' "$linux/zrk-update" "$linux/zrk-pack" "$out/zrk-update.exe" "$out/zrk-pack.exe"
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
  expected="$top/ $top/LICENSE $top/README.md $top/THIRD-PARTY-NOTICES.md"
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
