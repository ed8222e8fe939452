#!/usr/bin/env python3
"""Builds zip archives for the zip reader's tests.

  make_zip.py tree OUT ROOT METHOD
      Every folder and file below ROOT, named relative to ROOT (folders with a
      trailing "/"), in sorted order. METHOD: stored, deflated or bzip2.

  make_zip.py members OUT [--method M] [--made-by HOST:MODE] [--declare NAME=SIZE]
                      [--bad-crc NAME] [--raw-name NAME=HEX] NAME=CONTENT ...
      One member per NAME=CONTENT, in the given order; CONTENT is text and a
      name ending in "/" with content is a folder entry that carries bytes.
      --method applies to the members after it (stored at first; also lzma),
      and so does --made-by: the "made by" host (unix or fat) and the octal
      mode in the high half of the external attributes (none at first).
      --declare sets NAME's uncompressed size to SIZE in both its local and
      central header; --bad-crc flips NAME's CRC-32 in both. Patching both
      keeps the archive consistent for a reader that compares the two.
      --raw-name puts the bytes HEX (as long as NAME) in place of NAME in
      both headers and flags the name as UTF-8, whatever the bytes are.

  make_zip.py reroot OUTDIR ZIP ...
      Copies each ZIP into OUTDIR as FOLDER-NAME (FOLDER being the one that
      holds it) with "Z-Ravelkin/" put in front of every member name; data,
      extra fields and data descriptors are copied as they are, so foreign
      archives get past the top-folder rule. A zip this cannot take apart
      (one needing Zip64 end records, say) is left out and named on standard
      error.

  Several of these may follow each other, separated by "--then", so that a
  test makes all its zips with one start of Python.
"""

import os
import struct
import sys
import zipfile

METHODS = {
    "stored": zipfile.ZIP_STORED,
    "deflated": zipfile.ZIP_DEFLATED,
    "bzip2": zipfile.ZIP_BZIP2,
    "lzma": zipfile.ZIP_LZMA,
}

LOCAL_SIG = b"PK\x03\x04"
CENTRAL_SIG = b"PK\x01\x02"


def make_tree(out, root, method):
    with zipfile.ZipFile(out, "w", METHODS[method]) as archive:
        for folder, dirs, files in os.walk(root):
            dirs.sort()
            rel = os.path.relpath(folder, root)
            if rel != ".":
                archive.write(folder, rel + "/")
            for name in sorted(files):
                archive.write(os.path.join(folder, name), os.path.join(rel, name))


def central_entries(data):
    """Offsets of every central header, by the name it holds."""
    eocd = data.rfind(b"PK\x05\x06")
    count, _, cd_offset = struct.unpack_from("<HII", data, eocd + 10)
    entries = {}
    pos = cd_offset
    for _ in range(count):
        assert data[pos:pos + 4] == CENTRAL_SIG
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, pos + 28)
        name = data[pos + 46:pos + 46 + name_len].decode("utf-8", "surrogateescape")
        (local,) = struct.unpack_from("<I", data, pos + 42)
        entries[name] = (pos, local)
        pos += 46 + name_len + extra_len + comment_len
    return entries


def patch_field(data, name, central_field, local_field, change):
    central, local = central_entries(data)[name]
    assert data[local:local + 4] == LOCAL_SIG
    for offset in (central + central_field, local + local_field):
        (value,) = struct.unpack_from("<I", data, offset)
        struct.pack_into("<I", data, offset, change(value))


def rename_raw(data, name, raw):
    central, local = central_entries(data)[name]
    assert len(raw) == len(name.encode("utf-8"))
    for header, name_at, flags_at in ((central, 46, 8), (local, 30, 6)):
        data[header + name_at:header + name_at + len(raw)] = raw
        (flags,) = struct.unpack_from("<H", data, header + flags_at)
        struct.pack_into("<H", data, header + flags_at, flags | 0x800)


HOSTS = {"fat": 0, "unix": 3}


def make_members(out, entries, declares, bad_crcs, raw_names):
    """entries: (method, made-by, NAME=CONTENT) triples."""
    with zipfile.ZipFile(out, "w") as archive:
        for method, made_by, entry in entries:
            name, _, content = entry.partition("=")
            info = zipfile.ZipInfo(name)
            info.compress_type = METHODS[method]
            if made_by:
                host, _, mode = made_by.partition(":")
                info.create_system = HOSTS[host]
                info.external_attr = int(mode, 8) << 16
            archive.writestr(info, content.encode("utf-8"))
    with open(out, "rb") as f:
        data = bytearray(f.read())
    for declare in declares:
        name, _, size = declare.rpartition("=")
        patch_field(data, name, 24, 22, lambda _, size=int(size): size)
    for name in bad_crcs:
        patch_field(data, name, 16, 14, lambda crc: crc ^ 0xFFFFFFFF)
    for raw_name in raw_names:
        name, _, raw = raw_name.rpartition("=")
        rename_raw(data, name, bytes.fromhex(raw))
    with open(out, "wb") as f:
        f.write(data)


def zip64_value(extra, wanted):
    """The 64-bit value at position `wanted` of the Zip64 extra field."""
    pos = 0
    while pos + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, pos)
        if tag == 1:
            return struct.unpack_from("<Q", extra, pos + 4 + 8 * wanted)[0]
        pos += 4 + size
    raise ValueError("no Zip64 extra field")


def reroot(data):
    eocd = data.rfind(b"PK\x05\x06")
    if eocd < 0:
        raise ValueError("no end record")
    count, _, cd_offset = struct.unpack_from("<HII", data, eocd + 10)
    if count == 0xFFFF or cd_offset == 0xFFFFFFFF:
        raise ValueError("needs the Zip64 end records")
    locals_out, central_out = [], []
    offset, pos = 0, cd_offset
    for _ in range(count):
        if data[pos:pos + 4] != CENTRAL_SIG:
            raise ValueError("bad central header")
        flags, = struct.unpack_from("<H", data, pos + 8)
        comp_size, size = struct.unpack_from("<II", data, pos + 20)
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, pos + 28)
        local, = struct.unpack_from("<I", data, pos + 42)
        name = data[pos + 46:pos + 46 + name_len]
        extra = data[pos + 46 + name_len:pos + 46 + name_len + extra_len]
        if local == 0xFFFFFFFF:
            raise ValueError("Zip64 offset")
        if comp_size == 0xFFFFFFFF:
            comp_size = zip64_value(extra, 1 if size == 0xFFFFFFFF else 0)
        if data[local:local + 4] != LOCAL_SIG:
            raise ValueError("bad local header")
        local_name_len, local_extra_len = struct.unpack_from("<HH", data, local + 26)
        start = local + 30 + local_name_len
        end = start + local_extra_len + comp_size
        if flags & 8:
            end += 16 if data[end:end + 4] == b"PK\x07\x08" else 12
        new_name = b"Z-Ravelkin/" + name
        part = (data[local:local + 26] + struct.pack("<H", len(new_name)) +
                data[local + 28:local + 30] + new_name + data[start:end])
        locals_out.append(part)
        record = bytearray(data[pos:pos + 46])
        struct.pack_into("<H", record, 28, len(new_name))
        struct.pack_into("<I", record, 42, offset)
        central_out.append(bytes(record) + new_name +
                           data[pos + 46 + name_len:pos + 46 + name_len + extra_len + comment_len])
        offset += len(part)
        pos += 46 + name_len + extra_len + comment_len
    central = b"".join(central_out)
    return (b"".join(locals_out) + central + b"PK\x05\x06" +
            struct.pack("<HHHHIIH", 0, 0, count, count, len(central), offset, 0))


def reroot_all(out_dir, paths):
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        try:
            rerooted = reroot(data)
        except (ValueError, struct.error) as problem:
            print("left out %s: %s" % (path, problem), file=sys.stderr)
            continue
        source = os.path.basename(os.path.dirname(os.path.abspath(path)))
        with open(os.path.join(out_dir, source + "-" + os.path.basename(path)), "wb") as f:
            f.write(rerooted)


def main(argv):
    while "--then" in argv:
        at = argv.index("--then")
        if make(argv[:at]) != 0:
            return 2
        argv = argv[at + 1:]
    return make(argv)


def make(argv):
    command, out, rest = argv[0], argv[1], argv[2:]
    if command == "tree":
        make_tree(out, rest[0], rest[1])
    elif command == "reroot":
        reroot_all(out, rest)
    elif command == "members":
        method, made_by, declares, bad_crcs, raw_names, entries = "stored", "", [], [], [], []
        options = iter(rest)
        for arg in options:
            if arg == "--method":
                method = next(options)
            elif arg == "--made-by":
                made_by = next(options)
            elif arg == "--declare":
                declares.append(next(options))
            elif arg == "--bad-crc":
                bad_crcs.append(next(options))
            elif arg == "--raw-name":
                raw_names.append(next(options))
            else:
                entries.append((method, made_by, arg))
        make_members(out, entries, declares, bad_crcs, raw_names)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
