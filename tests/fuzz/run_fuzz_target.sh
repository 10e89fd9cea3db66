#!/bin/sh
# Runs a fuzz target over a copy of its seed corpus, so the inputs it finds
# never land among the committed seeds. A crash leaves its input under the
# artifact folder and fails the run.
#   run_fuzz_target.sh <program> <seed corpus dir> <artifact dir> [libFuzzer options...]
set -eu
program="$1"
seeds="$2"
artifacts="$3"
shift 3
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$artifacts"
cp -R "$seeds"/. "$work"/
"$program" -artifact_prefix="$artifacts/" "$@" "$work"
