#!/usr/bin/env python3
"""Writes a deterministic game update for the benchmarks.

  make_dataset.py game OUT [--pak-mib N]     a realistic update (default 400 MiB pak)
                  [--count-scale F]         with F times the usual file counts
  make_dataset.py small OUT [--files N]      N files of 0-2 KiB (default 100,000)

OUT receives tree/Z-Ravelkin/ (the unpacked update, also used as the installed
old payload), update.tar.gz (gzip level 6) and update.zip (deflate level 6).
The same arguments always give the same bytes. OUT/complete is written last,
so a cut-short run is redone rather than trusted.
"""
import argparse
import gzip
import os
import random
import shutil
import sys
import tarfile
import zipfile

MIB = 1024 * 1024
TOP = "Z-Ravelkin"
# Fixed stamps keep the archives byte-identical from run to run.
EPOCH = 1700000000
ZIP_TIME = (2024, 1, 1, 0, 0, 0)
LEVEL = 6


class Maker:
    def __init__(self, root, seed):
        self.root = root
        self.rng = random.Random(seed)
        # Game-data-like bytes: 16-byte tokens from a small vocabulary, which
        # deflate shrinks to about a third.
        self.tokens = [self.rng.randbytes(16) for _ in range(256)]
        self.words = ["".join(self.rng.choice("abcdefghijklmnopqrstuvwxyz")
                              for _ in range(self.rng.randint(2, 10)))
                      for _ in range(2000)]

    def compressible(self, size):
        count = (size + 15) // 16
        return b"".join(self.rng.choices(self.tokens, k=count))[:size]

    def mixed(self, size, block=MIB):
        """Half random, half compressible, alternating in blocks."""
        out = bytearray()
        flip = False
        while len(out) < size:
            n = min(block, size - len(out))
            out += self.rng.randbytes(n) if flip else self.compressible(n)
            flip = not flip
        return bytes(out)

    def text(self, size):
        words = self.rng.choices(self.words, k=size // 5 + 8)
        lines = [" ".join(words[i:i + 12]) for i in range(0, len(words), 12)]
        return ("\n".join(lines).encode() + b"\n")[:size]

    def write(self, rel, data):
        path = os.path.join(self.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def write_mixed_large(self, rel, size):
        path = os.path.join(self.root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            left = size
            while left:
                n = min(left, 16 * MIB)
                f.write(self.mixed(n))
                left -= n


def make_game(root, pak_mib, scale):
    m = Maker(root, 7)
    fonts, rules, shaders = (max(1, round(n * scale)) for n in (40, 3000, 500))
    exe = max(64 * 1024, round(8 * MIB * min(scale, 1.0)))
    m.write("Z-Ravelkin.exe", b"MZ" + m.mixed(exe - 2, block=64 * 1024))
    m.write("zrk-extract.exe", b"MZ" + m.mixed(700 * 1024, block=64 * 1024))
    m.write("zrk-update.exe", b"MZ" + m.mixed(900 * 1024, block=64 * 1024))
    m.write_mixed_large("zravelkin.pak", pak_mib * MIB)
    m.write("padmappings.txt", m.text(300 * 1024))
    for i in range(fonts):
        m.write(f"typefaces/face{i:02d}.ttf", m.mixed(m.rng.randint(100, 500) * 1024, 16 * 1024))
    kinds = ["units", "terrain", "items", "effects", "ui", "audio", "maps", "quests"]
    for i in range(rules):
        kind = kinds[i * len(kinds) // rules]
        m.write(f"asset-rules/{kind}/set{i // 25 % 15:02d}/rule{i:04d}.txt",
                m.text(m.rng.randint(100, 4000)))
    for i in range(shaders):
        stage = ("vert", "frag", "comp")[i % 3]
        m.write(f"gpu-programs/{stage}/prog{i:03d}.{stage}", m.text(m.rng.randint(1000, 16000)))
    m.write("COPYING", m.text(35 * 1024))
    m.write("ACKNOWLEDGEMENTS.md", m.text(60 * 1024))
    for i in range(20):
        m.write(f"CREDITS/licence{i:02d}.txt", m.text(m.rng.randint(1000, 20000)))


def make_small(root, files):
    m = Maker(root, 11)
    m.write("Z-Ravelkin.exe", b"MZ" + m.compressible(64 * 1024))
    for i in range(files):
        m.write(f"asset-rules/d{i % 100:02d}/e{i // 100 % 10}/r{i:06d}.txt",
                m.text(m.rng.randint(0, 2048)))


def walk(top_parent):
    """Sorted (relative name, is_folder) pairs below and including TOP."""
    out = [(TOP, True)]
    for here, dirs, files in os.walk(os.path.join(top_parent, TOP)):
        dirs.sort()
        rel = os.path.relpath(here, top_parent)
        for d in dirs:
            out.append((f"{rel}/{d}", True))
        for f in sorted(files):
            out.append((f"{rel}/{f}", False))
    # Keep each folder before what it holds, files of a folder together.
    return sorted(out, key=lambda item: item[0].split("/"))


def write_tarball(tree, entries, target):
    with open(target, "wb") as raw, \
         gzip.GzipFile(fileobj=raw, mode="wb", compresslevel=LEVEL, mtime=0) as gz, \
         tarfile.open(fileobj=gz, mode="w|", format=tarfile.USTAR_FORMAT) as tar:
        for rel, is_folder in entries:
            info = tarfile.TarInfo(rel + ("/" if is_folder else ""))
            info.mtime = EPOCH
            info.uname = info.gname = "game"
            if is_folder:
                info.type, info.mode = tarfile.DIRTYPE, 0o755
                tar.addfile(info)
            else:
                path = os.path.join(tree, rel)
                info.size, info.mode = os.path.getsize(path), 0o644
                with open(path, "rb") as f:
                    tar.addfile(info, f)


def write_zip(tree, entries, target):
    with zipfile.ZipFile(target, "w") as z:
        for rel, is_folder in entries:
            info = zipfile.ZipInfo(rel + ("/" if is_folder else ""), ZIP_TIME)
            if is_folder:
                info.external_attr = (0o40755 << 16) | 0x10
                z.writestr(info, b"")
                continue
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            info._compresslevel = LEVEL
            path = os.path.join(tree, rel)
            size = os.path.getsize(path)
            with open(path, "rb") as src, \
                 z.open(info, "w", force_zip64=size > zipfile.ZIP64_LIMIT) as dst:
                shutil.copyfileobj(src, dst, MIB)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("kind", choices=["game", "small"])
    parser.add_argument("out")
    parser.add_argument("--pak-mib", type=int, default=400)
    parser.add_argument("--files", type=int, default=100000)
    parser.add_argument("--count-scale", type=float, default=1.0,
                        help="scales the game's file counts (a quick smoke run)")
    args = parser.parse_args()

    done = os.path.join(args.out, "complete")
    if os.path.exists(done):
        return 0
    tree = os.path.join(args.out, "tree")
    if os.path.exists(tree):
        shutil.rmtree(tree)
    os.makedirs(tree)
    root = os.path.join(tree, TOP)
    if args.kind == "game":
        make_game(root, args.pak_mib, args.count_scale)
    else:
        make_small(root, args.files)
    entries = walk(tree)
    write_tarball(tree, entries, os.path.join(args.out, "update.tar.gz"))
    write_zip(tree, entries, os.path.join(args.out, "update.zip"))
    size = sum(os.path.getsize(os.path.join(tree, rel)) for rel, d in entries if not d)
    files = sum(1 for _, d in entries if not d)
    with open(done, "w") as f:
        f.write(f"{size} {files} {len(entries)}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
