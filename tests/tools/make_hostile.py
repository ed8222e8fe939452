#!/usr/bin/env python3
"""Writes hostile update archives, each holding a good Z-Ravelkin.exe first.

  make_hostile.py OUT SIBLING

OUT receives one archive per entry of ARCHIVES (the file name is the key).
SIBLING is an absolute folder beside the install folder: absolute member names
and link targets point into it, so that an escape would land where a test
looks. Relative escapes climb three levels from the staging folder
(install/.update/staging) and then go down into "sibling".

Python's tarfile and zipfile write what they can; the rest (names that
disagree between a zip's two directories, overlapping zip entries, GNU long
names and sizes no writer would produce) is written byte by byte.
"""

import gzip
import io
import os
import struct
import sys
import tarfile
import zipfile
import zlib

TOP = "Z-Ravelkin/"
GAME = ("Z-Ravelkin/Z-Ravelkin.exe", b"game v2")
CLIMB = TOP + "../../../sibling/evil.txt"
EVIL = b"escaped"
# Each format's list starts with a different kind of device name.
ZIP_DEVICES = ["typefaces/COM1", "CON", "AUX"]
TAR_DEVICES = ["gpu-programs/COM\u00b9.bin", "nul.txt", "LPT1.dat"]
# A member path that, followed by a line's reason, starts like "skipped ...".
NOTE_LIKE = "skipped a (unsupported tar type 0)"

# ---- zip --------------------------------------------------------------------


def zip_with(members):
    """members: (name, bytes) or (name, bytes, unix mode) in order."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for member in members:
            info = zipfile.ZipInfo(member[0], date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            if len(member) > 2:
                info.create_system = 3
                info.external_attr = member[2] << 16
            archive.writestr(info, member[1])
    return out.getvalue()


def local_header(name, crc, csize, size, method=0):
    return b"PK\x03\x04" + struct.pack("<HHHHHIIIHH", 20, 0x800, method, 0, 0x21, crc, csize,
                                       size, len(name), 0) + name


def central_header(name, crc, csize, size, offset, method=0):
    return b"PK\x01\x02" + struct.pack("<HHHHHHIIIHHHHHII", 20, 20, 0x800, method, 0, 0x21, crc,
                                       csize, size, len(name), 0, 0, 0, 0, 0, offset) + name


def end_record(count, cd_size, cd_offset):
    return b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, count, count, cd_size, cd_offset, 0)


def raw_zip(entries):
    """entries: (local name, central name, data, declared local size, declared
    central size), stored. Names and sizes may disagree on purpose."""
    body, central = b"", b""
    for local_name, central_name, data, local_size, central_size in entries:
        crc = zlib.crc32(data)
        offset = len(body)
        body += local_header(local_name.encode(), crc, len(data), local_size) + data
        central += central_header(central_name.encode(), crc, len(data), central_size, offset)
    return body + central + end_record(len(entries), len(central), len(body))


def consistent(name, data):
    return (name, name, data, len(data), len(data))


def zip_disagree(local_name, central_name, data=EVIL, local_size=None, central_size=None):
    game = consistent(*GAME)
    size = len(data)
    entry = (local_name, central_name, data, size if local_size is None else local_size,
             size if central_size is None else central_size)
    return raw_zip([game, entry])


# ZERO_BYTES[k] appends 2**k zero bytes to a CRC-32: a 32 x 32 matrix over
# GF(2), one column per bit, as zlib builds them.
ZERO_BYTES = []


def crc32_combine(crc1, crc2, len2):
    """crc32 of A + B from crc32(A), crc32(B) and len(B), as zlib does it."""

    def times(matrix, vector):
        result, row = 0, 0
        while vector:
            if vector & 1:
                result ^= matrix[row]
            vector >>= 1
            row += 1
        return result

    def square(matrix):
        return [times(matrix, matrix[n]) for n in range(32)]

    if not ZERO_BYTES:
        one_bit = [0xEDB88320] + [1 << n for n in range(31)]
        ZERO_BYTES.append(square(square(square(one_bit))))
    while len(ZERO_BYTES) < len2.bit_length():
        ZERO_BYTES.append(square(ZERO_BYTES[-1]))
    for k in range(len2.bit_length()):
        if len2 >> k & 1:
            crc1 = times(ZERO_BYTES[k], crc1)
    return crc1 ^ crc2


def overlap_bomb(count, kernel_size):
    """Every entry's deflate data runs through the local headers of the
    entries after it (quoted in stored blocks) into one shared kernel of
    zeros, so `count` entries of about `kernel_size` bytes each share a few
    kilobytes of file."""
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    kernel = compressor.compress(bytes(kernel_size)) + compressor.flush()
    kernel_crc = zlib.crc32(bytes(kernel_size))
    names = [("%sb%04d" % (TOP, i)).encode() for i in range(count)]
    # Built from the last entry back: each quotes the next one's header.
    headers = [None] * count
    size, crc, csize = kernel_size, kernel_crc, len(kernel)
    tail = b""  # what follows header i: quotes and headers of later entries
    sizes = [0] * count
    crcs = [0] * count
    csizes = [0] * count
    for i in range(count - 1, -1, -1):
        sizes[i], crcs[i], csizes[i] = size, crc, csize
        headers[i] = local_header(names[i], crc, csize, size, method=8)
        if i > 0:
            quote = b"\x00" + struct.pack("<HH", len(headers[i]), len(headers[i]) ^ 0xFFFF)
            crc = crc32_combine(zlib.crc32(headers[i]), crc, size)
            size += len(headers[i])
            csize += len(quote) + len(headers[i])
            tail = quote + headers[i] + tail
    body = headers[0] + tail + kernel
    # Offsets: header 0 at 0; header i sits after header i-1 and its quote.
    central, offset = b"", 0
    for i in range(count):
        central += central_header(names[i], crcs[i], csizes[i], sizes[i], offset, method=8)
        offset += len(headers[i]) + 5
    return body + central + end_record(count, len(central), len(body))


def zip_shared_kernel(count, kernel_size):
    """`count` central entries of distinct names, all pointing at one local
    header and its data."""
    data = bytes(kernel_size)
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = compressor.compress(data) + compressor.flush()
    crc = zlib.crc32(data)
    first = (TOP + "b0000").encode()
    body = local_header(first, crc, len(packed), kernel_size, method=8) + packed
    central = b"".join(
        central_header(("%sb%04d" % (TOP, i)).encode(), crc, len(packed), kernel_size, 0, method=8)
        for i in range(count))
    return body + central + end_record(count, len(central), len(body))


def zip_declared(size):
    """A deflated member whose two headers agree on a size its data lacks."""
    game = consistent(*GAME)
    crc = zlib.crc32(game[2])
    body = local_header(game[0].encode(), crc, len(game[2]), len(game[2])) + game[2]
    central = central_header(game[0].encode(), crc, len(game[2]), len(game[2]), 0)
    name = (TOP + "zravelkin.pak").encode()
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = compressor.compress(b"tiny") + compressor.flush()
    crc = zlib.crc32(b"tiny")
    central += central_header(name, crc, len(packed), size, len(body), method=8)
    body += local_header(name, crc, len(packed), size, method=8) + packed
    return body + central + end_record(2, len(central), len(body))


def zip64_declared(size):
    """A Zip64 member declaring `size` in both headers' extra fields."""
    game = local_header(GAME[0].encode(), zlib.crc32(GAME[1]), len(GAME[1]), len(GAME[1])) + GAME[1]
    name = (TOP + "zravelkin.pak").encode()
    data = b"tiny"
    crc = zlib.crc32(data)
    local_extra = struct.pack("<HHQQ", 1, 16, size, len(data))
    local = b"PK\x03\x04" + struct.pack("<HHHHHIIIHH", 45, 0x800, 0, 0, 0x21, crc, 0xFFFFFFFF,
                                        0xFFFFFFFF, len(name), len(local_extra)) + name + local_extra
    body = game + local + data
    central_extra = struct.pack("<HHQQ", 1, 16, size, len(data))
    central = central_header(GAME[0].encode(), zlib.crc32(GAME[1]), len(GAME[1]), len(GAME[1]), 0)
    central += b"PK\x01\x02" + struct.pack("<HHHHHHIIIHHHHHII", 45, 45, 0x800, 0, 0, 0x21, crc,
                                           0xFFFFFFFF, 0xFFFFFFFF, len(name), len(central_extra), 0,
                                           0, 0, 0, len(game)) + name + central_extra
    return body + central + end_record(2, len(central), len(body))


def zip64_streamed(members, directory_offset=None, directory_size=None, local_offsets=(),
                   end_count=None):
    """Stored members as writers that stream make them in Zip64 form: data
    descriptors, sizes and offsets in Zip64 extra fields, the directory's
    place in a Zip64 end record. The central entries ask for an older version
    than the local headers, as Info-ZIP's do, so that libzip's consistency
    checks refuse the zip and the reader's own check of it decides. The
    keywords forge one field each:
    local_offsets is (index, offset) pairs, end_count a count in the plain end
    record (with the size and offset of that many entries) instead of its
    "see Zip64" markers."""
    body, central, entry_ends = b"", b"", []
    for index, (name, data) in enumerate(members):
        name, crc, offset = name.encode(), zlib.crc32(data), len(body)
        offset = dict(local_offsets).get(index, offset)
        local_extra = struct.pack("<HHQQ", 1, 16, 0, 0)
        body += b"PK\x03\x04" + struct.pack("<HHHHHIIIHH", 45, 0x808, 0, 0, 0x21, 0, 0xFFFFFFFF,
                                             0xFFFFFFFF, len(name), len(local_extra))
        body += name + local_extra + data
        body += b"PK\x07\x08" + struct.pack("<IQQ", crc, len(data), len(data))
        central_extra = struct.pack("<HHQQQ", 1, 24, len(data), len(data), offset)
        central += b"PK\x01\x02" + struct.pack(
            "<HHHHHHIIIHHHHHII", 45, 20, 0x808, 0, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF, len(name),
            len(central_extra), 0, 0, 0, 0, 0xFFFFFFFF) + name + central_extra
        entry_ends.append(len(central))
    count = len(members)
    offset = len(body) if directory_offset is None else directory_offset
    size = len(central) if directory_size is None else directory_size
    zip64_end = b"PK\x06\x06" + struct.pack("<QHHIIQQQQ", 44, 45, 45, 0, 0, count, count, size,
                                             offset)
    locator = b"PK\x06\x07" + struct.pack("<IQI", 0, len(body) + len(central), 1)
    if end_count is None:
        end = b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF,
                                           0xFFFFFFFF, 0)
    else:
        end = end_record(end_count, entry_ends[end_count - 1], len(body))
    return body + central + zip64_end + locator + end


def zip64_pair(**forged):
    return zip64_streamed([GAME, (TOP + "zravelkin.pak", b"data v2")], **forged)


# ---- tar --------------------------------------------------------------------


def tar_header(name, size=0, kind=b"0", link=b"", size_field=None, magic=b"ustar\x0000"):
    block = bytearray(512)
    block[0:len(name)] = name
    block[100:108] = b"0000644\0"
    block[108:116] = b"0000000\0"
    block[116:124] = b"0000000\0"
    block[124:136] = size_field if size_field is not None else b"%011o\0" % size
    block[136:148] = b"14550000000\0"
    block[156:157] = kind
    block[157:157 + len(link)] = link
    block[257:265] = magic
    block[148:156] = b" " * 8
    block[148:156] = b"%06o\0 " % sum(block)
    return bytes(block)


def tar_member(name, data=b"", kind=b"0", link=b""):
    name = name.encode() if isinstance(name, str) else name
    padding = b"\0" * (-len(data) % 512)
    return tar_header(name, len(data), kind, link) + data + padding


def tar_end():
    return b"\0" * 1024


def game_member():
    return tar_member(GAME[0], GAME[1])


def tar_of(*parts):
    return game_member() + b"".join(parts) + tar_end()


def tarfile_bytes(members, fmt=tarfile.USTAR_FORMAT):
    """members: (TarInfo, data or None) pairs."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=fmt, encoding="utf-8") as tar:
        game = tarfile.TarInfo(GAME[0])
        game.size = len(GAME[1])
        tar.addfile(game, io.BytesIO(GAME[1]))
        for member, data in members:
            tar.addfile(member, io.BytesIO(data) if data is not None else None)
    return out.getvalue()


def info(name, data=None, kind=tarfile.REGTYPE, link="", pax=None):
    member = tarfile.TarInfo(name)
    member.type = kind
    member.linkname = link
    if data is not None:
        member.size = len(data)
    if pax:
        member.pax_headers = dict(pax)
    return member, data


def gnu_long_name(name, real_name, data=EVIL):
    """A GNU "L" record carrying `name`, then a member whose own header field
    holds the harmless `real_name`."""
    payload = name.encode() + b"\0"
    long_link = tar_header(b"././@LongLink", len(payload), b"L", magic=b"ustar  \0")
    return long_link + payload + b"\0" * (-len(payload) % 512) + tar_member(real_name, data)


def gz(data):
    return gzip.compress(data, 6, mtime=0)


def member_bomb(declared):
    """A member that declares `declared` bytes and carries them, as zeros in
    concatenated gzip members: a few megabytes that inflate to gigabytes."""
    header = tar_header((TOP + "zravelkin.pak").encode(), declared)
    chunk = 1 << 20
    zeros = gzip.compress(bytes(chunk), 9, mtime=0)
    padded = declared + (-declared % 512)
    assert padded % chunk == 0
    return gz(game_member() + header) + zeros * (padded // chunk) + gz(tar_end())


# ---- the table --------------------------------------------------------------


def archives(sibling):
    absolute = sibling + "/evil.txt"
    unc = "//server/share/evil.txt"
    unc_back = "\\\\server\\share\\evil.txt"
    escapes = {
        "dotdot": CLIMB,
        "parent": "../sibling/evil.txt",
        "absolute": absolute,
        "drive": "C:/sibling/evil.txt",
        "drive-relative": TOP + "C:evil.txt",
        "backslash": "Z-Ravelkin\\..\\..\\..\\sibling\\evil.txt",
        "backslash-inner": TOP + "..\\..\\..\\sibling\\evil.txt",
        "unc": unc,
        "unc-backslash": unc_back,
    }
    made = {}
    for key, name in escapes.items():
        made["zip-slip-%s.zip" % key] = lambda name=name: zip_with([GAME, (name, EVIL)])
        made["tar-slip-%s.tar.gz" % key] = lambda name=name: gz(tar_of(tar_member(name, EVIL)))
    made["zip-devices.zip"] = lambda: zip_with([GAME] + [(TOP + n, n.encode())
                                                        for n in ZIP_DEVICES])
    made["tar-devices.tgz"] = lambda: gz(tar_of(*[tar_member(TOP + n, n.encode())
                                                  for n in TAR_DEVICES]))

    # Links: a zip stores one as a file holding its target; a tarball's is
    # skipped, so what follows it lands in a plain folder.
    link_mode = 0o120777
    made["zip-symlink-only.zip"] = lambda: zip_with(
        [GAME, (TOP + "typefaces", sibling.encode(), link_mode)])
    made["zip-symlink-then-file.zip"] = lambda: zip_with(
        [GAME, (TOP + "typefaces", sibling.encode(), link_mode),
         (TOP + "typefaces/evil.txt", EVIL)])
    made["tar-symlink-then-file.tgz"] = lambda: gz(tarfile_bytes(
        [info(TOP + "typefaces", kind=tarfile.SYMTYPE, link=sibling),
         info(TOP + "typefaces/evil.txt", EVIL)]))
    made["tar-symlink-relative.tgz"] = lambda: gz(tarfile_bytes(
        [info(TOP + "up", kind=tarfile.SYMTYPE, link="../../../sibling"),
         info(TOP + "up/evil.txt", EVIL)]))
    made["tar-hardlink-then-file.tgz"] = lambda: gz(tarfile_bytes(
        [info(TOP + "zravelkin.pak", kind=tarfile.LNKTYPE, link=sibling + "/secret.txt"),
         info(TOP + "zravelkin.pak", EVIL)]))
    made["tar-hardlink-escaping-name.tgz"] = lambda: gz(tarfile_bytes(
        [info(absolute, kind=tarfile.LNKTYPE, link=GAME[0])]))
    made["tar-device-nodes.tgz"] = lambda: gz(tarfile_bytes(
        [info(TOP + "zravelkin.pak", kind=tarfile.CHRTYPE),
         info(TOP + "padmappings.txt", kind=tarfile.FIFOTYPE)]))

    # Names from extension headers.
    made["tar-pax-path-climb.tgz"] = lambda: gz(tarfile_bytes(
        [info(TOP + "innocent.txt", EVIL, pax={"path": CLIMB})], tarfile.PAX_FORMAT))
    made["tar-pax-path-absolute.tgz"] = lambda: gz(tarfile_bytes(
        [info(TOP + "innocent.txt", EVIL, pax={"path": absolute})], tarfile.PAX_FORMAT))
    made["tar-gnu-long-name-climb.tgz"] = lambda: gz(tar_of(
        gnu_long_name(TOP + "../" * 40 + "sibling/evil.txt", TOP + "innocent.txt")))
    made["tar-gnu-long-name-absolute.tgz"] = lambda: gz(tar_of(
        gnu_long_name(absolute, TOP + "innocent.txt")))

    # Names that disagree between the zip's two directories, and sizes.
    made["zip-names-disagree-local-climbs.zip"] = lambda: zip_disagree(
        "Z-Ravelkin/../x/evil.txt", "Z-Ravelkin/data/evil.txt")
    made["zip-names-disagree-central-climbs.zip"] = lambda: zip_disagree(
        "Z-Ravelkin/data/evil.txt", "Z-Ravelkin/../x/evil.txt")
    made["zip-sizes-disagree.zip"] = lambda: zip_disagree(
        TOP + "zravelkin.pak", TOP + "zravelkin.pak", local_size=7, central_size=70000)
    # The same damage to a member whose path reads like a tarball's skip note.
    made["zip-damaged-name-like-a-note.zip"] = lambda: zip_disagree(
        TOP + NOTE_LIKE, TOP + NOTE_LIKE, local_size=7, central_size=70000)

    # Bombs and huge declared sizes.
    made["zip-overlap-bomb.zip"] = lambda: overlap_bomb(200, 16 << 20)
    made["zip-shared-kernel-bomb.zip"] = lambda: zip_shared_kernel(300, 16 << 20)
    made["zip-declared-3gib.zip"] = lambda: zip_declared(3 << 30)
    made["zip64-declared-huge.zip"] = lambda: zip64_declared(1 << 62)
    # Zip64 places that wrap past 2**64 back into the file or lie past its
    # end, and end records that describe two different directories.
    made["zip64-streamed.zip"] = lambda: zip64_pair()
    made["zip64-directory-offset-forged.zip"] = lambda: zip64_pair(directory_offset=2**64 - 16)
    made["zip64-directory-size-forged.zip"] = lambda: zip64_pair(directory_size=2**64 - 8)
    made["zip64-local-offset-forged.zip"] = lambda: zip64_pair(local_offsets=[(1, 2**62)])
    made["zip64-end-records-disagree.zip"] = lambda: zip64_pair(end_count=1)
    made["tar-member-bomb.tgz"] = lambda: member_bomb(3 << 30)
    made["tar-size-octal-huge.tgz"] = lambda: gz(tar_of(
        tar_header((TOP + "zravelkin.pak").encode(), size_field=b"777777777777")))
    made["tar-size-base256.tgz"] = lambda: gz(tar_of(
        tar_header((TOP + "zravelkin.pak").encode(),
                   size_field=b"\x80" + (1 << 40).to_bytes(11, "big"))))
    made["tar-pax-size-huge.tgz"] = lambda: gz(tarfile_bytes(
        [info(TOP + "zravelkin.pak", b"tiny", pax={"size": str(1 << 40)})], tarfile.PAX_FORMAT))
    return made


def main(argv):
    if len(argv) != 2 or not os.path.isabs(argv[1]):
        print(__doc__, file=sys.stderr)
        return 2
    out, sibling = argv
    os.makedirs(out, exist_ok=True)
    for name, make in archives(sibling.rstrip("/")).items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(make())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
