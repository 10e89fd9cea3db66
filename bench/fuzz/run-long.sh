#!/bin/sh
# Long fuzzing runs: builds the fuzz targets with clang and runs each for a
# given time over a copy of its seed corpus, then prints per target the runs
# done, the coverage reached (libFuzzer's cov: and ft:) and whether it crashed.
#
#   bench/fuzz/run-long.sh [seconds per target] [target name pattern]
#
# FUZZ_BUILD_DIR (default build/fuzz) is the build folder; FUZZ_JOBS (default
# 2) the build's parallel jobs. Crash inputs are kept under
# <build>/fuzz-long/<target>/ and the full logs next to them.
set -eu
cd "$(dirname "$0")/../.."
seconds="${1:-600}"
pattern="${2:-.}"
build="${FUZZ_BUILD_DIR:-build/fuzz}"
jobs="${FUZZ_JOBS:-2}"

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DSUITE_FUZZ=ON -DSUITE_BUILD_BENCH=OFF \
  >/dev/null
cmake --build "$build" --target suite_fuzz -j "$jobs"

printf '%-24s %12s %8s %8s %s\n' target runs cov ft crashes
for seeds in tests/fuzz/corpus/*/; do
  target="$(basename "$seeds")"
  echo "$target" | grep -Eq -- "$pattern" || continue
  program="$build/bin/$target"
  [ -x "$program" ] || continue
  out="$build/fuzz-long/$target"
  rm -rf "$out"
  mkdir -p "$out/corpus"
  cp -R "$seeds". "$out/corpus/"
  log="$out/log.txt"
  "$program" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$out/" \
    "$out/corpus" >"$log" 2>&1 || true
  runs="$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)"
  [ -n "$runs" ] || runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  cov="$(grep -Eo 'cov: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)"
  ft="$(grep -Eo 'ft: [0-9]+' "$log" | tail -n 1 | cut -d' ' -f2)"
  crashes="$(find "$out" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' \
    -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)"
  printf '%-24s %12s %8s %8s %s\n' "$target" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$crashes"
done
