#!/usr/bin/env bash
# The extraction benchmark, in one go: builds the programs, generates the data
# once into a cache folder, times zrk-update (a whole run on a prepared install
# folder) and zrk-pack check against the zlib and libzip floors and against
# tar, bsdtar and unzip, and zrk-pack create against tar -czf, tar with pigz
# and zip -r, with hyperfine, takes each one's peak RSS with /usr/bin/time -v,
# times the swap on its own, and writes bench/RESULTS.md. zrk-update puts what
# it writes on the device before it exits, so each block also has durable
# floors: the zlib floor with one fsync at the end, and the tools followed by
# `sync -f`.
#
#   bench/run.sh [--data DIR] [--pak-mib N] [--big-pak-mib N] [--small-files N]
#                [--runs N] [--pause SECONDS] [--no-big] [--note TEXT]
#
# DIR (default: ../zrk-benchdata beside the checkout) must be on a real disk,
# not tmpfs. About 10 GB are used while it runs.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
data=${ZRK_BENCH_DATA:-$(dirname "$repo")/zrk-benchdata}
pak_mib=400
big_pak_mib=1900 # with the rest of the game, just under the 2 GiB expansion cap
small_files=100000
runs=5
pause=120
big=1
note=""
while [ $# -gt 0 ]; do
  case $1 in
    --data) data=$2; shift ;;
    --pak-mib) pak_mib=$2; shift ;;
    --big-pak-mib) big_pak_mib=$2; shift ;;
    --small-files) small_files=$2; shift ;;
    --runs) runs=$2; shift ;;
    --pause) pause=$2; shift ;;
    --no-big) big=0 ;;
    --note) note=$2; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

command -v hyperfine >/dev/null || "$repo/tools/install-deps.sh"
for tool in hyperfine bsdtar tar unzip zip pigz /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done

mkdir -p "$data"
data=$(cd "$data" && pwd)
if [ "$(df --output=fstype "$data" | tail -1)" = tmpfs ]; then
  echo "$data is on tmpfs; pick a folder on a real disk with --data" >&2
  exit 1
fi

build=$repo/build-bench
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZRK_BUILD_TESTS=OFF \
  -DZRK_BUILD_BENCH=ON >/dev/null
cmake --build "$build" >/dev/null
updater=$build/zrk-update

echo "== data in $data"
game=$data/game-$pak_mib
small=$data/small-$small_files
python3 "$repo/bench/make_dataset.py" game "$game" --pak-mib "$pak_mib"
python3 "$repo/bench/make_dataset.py" small "$small" --files "$small_files"
if [ "$big" = 1 ]; then
  bigdata=$data/game-$big_pak_mib
  python3 "$repo/bench/make_dataset.py" game "$bigdata" --pak-mib "$big_pak_mib"
fi

work=$data/work
trash=$data/trash
results=$data/results
rm -rf "$results"
mkdir -p "$work" "$trash" "$results"

# A pid that is surely gone: the game has exited before the updater looks.
true &
gone=$!
wait "$gone"

# Old output is renamed into the trash, never deleted just before a run: this
# ext4 has no journal and skips inodes freed in the last minute or so, which
# makes the next extraction several times slower. The trash is emptied
# first, and between blocks when less than 20 GB are free, each time followed by
# a pause; the last run's output stays in it until the next run starts. Each
# run starts after a sync, so no run waits for the write-back of the one before.
empty_trash() {
  local free_kib
  free_kib=$(df --output=avail "$data" | tail -1)
  if [ "${1:-}" = now ] || [ "$free_kib" -lt $((20 * 1024 * 1024)) ]; then
    [ -n "$(ls -A "$trash")" ] || return 0
    rm -rf "$trash"
    mkdir -p "$trash"
    sync # inodes freed with dirty inode tables are avoided for five minutes, not one
    echo "   (pausing ${pause}s after deleting old output)"
    sleep "$pause"
  fi
}
aside() { echo "{ [ ! -e '$1' ] || mv '$1' '$trash/'\$(date +%s%N); }"; }

# One block: every command on one archive. Arguments: label, dataset folder,
# archive file name, then name=command pairs. In a command, OUT is its own
# output folder (a fresh, empty one, or a fresh install folder for zrk-update).
run_block() {
  local label=$1 set=$2 archive=$3
  shift 3
  local args=() names=() name cmd out prep
  for pair in "$@"; do
    name=${pair%%=*}
    cmd=${pair#*=}
    out=$work/$label-$name
    if [ "$name" = zrk-update ]; then
      prep="$(aside "$out") && cp -al '$set/tree/Z-Ravelkin' '$out' && sync"
    else
      prep="$(aside "$out") && mkdir '$out' && sync"
    fi
    cmd=${cmd//ARCHIVE/$set/$archive}
    cmd=${cmd//OUT/$out}
    args+=(--prepare "$prep" --command-name "$name" "$cmd")
    names+=("$name")
    # Peak RSS from one more run of its own (of the first command of an "&&").
    bash -c "$prep"
    /usr/bin/time -v bash -c "exec $cmd" >/dev/null 2>"$results/$label-$name.rss"
  done
  echo "== $label"
  hyperfine --style basic --warmup 1 --runs "$runs" --export-json "$results/$label.json" \
    "${args[@]}"
  for name in "${names[@]}"; do
    [ ! -e "$work/$label-$name" ] || mv "$work/$label-$name" "$trash/$label-$name"
  done
  cp "$set/complete" "$results/$label.size"
  empty_trash
}

zrk="zrk-update='$updater' --install OUT --archive ARCHIVE --pid $gone --relaunch /bin/true"
gzflush="gzread-write-flush='$build/bench/gz_floor' ARCHIVE OUT/all.bin --flush"
# The publisher's check on the same archive; it makes no file, so its OUT
# stays empty.
check="zrk-pack-check='$build/zrk-pack' check ARCHIVE"
empty_trash now
run_block game-tgz "$game" update.tar.gz "$zrk" "$check" \
  "gzread-null='$build/bench/gz_floor' ARCHIVE" \
  "gzread-write='$build/bench/gz_floor' ARCHIVE OUT/all.bin" "$gzflush" \
  "tar-xzf=tar -xzf ARCHIVE -C OUT" \
  "tar-xzf-sync=tar -xzf ARCHIVE -C OUT && sync -f OUT" \
  "bsdtar-xf=bsdtar -xf ARCHIVE -C OUT" \
  "bsdtar-xf-sync=bsdtar -xf ARCHIVE -C OUT && sync -f OUT"
echo "== game-tgz, the durable commands run alternately"
"$repo/bench/alternate.sh" "$results/game-tgz-alternating.json" $((2 * runs)) "$game" \
  update.tar.gz "$work" "$trash" "$zrk" \
  "bsdtar-xf-sync=bsdtar -xf ARCHIVE -C OUT && sync -f OUT" \
  "tar-xzf-sync=tar -xzf ARCHIVE -C OUT && sync -f OUT"
cp "$game/complete" "$results/game-tgz-alternating.size"
empty_trash
run_block game-zip "$game" update.zip "$zrk" "$check" \
  "zip_fread-null='$build/bench/zip_floor' ARCHIVE" \
  "zip_fread-write='$build/bench/zip_floor' ARCHIVE OUT" \
  "zip_fread-write-sync='$build/bench/zip_floor' ARCHIVE OUT && sync -f OUT" \
  "bsdtar-xf=bsdtar -xf ARCHIVE -C OUT" \
  "bsdtar-xf-sync=bsdtar -xf ARCHIVE -C OUT && sync -f OUT" \
  "unzip-q=unzip -q ARCHIVE -d OUT" \
  "unzip-q-sync=unzip -q ARCHIVE -d OUT && sync -f OUT"
run_block small-tgz "$small" update.tar.gz "$zrk" "$check" \
  "gzread-write='$build/bench/gz_floor' ARCHIVE OUT/all.bin" "$gzflush" \
  "tar-xzf=tar -xzf ARCHIVE -C OUT" \
  "tar-xzf-sync=tar -xzf ARCHIVE -C OUT && sync -f OUT" \
  "bsdtar-xf=bsdtar -xf ARCHIVE -C OUT" \
  "bsdtar-xf-sync=bsdtar -xf ARCHIVE -C OUT && sync -f OUT"
run_block small-zip "$small" update.zip "$zrk" "$check" \
  "zip_fread-write='$build/bench/zip_floor' ARCHIVE OUT" \
  "bsdtar-xf=bsdtar -xf ARCHIVE -C OUT" \
  "unzip-q=unzip -q ARCHIVE -d OUT"

# Making the archives: zrk-pack against GNU tar (gzip -6, and pigz on every
# core) and Info-ZIP at the same level. The archive name is only the output.
pack="'$build/zrk-pack' create --quiet"
for set in game small; do
  folder=$data/$set-$([ "$set" = game ] && echo "$pak_mib" || echo "$small_files")
  run_block "$set-pack-tgz" "$folder" complete \
    "zrk-pack-jobs1=$pack --jobs 1 '$folder/tree/Z-Ravelkin' OUT/u.tar.gz" \
    "zrk-pack=$pack '$folder/tree/Z-Ravelkin' OUT/u.tar.gz" \
    "tar-czf=tar -czf OUT/u.tar.gz -C '$folder/tree' Z-Ravelkin" \
    "tar-pigz=tar -I pigz -cf OUT/u.tar.gz -C '$folder/tree' Z-Ravelkin"
  run_block "$set-pack-zip" "$folder" complete \
    "zrk-pack=$pack '$folder/tree/Z-Ravelkin' OUT/u.zip" \
    "zip-r=env -C '$folder/tree' zip -q -r -6 OUT/u.zip Z-Ravelkin"
  # The same tarball commands taking turns: create flushes the archive it
  # wrote, and the runs before it leave the device more or less to do.
  echo "== $set-pack-tgz, taking turns"
  "$repo/bench/alternate.sh" "$results/$set-pack-tgz-alternating.json" $((2 * runs)) "$folder" \
    complete "$work" "$trash" \
    "zrk-pack-jobs1=$pack --jobs 1 '$folder/tree/Z-Ravelkin' OUT/u.tar.gz" \
    "zrk-pack=$pack '$folder/tree/Z-Ravelkin' OUT/u.tar.gz" \
    "tar-czf=tar -czf OUT/u.tar.gz -C '$folder/tree' Z-Ravelkin" \
    "tar-pigz=tar -I pigz -cf OUT/u.tar.gz -C '$folder/tree' Z-Ravelkin"
  cp "$folder/complete" "$results/$set-pack-tgz-alternating.size"
  empty_trash
done

if [ "$big" = 1 ]; then
  echo "== peak RSS with a ${big_pak_mib} MiB pak"
  for archive in update.tar.gz update.zip; do
    out=$work/big-$archive
    cp -al "$bigdata/tree/Z-Ravelkin" "$out"
    /usr/bin/time -v "$updater" --install "$out" --archive "$bigdata/$archive" --pid "$gone" \
      --relaunch /bin/true 2>"$results/big-${archive#update.}.rss"
    mv "$out" "$trash/"
  done
  cp "$bigdata/complete" "$results/big.size"
  empty_trash
fi

echo "== swap"
"$build/bench/swap_bench" "$work/swap" 5000 7 | tee "$results/swap.txt"
mv "$work/swap" "$trash/"
echo "old output stays in $trash until the next run"

{
  echo "cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)"
  echo "cores=$(nproc)"
  echo "memory=$(free -g | awk '/^Mem:/ {print $2 " GiB"}')"
  echo "kernel=$(uname -r)"
  echo "filesystem=$(findmnt -no FSTYPE,OPTIONS -T "$data")"
  echo "zlib=$(pkg-config --modversion zlib)"
  echo "libzip=$(pkg-config --modversion libzip)"
  echo "tar=$(tar --version | head -1)"
  echo "bsdtar=$(bsdtar --version)"
  echo "unzip=$(unzip -v | head -1 | cut -c1-40)"
  echo "zip=$(zip -v | sed -n 2p | cut -c1-40)"
  echo "pigz=$(pigz --version 2>&1)"
  echo "hyperfine=$(hyperfine --version)"
  echo "load=$(cut -d' ' -f1-3 /proc/loadavg)"
  echo "runs=$runs"
  echo "note=$note"
} >"$results/machine.txt"
python3 "$repo/bench/report.py" "$results" >"$repo/bench/RESULTS.md"
echo "wrote bench/RESULTS.md"
