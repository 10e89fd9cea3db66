#!/bin/sh
# Long fuzzing runs: builds the fuzz targets with clang and runs each for a
# given time over a copy of its seed corpus, then prints per target the runs
# done, the coverage reached (libFuzzer's cov: and ft:), the seconds it ran
# and how many crash, leak, timeout or out-of-memory inputs it left.
#
#   bench/fuzz/run-long.sh [seconds per target] [target name pattern]
#
# FUZZ_BUILD_DIR (default build/fuzz) is the build folder; FUZZ_JOBS (default
# 2) the build's parallel jobs; FUZZ_PARALLEL (default 1) how many targets run
# at the same time (each on one core). Crash inputs are kept under
# <build>/fuzz-long/<target>/ and the full logs next to them.
set -eu
cd "$(dirname "$0")/../.."
seconds="${1:-600}"
pattern="${2:-.}"
build="${FUZZ_BUILD_DIR:-build/fuzz}"
jobs="${FUZZ_JOBS:-2}"
parallel="${FUZZ_PARALLEL:-1}"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DSUITE_FUZZ=ON -DSUITE_BUILD_BENCH=OFF \
  >/dev/null
cmake --build "$build" --target suite_fuzz -j "$jobs"

# Runs one target and leaves its table row in <out>/row.txt.
run_target() {
  target="$1"
  seeds="tests/fuzz/corpus/$target/"
  program="$build/bin/$target"
  out="$build/fuzz-long/$target"
  rm -rf "$out"
  mkdir -p "$out/corpus"
  cp -R "$seeds". "$out/corpus/"
  log="$out/log.txt"
  start="$(date +%s)"
  "$program" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/" \
    "$out/corpus" >"$log" 2>&1 || true
  took=$(($(date +%s) - start))
  runs="$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)"
  [ -n "$runs" ] || runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  cov="$(grep -Eo 'cov: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)"
  ft="$(grep -Eo 'ft: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)"
  crashes="$(find "$out" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
    -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)"
  printf '%-24s %12s %8s %8s %6s %s\n' "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$took" \
    "$crashes" >"$out/row.txt"
}

targets=""
for seeds in tests/fuzz/corpus/*/; do
  target="$(basename "$seeds")"
  echo "$target" | grep -Eq -- "$pattern" || continue
  [ -x "$build/bin/$target" ] || continue
  targets="$targets $target"
done

running=0
for target in $targets; do
  run_target "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait
    running=0
  fi
done
wait

printf '%-24s %12s %8s %8s %6s %s\n' target runs cov ft secs crashes
for target in $targets; do
  cat "$build/fuzz-long/$target/row.txt"
done
