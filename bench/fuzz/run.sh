#!/bin/bash
# Long fuzzing campaigns: every parser's fuzz target (or the ones named), one after another on one
# core, each for the given time, the grown corpus kept in build/fuzz/campaign/<target> so a later
# campaign continues where this one stopped. Prints executions, findings and seconds per target.
# Usage: bench/fuzz/run.sh [seconds-per-target] [target...]   (default 600 s)
# FUZZ_RUNS=N ends a target after N executions instead (the seconds then only cap it).
set -euo pipefail
cd "$(dirname "$0")/../.."
export FUZZ_CORPUS=${FUZZ_CORPUS:-$PWD/build/fuzz/campaign}
# Over millions of runs the default quarantine (256 MiB) cycles through pages that the allocator
# keeps handing back to the system, and a third of the time went to page faults. A small
# quarantine still catches a use after free within one input.
export FUZZ_ASAN_OPTIONS=${FUZZ_ASAN_OPTIONS:-allocator_release_to_os_interval_ms=-1:quarantine_size_mb=16}
exec tests/run-fuzz.sh "${1:-600}" "${@:2}"
