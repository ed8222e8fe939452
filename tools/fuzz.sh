#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs every one.
#   tools/fuzz.sh [SECONDS]  each target for SECONDS (default 60), growing the
#                            corpus kept in build-fuzz/corpus
#   tools/fuzz.sh --ci       each target for 25 seconds from the seeds alone,
#                            two at a time (about 75 seconds on 2 cores, plus
#                            the first build); what the test command runs
#   tools/fuzz.sh --smoke    each target for a fixed number of runs with seed 1
#                            from the seeds alone (about a minute on 2 cores,
#                            plus the first build)
# Inputs that crash land in build-fuzz/crashes/<target>/, logs in
# build-fuzz/logs/. Exits non-zero when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
smoke=false
fresh=false
case "${1:-}" in
  --smoke) smoke=true ;;
  --ci) seconds=25 fresh=true ;;
  '') ;;
  *[!0-9]*) echo "usage: tools/fuzz.sh [SECONDS | --ci | --smoke]" >&2; exit 2 ;;
  *) seconds=$1 ;;
esac
if ! command -v clang++ >/dev/null || ! command -v clang >/dev/null; then
  echo "tools/fuzz.sh: clang is needed (Debian: apt-get install clang libclang-rt-dev)" >&2
  exit 2
fi

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DZRK_FUZZ=ON -DZRK_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target zrk_fuzz
fuzz/make_seeds.sh "$build/seeds" ${ZRK_CORPUS:+"$ZRK_CORPUS"}

# max_len: names and command lines stay short; four header blocks and a flag
# byte; archives up to 64 KiB leave room for a long-name or pax header.
# tarball_disk stages on disk what tarball stages in memory, so it is slower
# and takes the same inputs, seeds and corpus format.
targets=(member_path tar_header options tarball tarball_disk zip)
declare -A max_len=([member_path]=512 [tar_header]=2049 [options]=1024 [tarball]=65536
  [tarball_disk]=65536 [zip]=65536)
declare -A smoke_runs=([member_path]=300000 [tar_header]=200000 [options]=300000 [tarball]=300000
  [tarball_disk]=20000 [zip]=150000)
declare -A dict=([member_path]=member_path [tar_header]=tar [options]=options [tarball]=tar
  [tarball_disk]=tar [zip]=zip)
declare -A seeds=([tarball_disk]=tarball)

# libFuzzer also learns from compared values, pointers among them, so a run
# repeats itself only without address randomisation.
launcher=()
if $smoke && setarch "$(uname -m)" -R true 2>/dev/null; then
  launcher=(setarch "$(uname -m)" -R)
fi

run_target() {
  local target=$1
  local corpus=$build/corpus/$target
  local crashes=$build/crashes/$target
  local args=(-max_len="${max_len[$target]}" -dict="fuzz/${dict[$target]}.dict" -timeout=20
    -artifact_prefix="$crashes/" -print_final_stats=1)
  if $smoke; then
    corpus=$build/smoke-corpus/$target
    rm -rf "$corpus"
    args+=(-seed=1 -runs="${smoke_runs[$target]}" -reload=0)
  elif $fresh; then
    # Nothing carried over from earlier runs, so every CI run starts alike.
    corpus=$build/ci-corpus/$target
    rm -rf "$corpus"
    args+=(-max_total_time="$seconds")
  else
    args+=(-max_total_time="$seconds")
  fi
  local seed_dir=$build/seeds/${seeds[$target]:-$target}
  mkdir -p "$corpus" "$crashes"
  "${launcher[@]}" "$build/fuzz/${target}_fuzz" "${args[@]}" "$corpus" "$seed_dir" \
    >"$build/logs/$target.log" 2>&1
}

rm -rf "$build/logs"
mkdir -p "$build/logs"
# One target per core at a time.
declare -A pids=()
failed=()
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  run_target "$target" &
  pids[$target]=$!
done
for target in "${targets[@]}"; do
  if wait "${pids[$target]}"; then result=ok; else result=FAILED; failed+=("$target"); fi
  log=$build/logs/$target.log
  coverage=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1 |
    grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  stat() { grep -oE "stat::$1: *[0-9]+" "$log" | grep -oE '[0-9]+$' || echo '?'; }
  echo "$target: $result, $(stat number_of_executed_units) runs," \
    "$(stat average_exec_per_sec) exec/s, ${coverage:-no coverage line}"
done
if [ "${#failed[@]}" -gt 0 ]; then
  echo "failed: ${failed[*]} (see $build/logs and $build/crashes)" >&2
  exit 1
fi
