#!/usr/bin/env bash
# Installs the dependencies, builds zrk-update and zrk-pack and runs one real
# update: a sample install folder with an old payload and a save file, an
# update archive made on the spot from a build folder with zrk-pack create and
# checked with zrk-pack check, a stand-in game process that exits after two
# seconds, and a relaunch program that records where it was started.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRK_BUILD_TESTS=OFF
cmake --build build -j "$(nproc)"

demo=$(pwd)/demo
rm -rf "$demo"
install="$demo/Z-Ravelkin game"
build="$demo/build-2"
mkdir -p "$install/saves" "$install/typefaces" "$build/typefaces"

# The installed game: version 1, plus a save file that no update may touch.
echo "Z-Ravelkin version 1" > "$install/Z-Ravelkin.exe"
echo "data v1" > "$install/zravelkin.pak"
echo "old font" > "$install/typefaces/old.ttf"
echo "slot 1: level 7" > "$install/saves/slot1.sav"

# The build folder of version 2: the game, new data and fonts, a file that is
# not part of the shipped payload, and what a Mac's Finder leaves behind.
echo "Z-Ravelkin version 2" > "$build/Z-Ravelkin.exe"
echo "data v2" > "$build/zravelkin.pak"
echo "new font" > "$build/typefaces/new.ttf"
echo "release notes" > "$build/NOTES.txt"
: > "$build/typefaces/.DS_Store"

# The relaunch program records that it ran, where, and which game it found.
cat > "$demo/relaunch.sh" <<'LAUNCH'
#!/bin/sh
echo "relaunched in $(pwd), found: $(cat Z-Ravelkin.exe)" > "$(dirname "$0")/relaunched.txt"
LAUNCH
chmod +x "$demo/relaunch.sh"

# The publisher's side: the archive made from the build folder, then checked
# with the updater's own code before it goes out.
echo "== zrk-pack create =="
build/zrk-pack create --quiet "$build" "$demo/update-2.tar.gz"
echo "== zrk-pack check =="
build/zrk-pack check "$demo/update-2.tar.gz"

echo "== before =="
(cd "$install" && find . -path ./.update -prune -o -type f -printf '%p: ' -exec cat {} \; | sort)

# The stand-in game is still running when the updater starts.
sleep 2 &
game_pid=$!

set +e
build/zrk-update --install "$install" --archive "$demo/update-2.tar.gz" \
  --pid "$game_pid" --relaunch "$demo/relaunch.sh"
code=$?
set -e
sleep 0.5  # give the relaunched game a moment to write its record

echo "== exit code: $code =="
echo "== .update/update.log =="
cat "$install/.update/update.log"
echo "== .update/applied.ok =="
cat "$install/.update/applied.ok" 2>/dev/null || echo "(none)"
echo "== after =="
(cd "$install" && find . -path ./.update -prune -o -type f -printf '%p: ' -exec cat {} \; | sort)
echo "== relaunched.txt =="
cat "$demo/relaunched.txt" 2>/dev/null || echo "(the game was not started)"
echo "== saves/slot1.sav =="
cat "$install/saves/slot1.sav"
