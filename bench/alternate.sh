#!/usr/bin/env bash
# Times commands in turn, one run of each per round, instead of each command's
# runs in a row as hyperfine does. The game update writes 453 MB, and the
# device's state after the runs before moves a run's time by a quarter; taking
# turns gives every command the same share of that. Writes the times and
# medians as JSON in hyperfine's form.
#
#   bench/alternate.sh OUT.json ROUNDS DATASET ARCHIVE WORK TRASH name=command...
#
# In a command, ARCHIVE is DATASET/ARCHIVE and OUT its own output folder: an
# empty one, or for a name that starts with zrk-update (zrk-update-before and
# zrk-update-after, when two builds are compared) a fresh install folder (hard
# links to the old payload). Each run starts after a sync; old output is
# renamed into TRASH.
set -euo pipefail
json=$1 rounds=$2 set=$3 archive=$4 work=$5 trash=$6
shift 6
times=$(mktemp)
trap 'rm -f "$times"' EXIT
for round in $(seq 0 "$rounds"); do
  for pair in "$@"; do
    name=${pair%%=*}
    cmd=${pair#*=}
    out=$work/alternate-$name
    [ ! -e "$out" ] || mv "$out" "$trash/$(date +%s%N)"
    if [[ $name == zrk-update* ]]; then cp -al "$set/tree/Z-Ravelkin" "$out"; else mkdir "$out"; fi
    sync
    cmd=${cmd//ARCHIVE/$set/$archive}
    cmd=${cmd//OUT/$out}
    start=$(date +%s%N)
    bash -c "$cmd" >/dev/null
    end=$(date +%s%N)
    # Round 0 warms the caches, as hyperfine's warm-up run does.
    [ "$round" = 0 ] || echo "$name $(((end - start) / 1000))" >>"$times"
  done
done
for pair in "$@"; do
  [ ! -e "$work/alternate-${pair%%=*}" ] || mv "$work/alternate-${pair%%=*}" "$trash/$(date +%s%N)"
done
python3 - "$times" "$json" "$@" <<'PY'
import json, statistics, sys
times = {}
for line in open(sys.argv[1]):
    name, micros = line.split()
    times.setdefault(name, []).append(int(micros) / 1e6)
names = [pair.split("=", 1)[0] for pair in sys.argv[3:]]
results = [{"command": n, "times": times[n], "median": statistics.median(times[n])} for n in names]
json.dump({"results": results}, open(sys.argv[2], "w"), indent=1)
for r in results:
    print(f"  {r['command']}: median {r['median']:.3f} s of {len(r['times'])}")
PY
