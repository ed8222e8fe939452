#!/usr/bin/env python3
"""Runs the same update cases through the Linux build and the Windows build
(under Wine) and checks that both hosts reach the same result.

  cross_host.py --linux BIN --windows EXE --linux-game BIN --windows-game EXE
                --work DIR [--wine WINE]

Each case gets a folder per host holding the same bytes: an install folder, an
archive and a copy of the stand-in game (record_start, built for that host).
Both runs must give the same exit code, the same log lines and the same disk
state afterwards; each case also names the exit code it must give.

Log lines are compared without their time stamps. Path texts differ between
hosts, so the texts the run was given (install folder, archive, relaunch
program, case folder) become <install>, <archive>, <relaunch> and <case>, and
the separators in the rest of such a path become "/". One number differs by
nature: a pid that names no process is "gone (error 3)" on Linux (ESRCH) and
"gone (error 87)" on Windows (ERROR_INVALID_PARAMETER); both become
"(error <gone>)". The lines of the swap come in the order in which the host
lists the staging folder, so they are compared sorted. Everything else is
compared byte for byte.
"""

import argparse
import hashlib
import io
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import time
import zipfile

# Above the kernel's largest pid (PID_MAX_LIMIT), and not a multiple of 4 as
# Windows process ids are: it names no process on either host.
UNUSED_PID = 4194305
GAME = "record_start"
STAMP = re.compile(rb"^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} ")


# ---------------------------------------------------------------- archives

def payload_v2():
    """Members of a good update: payload items, a folder, a non-payload file."""
    noise = random.Random(7).randbytes(96 * 1024)  # keeps the gzip stream long
    return [
        ("Z-Ravelkin/", None),
        ("Z-Ravelkin/Z-Ravelkin.exe", b"Z-Ravelkin version 2\n"),
        ("Z-Ravelkin/zravelkin.pak", noise),
        ("Z-Ravelkin/typefaces/", None),
        ("Z-Ravelkin/typefaces/new.ttf", b"new font\n"),
        ("Z-Ravelkin/NOTES.txt", b"not part of the payload\n"),
    ]


def write_tar_gz(path, members):
    """ustar members; a name may carry undecodable bytes as surrogate escapes."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT,
                      encoding="utf-8", errors="surrogateescape") as tar:
        for name, data in members:
            info = tarfile.TarInfo(name.rstrip("/") if data is None else name)
            info.mtime = 1700000000
            if data is None:
                info.type = tarfile.DIRTYPE
                info.mode = 0o755
                tar.addfile(info)
            else:
                info.size = len(data)
                info.mode = 0o644
                tar.addfile(info, io.BytesIO(data))
    import gzip
    with open(path, "wb") as out:
        out.write(gzip.compress(buffer.getvalue(), mtime=0))


def write_zip(path, members, method=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(path, "w", compression=method) as z:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
            info.compress_type = method if data is not None else zipfile.ZIP_STORED
            if data is None:
                info.external_attr = 0o40755 << 16 | 0x10
            z.writestr(info, b"" if data is None else data)


def mark_zip_encrypted(path):
    """Sets the encryption bit in every local and central header."""
    data = bytearray(open(path, "rb").read())
    for signature, flag_offset in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
        at = data.find(signature)
        while at >= 0:
            (flags,) = struct.unpack_from("<H", data, at + flag_offset)
            struct.pack_into("<H", data, at + flag_offset, flags | 1)
            at = data.find(signature, at + 4)
    open(path, "wb").write(bytes(data))


def make_tar(members):
    def build(folder, name="update.tar.gz"):
        write_tar_gz(os.path.join(folder, name), members)
        return name
    return build


def make_zip(members, method=zipfile.ZIP_DEFLATED, name="update.zip", encrypted=False):
    def build(folder):
        path = os.path.join(folder, name)
        write_zip(path, members, method)
        if encrypted:
            mark_zip_encrypted(path)
        return name
    return build


def with_host_game(make):
    """An update whose Z-Ravelkin.exe is the host's stand-in game, so that the
    run can relaunch the program it has just put into the install folder."""
    def build(folder, game):
        data = open(game, "rb").read()
        return make([(n, data) if n.endswith(".exe") else (n, d) for n, d in payload_v2()])(folder)
    build.needs_game = True
    return build


def in_deep_folder(build, length):
    """The archive in folders below the case folder that make its path,
    relative to the case folder, `length` characters long."""
    def deep(folder):
        name = build(folder)
        sub = deep_name("", length - len(name))
        os.makedirs(os.path.join(folder, sub))
        if os.path.exists(os.path.join(folder, name)):
            os.rename(os.path.join(folder, name), os.path.join(folder, sub, name))
        return os.path.join(sub, name)
    return deep


def make_truncated_tar(folder):
    whole = os.path.join(folder, "whole.tar.gz")
    write_tar_gz(whole, payload_v2())
    data = open(whole, "rb").read()
    os.remove(whole)
    open(os.path.join(folder, "update.tar.gz"), "wb").write(data[: len(data) // 2])
    return "update.tar.gz"


def make_unknown_suffix(folder):
    write_zip(os.path.join(folder, "update.rar"), payload_v2())
    return "update.rar"


def no_archive(folder):
    return "update.zip"  # never written


# ------------------------------------------------------------------ cases

def installed_v1(install):
    """The installed game before the update, with a save no update may touch."""
    for rel, data in (
        ("Z-Ravelkin.exe", b"Z-Ravelkin version 1\n"),
        ("zravelkin.pak", b"data v1\n"),
        ("typefaces/old.ttf", b"old font\n"),
        ("saves/slot1.sav", b"slot 1: level 7\n"),
    ):
        path = os.path.join(install, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").write(data)


def read_only_game(install):
    """The installed game program read-only. Windows renames over a read-only
    file only once its attribute is cleared; Wine 8 does not refuse, so here
    the case shows only that both hosts end the same."""
    os.chmod(os.path.join(install, "Z-Ravelkin.exe"), 0o444)


STANDARD = ["--install", "{install}", "--archive", "{archive}",
            "--pid", "{pid}", "--relaunch", "{relaunch}"]
# The archive relative to the case folder.
RELATIVE_ARCHIVE = ["--install", "{install}", "--archive", "{archive_rel}",
                    "--pid", "{pid}", "--relaunch", "{relaunch}"]
# The game's own program in the install folder is started again.
INSTALLED = ["--install", "{install}", "--archive", "{archive}",
             "--pid", "{pid}", "--relaunch", "{installed_game}"]
# The install folder relative to the case folder, where the updater starts.
RELATIVE = ["--install", "{install_rel}", "--archive", "{archive}",
            "--pid", "{pid}", "--relaunch", "{relaunch}"]

# (name, archive builder, argument template, expected exit code, install folder
# name, or the length in characters of its Windows path [, a change to the
# installed game])
CASES = [
    ("tar update applied", make_tar(payload_v2()), STANDARD, 0, "Zé install"),
    ("read-only game program replaced", make_tar(payload_v2()), STANDARD, 0, "install",
     read_only_game),
    ("zip update applied (deflate)", make_zip(payload_v2()), STANDARD, 0, "Zé install"),
    ("zip update applied (bzip2)", make_zip(payload_v2(), zipfile.ZIP_BZIP2), STANDARD, 0,
     "install"),
    ("zip member names outside ASCII",
     make_zip(payload_v2() + [("Z-Ravelkin/typefaces/ünïcödé 字.ttf", b"x\n")]), STANDARD, 0,
     "install"),
    ("relaunch program missing", make_tar(payload_v2()),
     ["--install", "{install}", "--archive", "{archive}", "--pid", "{pid}",
      "--relaunch", "{case}/no such game"], 5, "install"),
    ("tar escaping member",
     make_tar(payload_v2() + [("Z-Ravelkin/../evil.txt", b"x")]), STANDARD, 3, "install"),
    ("zip escaping member",
     make_zip(payload_v2() + [("Z-Ravelkin/typefaces/../../evil.txt", b"x")]), STANDARD, 3,
     "install"),
    ("tar backslash name",
     make_tar(payload_v2() + [("Z-Ravelkin/typefaces\\evil.ttf", b"x")]), STANDARD, 3,
     "install"),
    ("zip backslash name",
     make_zip(payload_v2() + [("Z-Ravelkin\\evil.txt", b"x")]), STANDARD, 3, "install"),
    ("tar device name",
     make_tar(payload_v2() + [("Z-Ravelkin/CON", b"x")]), STANDARD, 3, "install"),
    ("zip device name with suffix",
     make_zip(payload_v2() + [("Z-Ravelkin/typefaces/aux.ttf", b"x")]), STANDARD, 3, "install"),
    ("tar name not UTF-8",
     make_tar(payload_v2() + [("Z-Ravelkin/typefaces/\udcff.ttf", b"x")]), STANDARD, 3,
     "install"),
    ("tar.gz truncated", make_truncated_tar, STANDARD, 3, "install"),
    ("zip encrypted", make_zip(payload_v2(), encrypted=True), STANDARD, 3, "install"),
    ("unknown suffix", make_unknown_suffix, STANDARD, 3, "install"),
    ("archive missing", no_archive, STANDARD, 3, "install"),
    ("tar without the game",
     make_tar([m for m in payload_v2() if not m[0].endswith(".exe")]), STANDARD, 3, "install"),
    ("zip without the game",
     make_zip([m for m in payload_v2() if not m[0].endswith(".exe")]), STANDARD, 3, "install"),
    ("game program in other letter case",
     make_tar([("Z-Ravelkin/z-ravelkin.exe", b"Z-Ravelkin version 2\n") if m[0].endswith(".exe")
               else m for m in payload_v2()]), STANDARD, 3, "install"),
    ("no arguments", make_tar(payload_v2()), [], 1, "install"),
    ("option name in capitals", make_tar(payload_v2()),
     ["--Install", "{install}", "--archive", "{archive}", "--pid", "{pid}",
      "--relaunch", "{relaunch}"], 1, "install"),
    ("option without value", make_tar(payload_v2()),
     ["--archive", "{archive}", "--pid", "{pid}", "--relaunch", "{relaunch}", "--install"], 1,
     "install"),
    ("pid not a number", make_tar(payload_v2()),
     ["--install", "{install}", "--archive", "{archive}", "--pid", "12abc",
      "--relaunch", "{relaunch}"], 1, "install"),
    ("empty install folder text", make_tar(payload_v2()),
     ["--install", "", "--archive", "{archive}", "--pid", "{pid}", "--relaunch", "{relaunch}"],
     1, "install"),
    # Windows' 260-character limit, met by every path below the install folder.
    ("install folder of 240 characters", make_tar(payload_v2()), STANDARD, 0, 240),
    ("install folder of 250 characters", make_zip(payload_v2()), STANDARD, 0, 250),
    ("install folder of 260 characters", make_tar(payload_v2()), STANDARD, 0, 260),
    ("relative install folder of 300 characters", make_tar(payload_v2()), RELATIVE, 0, 300),
    # The archive is opened by its absolute long form, its text logged as given.
    ("relative zip archive of 300 characters", in_deep_folder(make_zip(payload_v2()), 300),
     RELATIVE_ARCHIVE, 0, "install"),
    ("relative tar archive of 300 characters", in_deep_folder(make_tar(payload_v2()), 300),
     RELATIVE_ARCHIVE, 0, "install"),
    ("relative archive of 300 characters, missing", in_deep_folder(no_archive, 300),
     RELATIVE_ARCHIVE, 3, "install"),
    # The relaunch program is the game in the install folder, so these meet
    # the limit on the program's own path as well.
    ("game relaunched from an install folder of 240 characters", with_host_game(make_tar),
     INSTALLED, 0, 240),
    ("game relaunched from an install folder of 250 characters", with_host_game(make_zip),
     INSTALLED, 0, 250),
    ("game relaunched from an install folder of 258 characters", with_host_game(make_tar),
     INSTALLED, 0, 258),
]


# ------------------------------------------------------------------ hosts

class Host:
    def __init__(self, name, updater, game, prefix):
        self.name = name
        self.updater = updater
        self.game = game
        self.prefix = prefix  # command words before the updater

    def path_text(self, path):
        return path


    def relative_text(self, path, start):
        return os.path.relpath(path, start)


class Windows(Host):
    def path_text(self, path):
        # Wine's Z: drive is the Unix root.
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def relative_text(self, path, start):
        return os.path.relpath(path, start).replace("/", "\\")


def deep_name(folder_text, length):
    """A folder name below `folder_text` (a Windows path) that makes the path
    `length` characters long, in parts short enough for any file system."""
    need, parts = length - len(folder_text) - 1, []
    while need > 0:
        take = min(100, need)
        if need - take == 1:
            take -= 1
        parts.append("x" * take)
        need -= take + 1
    return "/".join(parts)


def prepare(host, case, work):
    name, build, template, _, install_name = case[:5]
    slug = re.sub(r"[^a-z0-9]+", "-", name.lower()).strip("-")
    folder = os.path.join(work, host.name, slug)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    if isinstance(install_name, int):
        # The same name on both hosts, measured on Windows.
        install_name = deep_name(Windows.path_text(None, os.path.join(work, "windows", slug)),
                                 install_name)
    install = os.path.join(folder, install_name)
    installed_v1(install)
    if len(case) > 5:
        case[5](install)
    if getattr(build, "needs_game", False):
        archive = os.path.join(folder, build(folder, host.game))
    else:
        archive = os.path.join(folder, build(folder))
    game_dir = os.path.join(folder, "game dir")
    os.makedirs(game_dir)
    relaunch = os.path.join(game_dir, os.path.basename(host.game))
    shutil.copy2(host.game, relaunch)
    # Only Windows relaunches the program that the update installed: neither
    # archive format's modes are applied, so on Linux the installed program
    # cannot be executed, and the stand-in beside the case starts instead.
    installed_game = relaunch
    if "{installed_game}" in template and isinstance(host, Windows):
        installed_game = os.path.join(install, "Z-Ravelkin.exe")
        relaunch, game_dir = installed_game, install
    texts = {
        "install": host.path_text(install),
        "install_rel": host.relative_text(install, folder),
        "archive": host.path_text(archive),
        "archive_rel": host.relative_text(archive, folder),
        "relaunch": host.path_text(relaunch),
        "installed_game": host.path_text(installed_game),
        "case": host.path_text(folder),
        "pid": str(UNUSED_PID),
    }
    args = [part.format(**texts) for part in template]
    return folder, install, game_dir, args, texts


def normalise_line(line, texts, windows):
    text = line.decode("utf-8", "surrogateescape")
    # One pass, longest text first: a short text (a relative install folder)
    # may also be part of a longer one.
    keys = sorted(("install", "install_rel", "archive", "archive_rel", "relaunch", "case"),
                  key=lambda k: -len(texts[k]))
    pattern = "|".join("(%s)" % re.escape(texts[key]) for key in keys)
    text = re.sub(pattern, lambda m: "<%s>" % keys[m.lastindex - 1], text)
    if windows:
        text = re.sub(r"(<(?:install|install_rel|archive|archive_rel|relaunch|case)>)(\S*)",
                      lambda m: m.group(1) + m.group(2).replace("\\", "/"), text)
    text = re.sub(r"^(pid \d+ is gone) \(error \d+\)$", r"\1 (error <gone>)", text)
    return text


def swap_lines_sorted(lines):
    """The swap's own lines follow the order in which the host lists the staging
    folder, which no host promises; they are compared as a set."""
    out, block = [], []
    for line in lines + ["zrk-update: (end)"]:
        if block and line.startswith("zrk-update: "):
            out.extend(sorted(block[1:]))
            block = []
        if line.startswith("zrk-update: swapping ") or block:
            if not block:
                out.append(line)
            block.append(line)
            continue
        out.append(line)
    return out[:-1]


def snapshot(folder, skip):
    """Sorted (relative path, kind, content digest) of everything below folder."""
    items = []
    for top, dirs, files in os.walk(folder):
        for entry in sorted(dirs + files):
            full = os.path.join(top, entry)
            rel = os.path.relpath(full, folder).replace(os.sep, "/")
            if rel in skip:
                continue
            rel_text = rel.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
            if os.path.islink(full):
                items.append((rel_text, "link", os.readlink(full)))
            elif os.path.isdir(full):
                items.append((rel_text, "dir", ""))
            else:
                digest = hashlib.sha256(open(full, "rb").read()).hexdigest()[:16]
                items.append((rel_text, "file", digest))
    return sorted(items)


def run_case(host, case, work):
    folder, install, game_dir, args, texts = prepare(host, case, work)
    began = time.monotonic()
    # Output goes to a file, not a pipe: a wineserver started by this run would
    # hold a pipe open, and the run would seem to last until the server quits.
    with open(os.path.join(folder, "output.txt"), "wb") as output:
        result = subprocess.run(host.prefix + [host.updater] + args, stdin=subprocess.DEVNULL,
                                stdout=output, stderr=subprocess.STDOUT, timeout=120, cwd=folder)
    seconds = time.monotonic() - began
    log_path = os.path.join(install, ".update", "update.log")
    # Where the game relaunched is the one installed, its record stands in
    # the install folder, and its program differs between the hosts.
    installed = "{installed_game}" in case[2]
    skip = {".update/update.log"} | ({"started.txt"} if installed else set())
    lines, problems = [], []
    if os.path.exists(log_path):
        for raw in open(log_path, "rb").read().split(b"\n")[:-1]:
            if not STAMP.match(raw):
                problems.append("line without time stamp: %r" % raw)
                continue
            lines.append(normalise_line(raw[20:], texts, isinstance(host, Windows)))
    started = None
    record = os.path.join(game_dir, "started.txt")
    # Wait for the game only where the run says it started one.
    if any(line.startswith("zrk-update: update applied, starting ") for line in lines) and not any(
            line.startswith("zrk-update: could not start ") for line in lines):
        deadline = time.monotonic() + 10
        while not os.path.exists(record) and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.05)  # let the game close its record
    if os.path.exists(record):
        raw = open(record, "rb").read()
        started = normalise_line(raw, texts, isinstance(host, Windows))
    return {
        "code": result.returncode,
        "log": swap_lines_sorted(lines),
        "disk": game_as_named(snapshot(install, skip), host.game) if installed else
        snapshot(install, skip),
        "started": started,
        "problems": problems,
        "seconds": seconds,
    }


def game_as_named(disk, game):
    """The installed game program shown as <game> where it is the host's one."""
    digest = hashlib.sha256(open(game, "rb").read()).hexdigest()[:16]
    return [(rel, kind, "<game>" if rel == "Z-Ravelkin.exe" and value == digest else value)
            for rel, kind, value in disk]


def outside_update_dir(disk):
    return [item for item in disk if not item[0].startswith(".update")]


def compare(case, linux, windows, before, after):
    """Differences between the hosts and against what the case must do.
    `before` and `after` are the install folder without .update before any
    update and after a good one."""
    name, _, template, expected, _ = case[:5]
    if "{installed_game}" in template:
        after = [(rel, kind, "<game>" if rel == "Z-Ravelkin.exe" else value)
                 for rel, kind, value in after]
    notes = []
    for host, r in (("linux", linux), ("windows", windows)):
        if r["code"] != expected:
            notes.append("%s exit code %d, expected %d" % (host, r["code"], expected))
        notes.extend("%s: %s" % (host, p) for p in r["problems"])
        if expected == 0 and r["started"] != "<install>":
            notes.append("%s: game started in %r, not the install folder" % (host, r["started"]))
        if expected in (1, 3) and outside_update_dir(r["disk"]) != before:
            notes.append("%s: the install folder changed" % host)
        if expected == 1 and (r["log"] or len(r["disk"]) != len(before)):
            notes.append("%s: a bad command line left a trace on disk" % host)
        if expected in (0, 5) and not set(after) <= set(outside_update_dir(r["disk"])):
            notes.append("%s: the update is not in place" % host)
    if linux["code"] != windows["code"]:
        notes.append("exit codes differ: linux %d, windows %d" % (linux["code"], windows["code"]))
    if linux["log"] != windows["log"]:
        notes.append("log lines differ:")
        width = max(len(linux["log"]), len(windows["log"]))
        for i in range(width):
            a = linux["log"][i] if i < len(linux["log"]) else "(none)"
            b = windows["log"][i] if i < len(windows["log"]) else "(none)"
            mark = "  " if a == b else "! "
            notes.append("  %slinux:   %s" % (mark, a))
            if a != b:
                notes.append("  %swindows: %s" % (mark, b))
    if linux["disk"] != windows["disk"]:
        notes.append("disk states differ:")
        for item in sorted(set(linux["disk"]) ^ set(windows["disk"])):
            side = "linux" if item in linux["disk"] else "windows"
            notes.append("  only %s: %s %s %s" % (side, *item))
    if linux["started"] != windows["started"]:
        notes.append("relaunch records differ: linux %r, windows %r"
                     % (linux["started"], windows["started"]))
    return notes


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--linux", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--linux-game", required=True)
    parser.add_argument("--windows-game", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--wine", default="wine")
    parser.add_argument("-v", "--verbose", action="store_true", help="print every log")
    parser.add_argument("--only", default="", help="run only the cases whose name holds this")
    opts = parser.parse_args()
    if os.path.exists("/proc/%d" % UNUSED_PID):
        sys.exit("pid %d names a process here" % UNUSED_PID)

    work = os.path.abspath(opts.work)
    # Each case runs in its own folder, so a runner given by path is fixed here.
    wine = os.path.abspath(opts.wine) if os.sep in opts.wine else opts.wine
    hosts = (
        Host("linux", os.path.abspath(opts.linux), os.path.abspath(opts.linux_game), []),
        Windows("windows", os.path.abspath(opts.windows), os.path.abspath(opts.windows_game),
                [wine]),
    )
    # The install folder as it must look before and after a good update.
    sample = os.path.join(work, "sample")
    shutil.rmtree(sample, ignore_errors=True)
    installed_v1(sample)
    before = snapshot(sample, set())
    for name, data in payload_v2():
        rel = name[len("Z-Ravelkin/"):]
        if data is not None and rel != "NOTES.txt":
            open(os.path.join(sample, *rel.split("/")), "wb").write(data)
    os.remove(os.path.join(sample, "typefaces", "old.ttf"))
    after = snapshot(sample, set())

    rows, failed = [], 0
    for case in (c for c in CASES if opts.only in c[0]):
        linux, windows = (run_case(host, case, work) for host in hosts)
        notes = compare(case, linux, windows, before, after)
        failed += bool(notes)
        rows.append((case[0], linux["code"], windows["code"], len(linux["log"]),
                     windows["seconds"], "same" if not notes else "DIFFERENT"))
        if notes or opts.verbose:
            print("== %s" % case[0])
            for line in notes or linux["log"]:
                print("   " + line)

    width = max(len(r[0]) for r in rows)
    print("%-*s  linux  windows  log lines  wine s  result" % (width, "case"))
    for name, a, b, count, seconds, verdict in rows:
        print("%-*s  %5d  %7d  %9d  %6.1f  %s" % (width, name, a, b, count, seconds, verdict))
    print("%d passed, %d failed" % (len(rows) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
