#!/usr/bin/env python3
"""Moves foreign tar archives' member names under the top folder.

  reroot_tar.py OUTDIR TAR...

For each plain (uncompressed) TAR, every ustar header whose name field does
not start with "Z-Ravelkin/" and leaves room for it gets it put in front, with
its checksum redone; data and every other header stay as they are, so the
archive's own quirks reach the reader's later checks. The result is written as
OUTDIR/<name without .tar>-rerooted.tar when at least one header changed.
"""
import os
import sys

TOP = b"Z-Ravelkin/"


def reroot(data):
    data = bytearray(data)
    at, changed = 0, False
    while at + 512 <= len(data) and any(data[at:at + 512]):
        block = data[at:at + 512]
        try:
            size = int(bytes(block[124:136]).strip(b" \0") or b"0", 8)
        except ValueError:
            break
        name = bytes(block[:100]).split(b"\0")[0]
        if block[257:262] == b"ustar" and not name.startswith(TOP) and len(name) <= 100 - len(TOP):
            block[:100] = (TOP + name).ljust(100, b"\0")
            block[148:156] = b" " * 8
            block[148:156] = b"%06o\0 " % sum(block)
            data[at:at + 512] = block
            changed = True
        at += 512 + (size + 511) // 512 * 512
    return bytes(data) if changed else None


def main(argv):
    out_dir, paths = argv[0], argv[1:]
    for path in paths:
        with open(path, "rb") as f:
            rerooted = reroot(f.read())
        if rerooted is not None:
            stem = os.path.basename(path)[:-len(".tar")]
            with open(os.path.join(out_dir, stem + "-rerooted.tar"), "wb") as f:
                f.write(rerooted)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
