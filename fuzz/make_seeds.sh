#!/usr/bin/env bash
# Fills OUT/<target>/ with seed inputs for every fuzz target: archives written
# by GNU tar, bsdtar, Python's tarfile and zipfile, and Info-ZIP zip, plus the shared
# sample corpus read in place (nothing of it enters the repository).
#   fuzz/make_seeds.sh OUT [CORPUS]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$1
corpus=${2:-$repo/../shared/corpus}
tools=$repo/tests/tools
rm -rf "$out"
mkdir -p "$out"/{member_path,tar_header,tarball,zip,options}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A small tree that exercises long names, a prefix split, UTF-8 and a symlink.
tree=$scratch/tree
top=$tree/Z-Ravelkin
mkdir -p "$top/bin" "$top/data/$(printf 'P%.0s' {1..60})" "$top/données"
echo game >"$top/Z-Ravelkin.exe"
echo tool >"$top/bin/tool.dll"
: >"$top/data/empty.bin"
python3 -c 'import random, sys; random.seed(7); sys.stdout.buffer.write(random.randbytes(1500))' \
  >"$top/data/noise.bin"
echo deep >"$top/data/$(printf 'P%.0s' {1..60})/$(printf 'q%.0s' {1..74}).txt"
echo long >"$top/data/$(printf 'L%.0s' {1..120}).txt"
echo été >"$top/données/été.txt"
ln -s ../Z-Ravelkin.exe "$top/bin/link"
# Fixed times keep the seeds, and so the smoke run, the same on every run.
find "$tree" -exec touch -h -d @1700000000 {} +

raw=$scratch/raw
mkdir -p "$raw"
# pax headers would otherwise carry the process id and access times.
pax=exthdr.name=%d/PaxHeaders/%f,delete=atime,delete=ctime
for format in gnu oldgnu posix ustar v7; do
  options=(--sort=name --format=$format)
  [ $format = posix ] && options+=(--pax-option=$pax)
  (cd "$tree" && tar "${options[@]}" -cf "$raw/gnutar-$format.tar" Z-Ravelkin 2>/dev/null) || true
done
# bsdtar writes its pax headers with other keys, and zips of its own. It reads
# GNU tar's archive rather than the tree, so that no access or change time
# (which touch cannot fix) reaches the seeds.
for format in pax ustar gnutar; do
  bsdtar --format=$format -cf "$raw/bsdtar-$format.tar" "@$raw/gnutar-gnu.tar" 2>/dev/null || true
done
bsdtar --format=zip -cf "$scratch/bsdtar-deflate.zip" "@$raw/gnutar-gnu.tar" 2>/dev/null || true
bsdtar --format=zip --options zip:compression=store -cf "$scratch/bsdtar-stored.zip" \
  "@$raw/gnutar-gnu.tar" 2>/dev/null || true
# To a pipe: padded to whole blocks, with and without Zip64 records.
for zip64 in '' 'zip:zip64'; do
  bsdtar --format=zip ${zip64:+--options $zip64} -cf - "@$raw/gnutar-gnu.tar" 2>/dev/null |
    cat >"$scratch/bsdtar-pipe${zip64:+-zip64}.zip" || true
done
for format in ustar gnu pax; do
  python3 "$tools/make_tarball.py" "$scratch/py-$format.tgz" $format --tree "$tree" \
    --hardlink "Z-Ravelkin/hard=Z-Ravelkin/Z-Ravelkin.exe" 2>/dev/null ||
    python3 "$tools/make_tarball.py" "$scratch/py-$format.tgz" $format \
      --file "Z-Ravelkin/a.txt=a" --symlink "Z-Ravelkin/s=a.txt"
  gzip -dc "$scratch/py-$format.tgz" >"$raw/py-$format.tar"
  rm "$scratch/py-$format.tgz"
done
# -X leaves out the extra fields that would carry access times.
(cd "$tree" && zip -qrX "$scratch/infozip-deflate.zip" Z-Ravelkin &&
  zip -qrX0 "$scratch/infozip-stored.zip" Z-Ravelkin &&
  zip -qrXZ bzip2 "$scratch/infozip-bzip2.zip" Z-Ravelkin &&
  zip -qrXy "$scratch/infozip-symlink.zip" Z-Ravelkin &&
  zip -qrX - Z-Ravelkin/data | cat >"$scratch/infozip-pipe.zip" &&
  zip -qrXfz "$scratch/infozip-zip64.zip" Z-Ravelkin)
# Streamed Zip64 with forged places, from the hostile archives.
python3 - "$tools" "$scratch" <<'PY'
import os, sys
sys.path.insert(0, sys.argv[1])
import make_hostile
for name, make in make_hostile.archives("/nonexistent").items():
    if name.startswith("zip64-"):
        with open(os.path.join(sys.argv[2], "hostile-" + name), "wb") as f:
            f.write(make())
PY
python3 "$tools/make_zip.py" tree "$scratch/pyzip-deflated.zip" "$tree" deflated
python3 "$tools/make_zip.py" members "$scratch/pyzip-short.zip" --declare "Z-Ravelkin/a=9" \
  "Z-Ravelkin/=" "Z-Ravelkin/a=abc" "Z-Ravelkin/d/=xyz"

# The shared corpus: tarballs as they are, zips as they are and with their
# names moved under the top folder, so that they get past the path rules.
if [ -d "$corpus" ]; then
  find "$corpus" -type f ! -name '*.md' -size -1024k -print0 |
    while IFS= read -r -d '' file; do
      rel=${file#"$corpus"/}
      name=${rel//\//-}
      case $file in
        *.tar) cp "$file" "$raw/$name" ;;
        *.tgz | *.gz) cp "$file" "$scratch/$name" ;;
        *) cp "$file" "$scratch/$name" ;;
      esac
    done
  python3 "$tools/make_zip.py" reroot "$scratch/rerooted" "$corpus"/*/*.zip "$corpus"/*/*/*.zip \
    2>/dev/null || true
fi

# Foreign tarballs with their header names moved under the top folder (and
# their checksums redone), so that they get past the path rules.
python3 "$tools/reroot_tar.py" "$raw" "$raw"/*.tar

# Tarball seeds: the first byte tells the harness to compress the rest (bit 0)
# and to redo header checksums (bit 1).
for file in "$raw"/*.tar; do
  { printf '\003'; cat "$file"; } >"$out/tarball/$(basename "$file").seed"
  { printf '\001'; head -c 4096 "$file"; } >"$out/tar_header/$(basename "$file").seed"
done
for file in "$scratch"/*.tgz "$scratch"/*.gz; do
  [ -f "$file" ] || continue
  { printf '\000'; cat "$file"; } >"$out/tarball/$(basename "$file").seed"
done
find "$scratch" -name '*.zip' -o -name '*.notzip' -o -name '*sfx' -o -name 'exe_with_zip' |
  while IFS= read -r file; do cp "$file" "$out/zip/$(basename "$file")"; done

# Member names as the writers stored them, plus the awkward cases.
python3 - "$raw" "$scratch" "$out/member_path" <<'PY'
import glob, hashlib, os, sys, tarfile, zipfile
raw, scratch, out = sys.argv[1:]
names = {b"", b"/Z-Ravelkin/a", b"Z-Ravelkin\\a", b"C:/Z-Ravelkin/a", b"Z-Ravelkin/a\tb",
         b"Z-Ravelkin/", b"Z-Ravelkin///", b"Z-Ravelkin/bin//x", b"Z-Ravelkin/./x",
         b"Z-Ravelkin/../", b"Z-Ravelkin/..x", b"Z-Ravelkin/con.txt", b"Z-Ravelkin/LPT1"}
for path in glob.glob(os.path.join(raw, "*.tar")):
    try:
        with tarfile.open(path, encoding="utf-8", errors="surrogateescape") as tar:
            names.update(m.name.encode("utf-8", "surrogateescape") for m in tar.getmembers())
    except Exception:
        pass
for path in glob.glob(os.path.join(scratch, "**", "*.zip"), recursive=True):
    try:
        with zipfile.ZipFile(path) as archive:
            names.update(n.encode("utf-8", "surrogateescape") for n in archive.namelist())
    except Exception:
        pass
for name in names:
    with open(os.path.join(out, hashlib.sha1(name).hexdigest()), "wb") as f:
        f.write(name)
PY

# Command lines, one argument per NUL-separated piece.
i=0
for line in \
  'zrk-update|--install|C:\Games\ZR|--archive|u.zip|--pid|4242|--relaunch|Z-Ravelkin.exe' \
  'zrk-update|--pid| +12|--pid|-1|--install|d|--archive|a|--relaunch|r' \
  'zrk-update|--pid|99999999999|--install|d|--archive|a|--relaunch|r' \
  'zrk-update|--install' 'zrk-update|--verbose|x' 'zrk-update'; do
  printf '%s' "$line" | tr '|' '\000' >"$out/options/seed-$i"
  i=$((i + 1))
done
for target in "$out"/*; do echo "$(basename "$target"): $(ls "$target" | wc -l) seeds"; done
