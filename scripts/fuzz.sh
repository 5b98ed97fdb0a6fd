#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a given time,
# then prints, per target, the inputs run and the findings (crash, leak,
# time-out and out-of-memory files written).
#   scripts/fuzz.sh [SECONDS] [TARGET[:SECONDS] ...]
# SECONDS defaults to 60 per target (a target's own :SECONDS wins); without
# TARGETs every fuzz/*.cpp runs.
# Inputs that find something are kept under build-fuzz/findings/<target>/.
# The exit status is 1 when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTQ_BUILD_FUZZ=ON -DTQ_BUILD_BENCH=OFF -DTQ_BUILD_TESTS=OFF >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
build_targets=()
for t in "${targets[@]}"; do build_targets+=("fuzz_${t%%:*}"); done
cmake --build build-fuzz -j"$(nproc)" --target "${build_targets[@]}"

# The targets write their inputs to files of a relocated system: in memory
# they run several times faster than on a disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

status=0
printf '%-20s %14s %10s %s\n' target inputs findings seconds
for entry in "${targets[@]}"; do
  t="${entry%%:*}"
  time_for="$seconds"
  [ "$entry" != "$t" ] && time_for="${entry#*:}"
  # Absolute paths: a target may change its working directory.
  work="$PWD/build-fuzz/runs/$t"
  findings="$PWD/build-fuzz/findings/$t"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$findings"
  [ -d "fuzz/corpus/$t" ] && cp -r "fuzz/corpus/$t/." "$work/corpus/"
  log="$work/fuzz.log"
  set +e
  "build-fuzz/fuzz/fuzz_$t" "$work/corpus" -max_total_time="$time_for" -print_final_stats=1 \
    -artifact_prefix="$findings/" -timeout=10 -rss_limit_mb=2048 >"$log" 2>&1
  set -e
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1 || true)
  found=$(find "$findings" -type f | wc -l)
  printf '%-20s %14s %10s %s\n' "$t" "${runs:-?}" "$found" "$time_for"
  if [ "$found" -gt 0 ]; then
    status=1
    grep -m3 -E 'ERROR|SUMMARY' "$log" || true
  fi
done
exit $status
