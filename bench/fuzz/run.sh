#!/bin/bash
# Long fuzzing campaigns: every parser's fuzz target (or the ones named), one after another on one
# core, each for the given time, the grown corpus kept in build/fuzz/campaign/<target> so a later
# campaign continues where this one stopped. Prints executions, findings and seconds per target.
# Usage: bench/fuzz/run.sh [seconds-per-target] [target...]   (default 600 s)
# FUZZ_RUNS=N ends a target after N executions instead (the seconds then only cap it).
set -euo pipefail
cd "$(dirname "$0")/../.."
export FUZZ_CORPUS=${FUZZ_CORPUS:-$PWD/build/fuzz/campaign}
exec tests/run-fuzz.sh "${1:-600}" "${@:2}"
