#!/usr/bin/env python3
"""Zips FOLDER as TOP/... into ZIP, the same bytes for the same files.

    bundle_zip.py FOLDER TOP ZIP

Only names, contents and the execute bit count: every entry is dated
1980-01-01 00:00, entries are sorted bytewise by path with each folder before
its contents, modes are 0755 (folders, programs) or 0644, and no extra fields
(times, owners) are written.
"""
import os
import stat
import sys
import zipfile

kDate = (1980, 1, 1, 0, 0, 0)


def entries(folder):
    """(components, path) of everything below `folder`, components as bytes."""
    found = []
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            found.append((tuple(os.fsencode(relative).split(os.sep.encode())), path))
    return sorted(found)


def info(name, mode):
    entry = zipfile.ZipInfo(name, date_time=kDate)
    entry.create_system = 3  # Unix, so that unzip keeps the modes
    entry.external_attr = mode << 16
    if stat.S_ISDIR(mode):
        entry.external_attr |= 0x10  # the MS-DOS folder flag
    return entry


def main(folder, top, out):
    temporary = out + ".part"
    with zipfile.ZipFile(temporary, "w") as archive:
        archive.writestr(info(top + "/", stat.S_IFDIR | 0o755), b"")
        for components, path in entries(folder):
            name = top + "/" + b"/".join(components).decode("utf-8")
            status = os.lstat(path)
            if stat.S_ISDIR(status.st_mode):
                archive.writestr(info(name + "/", stat.S_IFDIR | 0o755), b"")
            elif stat.S_ISREG(status.st_mode):
                mode = 0o755 if status.st_mode & stat.S_IXUSR else 0o644
                with open(path, "rb") as data:
                    archive.writestr(info(name, stat.S_IFREG | mode), data.read(),
                                     compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
            else:
                sys.exit("bundle_zip.py: %s is neither a file nor a folder" % path)
    os.replace(temporary, out)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip())
    main(*sys.argv[1:])
