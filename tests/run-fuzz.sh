#!/bin/bash
# Builds the fuzz preset and runs every parser's fuzz target on a scratch copy of its seed corpus
# (tests/fuzz/corpus/<target>). Prints one line per target; fails on any finding (crash, broken
# property, sanitizer report, leak, time-out). Inputs that broke something are kept in
# build/fuzz/findings/<target>/ to be fixed and then added to the corpus.
# Usage: tests/run-fuzz.sh [seconds-per-target] [target...]   (default 20 s, every target)
# FUZZ_RUNS=N stops a target after N executions instead; FUZZ_CORPUS=dir keeps the grown corpus
# there between runs (bench/fuzz/run.sh uses both); FUZZ_ASAN_OPTIONS adds sanitizer options.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift $(($# > 0 ? 1 : 0))
source_dir=$PWD
build=$source_dir/build/fuzz

cmake --preset fuzz >/dev/null || exit 1
nice cmake --build --preset fuzz --target fuzz_all >/dev/null || { cmake --build --preset fuzz --target fuzz_all; exit 1; }

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for binary in "$build"/tests/fuzz/fuzz_*; do
        targets+=("$(basename "${binary#"$build"/tests/fuzz/fuzz_}")")
    done
fi

scratch=$(mktemp -d /tmp/quill-fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT TERM
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0${FUZZ_ASAN_OPTIONS:+:$FUZZ_ASAN_OPTIONS}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The longest input a target can use; past it, bytes only slow each run down (a target reads a
# fixed number of fields). Targets not named take libFuzzer's own limit.
max_len() {
    case $1 in
    expiry) echo 32 ;;
    group_list | host_identity | ini_file) echo 2048 ;;
    esac
}

failed=()
for name in "${targets[@]}"; do
    binary=$build/tests/fuzz/fuzz_$name
    [ -x "$binary" ] || { echo "run-fuzz.sh: no fuzz target $name" >&2; failed+=("$name"); continue; }
    corpus=${FUZZ_CORPUS:+$FUZZ_CORPUS/$name}
    corpus=${corpus:-$scratch/$name/corpus}
    artifacts=$scratch/$name/artifacts
    mkdir -p "$corpus" "$artifacts"
    [ -d "tests/fuzz/corpus/$name" ] && cp -n tests/fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null
    limit=(-max_total_time="$seconds")
    [ -n "${FUZZ_RUNS:-}" ] && limit=(-runs="$FUZZ_RUNS" -max_total_time=$((seconds > 0 ? seconds : 86400)))
    len=$(max_len "$name")
    [ -n "$len" ] && limit+=(-max_len="$len")
    start=$SECONDS
    nice "$binary" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" >"$scratch/$name.log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$name.log" | tail -1)
    findings=$(find "$artifacts" -type f | wc -l)
    if [ $status -ne 0 ] && [ "$findings" -eq 0 ]; then findings=1; fi
    printf 'fuzz %-14s %12s executions %3d findings %6d s\n' "$name" "${runs:-?}" "$findings" $((SECONDS - start))
    if [ "$findings" -gt 0 ]; then
        failed+=("$name")
        mkdir -p "$build/findings/$name"
        cp "$artifacts"/* "$build/findings/$name/" 2>/dev/null
        grep -E -m 6 'ERROR: [A-Z]|property failed|runtime error|SUMMARY|Test unit written' "$scratch/$name.log" | sed 's/^/    /'
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzz findings in: ${failed[*]} (inputs in $build/findings/)"
    exit 1
fi
echo "No fuzz findings."
