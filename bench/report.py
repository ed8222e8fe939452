#!/usr/bin/env python3
"""Turns the folder of raw results that bench/run.sh leaves into RESULTS.md."""
import datetime
import json
import os
import re
import sys

BLOCKS = [
    ("game-tgz", "Game update, .tar.gz"),
    ("game-tgz-alternating",
     "Game update, .tar.gz, the durable commands taking turns (one run of each a round)"),
    ("game-zip", "Game update, .zip"),
    ("small-tgz", "Many small files, .tar.gz"),
    ("small-zip", "Many small files, .zip"),
    ("game-pack-tgz", "Making the game update, .tar.gz"),
    ("game-pack-tgz-alternating", "Making the game update, .tar.gz, taking turns"),
    ("game-pack-zip", "Making the game update, .zip"),
    ("small-pack-tgz", "Making the many small files, .tar.gz"),
    ("small-pack-tgz-alternating", "Making the many small files, .tar.gz, taking turns"),
    ("small-pack-zip", "Making the many small files, .zip"),
]
# (block, command zrk-update is held against, largest allowed ratio). zrk-update
# exits with its files on the device, so it is held against durable commands:
# a floor with one flush, a tool followed by `sync -f`.
TARGETS = [
    ("game-tgz", "gzread-write-flush", 1.10),
    ("game-tgz", "bsdtar-xf-sync", 1.00),
    ("game-tgz", "tar-xzf-sync", 1.00),
    ("game-tgz-alternating", "bsdtar-xf-sync", 1.00),
    ("game-tgz-alternating", "tar-xzf-sync", 1.00),
    ("game-zip", "zip_fread-write-sync", 1.10),
    ("game-zip", "bsdtar-xf-sync", 1.00),
    ("game-zip", "unzip-q-sync", 1.00),
    ("small-tgz", "bsdtar-xf-sync", 1.00),
    ("small-tgz", "tar-xzf-sync", 1.00),
]
# (block, our command, the command it is held against, largest allowed ratio)
PACK_TARGETS = [
    ("game-pack-tgz", "zrk-pack-jobs1", "tar-czf", 1.05),
    ("game-pack-tgz", "zrk-pack", "tar-czf", 1 / 1.6),
    ("game-pack-tgz", "zrk-pack", "tar-pigz", 1.20),
    ("game-pack-zip", "zrk-pack", "zip-r", 1.05),
    ("small-pack-tgz", "zrk-pack-jobs1", "tar-czf", 1.05),
    ("small-pack-tgz", "zrk-pack", "tar-czf", 1 / 1.6),
    ("small-pack-tgz", "zrk-pack", "tar-pigz", 1.20),
    ("small-pack-zip", "zrk-pack", "zip-r", 1.05),
    ("game-tgz", "zrk-pack-check", "zrk-update", 1.10),
    ("game-zip", "zrk-pack-check", "zrk-update", 1.10),
    ("small-tgz", "zrk-pack-check", "zrk-update", 1.10),
    ("small-zip", "zrk-pack-check", "zrk-update", 1.10),
]
# The tarball blocks are also run taking turns, against the same targets.
PACK_TARGETS += [(block + "-alternating", ours, other, limit)
                 for block, ours, other, limit in PACK_TARGETS if block.endswith("-pack-tgz")]
PACK_MEMBER_MIB = 4
RSS_LIMIT_KIB = 8 * 1024
SWAP_LIMIT_MS = 50.0


def read_rss(path):
    """Peak RSS in KiB from a /usr/bin/time -v report, or None."""
    if not os.path.exists(path):
        return None
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", open(path).read())
    return int(match.group(1)) if match else None


def read_size(path):
    """(unpacked bytes, files) from a dataset's completion stamp."""
    parts = open(path).read().split()
    return int(parts[0]), int(parts[1])


def verdict(ok):
    return "met" if ok else "**missed**"


def main(folder):
    machine = dict(line.rstrip("\n").split("=", 1)
                   for line in open(os.path.join(folder, "machine.txt")) if "=" in line)
    out = []
    today = datetime.date.today().isoformat()
    out.append("# Extraction benchmark results\n")
    out.append(f"Measured {today} with `bench/run.sh` ({machine['runs']} timed runs per command "
               "after one warm-up; the time is the median). zrk-update is a whole run: "
               "wait for a process that is gone, extraction into staging, the swap into a "
               "prepared install folder (hard links to the old payload), the marker and the "
               "removal of staging and backup, with every staged file, the moves and the "
               "marker flushed to the device on the way. Commands ending in `-sync` or "
               "`-flush` also wait for the device: `sync -f` after the tool, or one fsync "
               "at the end of the floor.\n")
    if machine.get("note"):
        out.append(f"**Note:** {machine['note']}\n")
    out.append("| machine | |\n|---|---|")
    for key in ["cpu", "cores", "memory", "kernel", "filesystem", "zlib", "libzip", "tar",
                "bsdtar", "unzip", "hyperfine", "load"]:
        label = "load average at the end" if key == "load" else key
        out.append(f"| {label} | {machine.get(key, '')} |")
    out.append("")

    medians = {}
    for block, title in BLOCKS:
        path = os.path.join(folder, block + ".json")
        if not os.path.exists(path):
            continue
        size, files = read_size(os.path.join(folder, block + ".size"))
        results = json.load(open(path))["results"]
        times = {r["command"]: r["median"] for r in results}
        medians[block] = times
        us = "zrk-pack" if "zrk-pack" in times else "zrk-update"
        ours = times.get(us)
        out.append(f"## {title}\n")
        out.append(f"{size / 1e6:.0f} MB unpacked in {files:,} files.\n")
        out.append(f"| command | median s | MB/s unpacked | peak RSS MiB | {us} ÷ this |")
        out.append("|---|---:|---:|---:|---:|")
        for r in results:
            name = r["command"]
            rss = read_rss(os.path.join(folder, f"{block}-{name}.rss"))
            rss_text = f"{rss / 1024:.1f}" if rss is not None else "–"
            ratio = f"{ours / r['median']:.2f}" if ours else "–"
            out.append(f"| {name} | {r['median']:.3f} | {size / 1e6 / r['median']:.0f} | "
                       f"{rss_text} | {ratio} |")
        out.append("")

    out.append("## Targets\n")
    out.append("| target | measured | verdict |\n|---|---|---|")
    for block, other, limit in TARGETS:
        times = medians.get(block)
        if not times or other not in times or "zrk-update" not in times:
            continue
        ratio = times["zrk-update"] / times[other]
        out.append(f"| {block}: zrk-update ≤ {limit:.2f}× {other} | {ratio:.2f}× | "
                   f"{verdict(ratio <= limit)} |")
    for block, ours, other, limit in PACK_TARGETS:
        times = medians.get(block)
        if not times or other not in times or ours not in times:
            continue
        ratio = times[ours] / times[other]
        out.append(f"| {block}: {ours} ≤ {limit:.2f}× {other} | {ratio:.2f}× | "
                   f"{verdict(ratio <= limit)} |")
    cores = int(machine.get("cores", "1") or 1)
    for block in ["game-pack-tgz", "small-pack-tgz", "game-pack-zip", "small-pack-zip"]:
        for name, jobs in [("zrk-pack-jobs1", 1), ("zrk-pack", cores)]:
            rss = read_rss(os.path.join(folder, f"{block}-{name}.rss"))
            if rss is None:
                continue
            limit = 16 + 2 * jobs * PACK_MEMBER_MIB
            out.append(f"| {block}: {name} peak RSS ≤ {limit} MiB | {rss / 1024:.1f} MiB | "
                       f"{verdict(rss <= limit * 1024)} |")
    for label, name in [("game-tgz", "game-tgz-zrk-update"), ("game-zip", "game-zip-zrk-update"),
                        ("big tgz", "big-tar.gz"), ("big zip", "big-zip")]:
        rss = read_rss(os.path.join(folder, name + ".rss"))
        if rss is None:
            continue
        if label.startswith("big"):
            size, _ = read_size(os.path.join(folder, "big.size"))
            label += f" ({size / 1e9:.2f} GB unpacked)"
        out.append(f"| {label}: peak RSS ≤ 8 MiB | {rss / 1024:.1f} MiB | "
                   f"{verdict(rss <= RSS_LIMIT_KIB)} |")
    swap_path = os.path.join(folder, "swap.txt")
    if os.path.exists(swap_path):
        text = open(swap_path).read()
        match = re.search(r"swap_payload ([\d.]+) ms, swap and clean-up ([\d.]+) ms", text)
        if match:
            swap_ms, tail_ms = float(match.group(1)), float(match.group(2))
            out.append(f"| swap of 11 items ≤ 50 ms (in process, `swap_payload` through "
                       f"`make_host_fs()`, 5,000 font files) | {swap_ms:.2f} ms "
                       f"(with listing, marker and removal of staging and backup: "
                       f"{tail_ms:.0f} ms) | {verdict(swap_ms <= SWAP_LIMIT_MS)} |")
    out.append("")
    out.append("The log's time stamps have one-second resolution, too coarse for the swap, "
               "so `bench/swap_bench` times it in process.\n")
    print("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
