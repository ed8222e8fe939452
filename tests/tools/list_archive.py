#!/usr/bin/env python3
"""Prints what extracting each ARCHIVE's top folder should give, as Python's
tarfile or zipfile reads it:

  list_archive.py ARCHIVE...

For each archive, a line "= " followed by its path, then one line per entry
below "Z-Ravelkin/", sorted: "D <path>" for a folder and
"F <path> <size> <crc32>" for a file, the path in hex of its UTF-8 bytes (so
that no byte is lost on the way), the CRC-32 in lower-case hex. Folders that
only hold files are listed too. Links, devices and the like are left out;
when a path comes twice, the later member wins. When Python cannot read the
archive or a member's data, the only line after the path is "! " and why.
"""

import sys
import tarfile
import zipfile
import zlib

TOP = "Z-Ravelkin/"


def tar_entries(path):
    with tarfile.open(path, encoding="utf-8", errors="surrogateescape") as tar:
        for member in tar:
            kind = "D" if member.isdir() else "F" if member.isreg() else None
            data = tar.extractfile(member).read() if kind == "F" else b""
            yield member.name, kind, data


def zip_entries(path):
    with zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            if info.filename.endswith("/"):
                yield info.filename, "D", b""
            else:
                yield info.filename, "F", archive.read(info)


def listing(path):
    entries = zip_entries(path) if zipfile.is_zipfile(path) else tar_entries(path)
    folders, files = set(), {}
    try:
        for name, kind, data in entries:
            if kind is None or not name.startswith(TOP):
                continue
            relative = name[len(TOP):].rstrip("/")
            if not relative:
                continue
            if kind == "D":
                folders.add(relative)
                files.pop(relative, None)
            else:
                files[relative] = data
                folders.discard(relative)
    except Exception as problem:  # the reader's own refusal, whatever its kind
        return ["! " + " ".join(str(problem).split())]
    for relative in list(files) + list(folders):
        parts = relative.split("/")
        folders.update("/".join(parts[:i]) for i in range(1, len(parts)))

    def hex_of(text):
        return text.encode("utf-8", "surrogateescape").hex()

    lines = ["D " + hex_of(f) for f in folders]
    lines += ["F %s %d %08x" % (hex_of(f), len(d), zlib.crc32(d)) for f, d in files.items()]
    return sorted(lines)


def main(argv):
    for path in argv:
        print("= " + path)
        for line in listing(path):
            print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
