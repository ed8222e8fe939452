#!/usr/bin/env python3
"""Writes a gzip-compressed tarball with Python's tarfile module.

  make_tarball.py OUT FORMAT [--tree ROOT] [--file NAME=TEXT]... [--symlink NAME=TARGET]...
                  [--hardlink NAME=TARGET]... [--slashless-folders]

FORMAT is ustar, gnu or pax. --tree adds ROOT/Z-Ravelkin recursively under the
name Z-Ravelkin; the other options add single members with exactly the given
name, in the order given, after the tree. --slashless-folders names folder
members without their trailing "/", as npm's tar-stream does.
"""
import argparse
import io
import os
import tarfile


class SlashlessTarInfo(tarfile.TarInfo):
    """tarfile adds the "/" to a folder's name while it builds the header."""

    def get_info(self):
        info = super().get_info()
        if info["type"] == tarfile.DIRTYPE:
            info["name"] = info["name"].rstrip("/")
        return info

FORMATS = {"ustar": tarfile.USTAR_FORMAT, "gnu": tarfile.GNU_FORMAT, "pax": tarfile.PAX_FORMAT}


def split(entry):
    name, _, value = entry.partition("=")
    return name, value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("format", choices=sorted(FORMATS))
    parser.add_argument("--tree")
    parser.add_argument("--file", action="append", default=[])
    parser.add_argument("--symlink", action="append", default=[])
    parser.add_argument("--hardlink", action="append", default=[])
    parser.add_argument("--slashless-folders", action="store_true")
    args = parser.parse_args()

    tarinfo = SlashlessTarInfo if args.slashless_folders else tarfile.TarInfo
    with tarfile.open(args.out, "w:gz", format=FORMATS[args.format], encoding="utf-8",
                      tarinfo=tarinfo) as tar:
        if args.tree:
            tar.add(os.path.join(args.tree, "Z-Ravelkin"), arcname="Z-Ravelkin")
        for entry in args.file:
            name, text = split(entry)
            data = text.encode("utf-8")
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
        for kind, entries in ((tarfile.SYMTYPE, args.symlink), (tarfile.LNKTYPE, args.hardlink)):
            for entry in entries:
                name, target = split(entry)
                info = tarfile.TarInfo(name)
                info.type = kind
                info.linkname = target
                tar.addfile(info)


if __name__ == "__main__":
    main()
