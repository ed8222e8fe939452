#!/usr/bin/env bash
# Extraction benchmark: a few large members and many small ones, as a tarball
# and as a zip. Prints the best of three runs and the peak memory of each.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZRK_BUILD_TESTS=OFF \
  -DZRK_BUILD_BENCH=ON >/dev/null
cmake --build build-bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/src/Z-Ravelkin" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(7)
os.makedirs(os.path.join(root, "typefaces"))
# Large members: game-data-like bytes that compress about 3:1.
words = [bytes(rng.randrange(256) for _ in range(16)) for _ in range(64)]
for i in range(4):
    with open(os.path.join(root, f"pack{i}.pak"), "wb") as f:
        for _ in range(32 * 1024 * 1024 // 16 // 1024):
            f.write(b"".join(rng.choice(words) for _ in range(1024)))
# Many small members.
for i in range(5000):
    d = os.path.join(root, "typefaces", f"d{i % 50}")
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, f"glyph{i}.bin"), "wb") as f:
        f.write(rng.randbytes(rng.randrange(200, 4000)))
open(os.path.join(root, "Z-Ravelkin.exe"), "wb").write(b"MZ" + rng.randbytes(100000))
PY
tar -C "$work/src" -czf "$work/update.tar.gz" Z-Ravelkin
(cd "$work/src" && zip -qr "$work/update.zip" Z-Ravelkin)
ls -l "$work"/update.* | awk '{print $5, $9}'
for archive in "$work/update.tar.gz" "$work/update.zip"; do
  build-bench/zrk_bench "$archive" "$work/staging" 3
done
