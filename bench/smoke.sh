#!/usr/bin/env bash
# Keeps the benchmark from rotting, in a few seconds: builds the bench
# programs, generates both datasets at a tiny size, runs zrk-update, the floors
# and the swap bench once on them and renders a report from the results.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build-bench-smoke
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZRK_BUILD_TESTS=OFF \
  -DZRK_BUILD_BENCH=ON >/dev/null
cmake --build "$build" >/dev/null
work=$(mktemp -d "$build/smoke.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$repo/bench/make_dataset.py" game "$work/game" --pak-mib 1 --count-scale 0.02
python3 "$repo/bench/make_dataset.py" small "$work/small" --files 100
# Same arguments, same bytes.
python3 "$repo/bench/make_dataset.py" small "$work/again" --files 100
cmp "$work/small/update.tar.gz" "$work/again/update.tar.gz"
cmp "$work/small/update.zip" "$work/again/update.zip"

true &
gone=$!
wait "$gone"
results=$work/results
mkdir "$results"
for set in game small; do
  expected=$(cut -d' ' -f1 "$work/$set/complete")
  for archive in update.tar.gz update.zip; do
    install=$work/install-$set-$archive
    cp -al "$work/$set/tree/Z-Ravelkin" "$install"
    "$build/zrk-update" --install "$install" --archive "$work/$set/$archive" --pid "$gone" \
      --relaunch /bin/true
    grep -q "zrk-update: update applied" "$install/.update/update.log"
    diff -r -x .update "$work/$set/tree/Z-Ravelkin" "$install"
  done
  [ "$("$build/bench/gz_floor" "$work/$set/update.tar.gz")" -gt "$expected" ]
  [ "$("$build/bench/gz_floor" "$work/$set/update.tar.gz" "$work/$set.bin")" -gt "$expected" ]
  [ "$("$build/bench/gz_floor" "$work/$set/update.tar.gz" "$work/$set.bin" --flush)" -gt "$expected" ]
  [ "$("$build/bench/zip_floor" "$work/$set/update.zip")" = "$expected" ]
  mkdir "$work/$set-zip"
  [ "$("$build/bench/zip_floor" "$work/$set/update.zip" "$work/$set-zip")" = "$expected" ]
  diff -r "$work/$set/tree/Z-Ravelkin" "$work/$set-zip/Z-Ravelkin"
done
# zrk-pack makes what the updater applies, the same with any thread count.
for archive in u.tar.gz u.zip; do
  "$build/zrk-pack" create --quiet --jobs 1 "$work/game/tree/Z-Ravelkin" "$work/$archive" >/dev/null
  "$build/zrk-pack" create --quiet --jobs 3 "$work/game/tree/Z-Ravelkin" "$work/again-$archive" \
    >/dev/null
  cmp "$work/$archive" "$work/again-$archive"
  "$build/zrk-pack" check "$work/$archive" | grep -q "the update would apply"
  install=$work/install-pack-$archive
  mkdir "$install"
  "$build/zrk-update" --install "$install" --archive "$work/$archive" --pid "$gone" \
    --relaunch /bin/true
  diff -r -x .update "$work/game/tree/Z-Ravelkin" "$install"
done
"$build/bench/zrk_bench" "$work/game/update.tar.gz" "$work/staging" 1 >/dev/null
mkdir "$work/turns" "$work/trash"
"$repo/bench/alternate.sh" "$results/game-tgz-alternating.json" 1 "$work/game" update.tar.gz \
  "$work/turns" "$work/trash" \
  "zrk-update='$build/zrk-update' --install OUT --archive ARCHIVE --pid $gone --relaunch /bin/true" \
  "tar-xzf-sync=tar -xzf ARCHIVE -C OUT && sync -f OUT" >/dev/null
cp "$work/game/complete" "$results/game-tgz-alternating.size"
"$build/bench/swap_bench" "$work/swap" 50 1 >"$results/swap.txt"
echo "runs=1" >"$results/machine.txt"
python3 "$repo/bench/report.py" "$results" >"$work/report.md"
grep -q "swap of 11 items" "$work/report.md"
grep -q "game-tgz-alternating: zrk-update ≤ 1.00× tar-xzf-sync" "$work/report.md"
echo "bench smoke: ok"
