#!/usr/bin/env bash
# Installs the dependencies, builds zrk-update and runs one real update:
# a sample install folder with an old payload and a save file, an update
# archive made on the spot, a stand-in game process that exits after two
# seconds, and a relaunch program that records where it was started.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZRK_BUILD_TESTS=OFF
cmake --build build -j "$(nproc)"

demo=$(pwd)/demo
rm -rf "$demo"
install="$demo/Z-Ravelkin game"
mkdir -p "$install/saves" "$install/typefaces" "$demo/src/Z-Ravelkin/typefaces"

# The installed game: version 1, plus a save file that no update may touch.
echo "Z-Ravelkin version 1" > "$install/Z-Ravelkin.exe"
echo "data v1" > "$install/zravelkin.pak"
echo "old font" > "$install/typefaces/old.ttf"
echo "slot 1: level 7" > "$install/saves/slot1.sav"

# The update: version 2 of the game, new data and fonts, and one file that is
# not part of the shipped payload.
echo "Z-Ravelkin version 2" > "$demo/src/Z-Ravelkin/Z-Ravelkin.exe"
echo "data v2" > "$demo/src/Z-Ravelkin/zravelkin.pak"
echo "new font" > "$demo/src/Z-Ravelkin/typefaces/new.ttf"
echo "release notes" > "$demo/src/Z-Ravelkin/NOTES.txt"

# The relaunch program records that it ran, where, and which game it found.
cat > "$demo/relaunch.sh" <<'LAUNCH'
#!/bin/sh
echo "relaunched in $(pwd), found: $(cat Z-Ravelkin.exe)" > "$(dirname "$0")/relaunched.txt"
LAUNCH
chmod +x "$demo/relaunch.sh"
tar -C "$demo/src" -czf "$demo/update-2.tar.gz" Z-Ravelkin

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
