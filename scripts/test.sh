#!/usr/bin/env bash
# Installs what the tests need, builds with AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs every suite: unit, gui, unix (real shadow-utils in a private namespace), ad (a real Samba
# domain controller on 127.0.0.3), member (a Samba member server on 127.0.0.7 joined to a copy of
# that controller), fuzz (the parsers' fuzz targets), package (the .deb built,
# installed on this machine and driven through polkit) and win32 (the cross-built .exe under wine).
# Needs root for the namespaces and the domain controller. Exits non-zero when any suite fails.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all || exit 1

build=build/asan
cmake --preset asan >/dev/null || exit 1
cmake --build --preset asan || exit 1

# Leaks in the system's own SASL and Kerberos libraries are not ours to report.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

failed=()
run() {
    local name=$1
    shift
    echo "=== suite: $name"
    if "$@"; then
        echo "=== suite $name: passed"
    else
        echo "=== suite $name: FAILED"
        failed+=("$name")
    fi
}

run unit ctest --test-dir "$build" -L unit --output-on-failure
for suite in gui unix ad member; do
    run "$suite" "tests/run-$suite.sh" "$build"
done
# Every parser's fuzz target, 20 s each on its seed corpus (its own clang build, preset fuzz).
run fuzz tests/run-fuzz.sh 20
# The Debian package: built, checked, installed here and driven through polkit as users would.
run package tests/run-package.sh "$build"
# The Windows build is its own cross build (preset windows), run under wine.
run win32 tests/run-win32.sh build/windows

if [ ${#failed[@]} -gt 0 ]; then
    echo "Failed suites: ${failed[*]}"
    exit 1
fi
echo "All suites passed."
