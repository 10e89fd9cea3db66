#!/bin/sh
# Longer forms of the load and soak tests: Quillon's full-rate scans and its
# unplug/replug cycles, and the echo test between two consoles, each made
# SCALE times longer (default 10: 100,000 scans, 500 unplugs, 1 GB of echo).
#
#   bench/soak/run-long.sh [scale]
#
# SOAK_BUILD_DIR (default build/normal) is the build folder; it is configured
# and the programs built when needed (SOAK_JOBS parallel jobs, default 2).
set -eu
cd "$(dirname "$0")/../.."
scale="${1:-10}"
build="${SOAK_BUILD_DIR:-build/normal}"
jobs="${SOAK_JOBS:-2}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target quillon_soak_tests vantrel_app_test quillon scansim \
  vantrel ovrixd

export SUITE_SOAK_SCALE="$scale" SUITE_BIN_DIR="$(pwd)/$build/bin" SUITE_SOURCE_DIR="$(pwd)"
status=0
run() {
  started=$(date +%s)
  if "$@" >"$build/soak-$(basename "$1").log" 2>&1; then result=passed; else result=FAILED; status=1; fi
  echo "$(basename "$1") ${2#--gtest_filter=}: $result in $(( $(date +%s) - started )) s" \
    "(log: $build/soak-$(basename "$1").log)"
}
echo "soak scale $scale"
run "$build/bin/quillon_soak_tests" --gtest_filter='*'
run "$build/bin/vantrel_app_test" --gtest_filter='EchoPair.HundredMegabytes*'
exit $status
