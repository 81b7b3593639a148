#!/usr/bin/env bash
# Builds everything that is missing and runs every test: the C++ unit tests, the sandbox's own
# tests and the end-to-end tests of both programs against the sandbox (all through CTest).
# Warnings stop the build here.
#
#   scripts/test.sh [--no-gui]   the ordinary build, in build/
#   scripts/test.sh --sanitize   the same suite built with AddressSanitizer and
#                                UndefinedBehaviorSanitizer (no window), in build-asan/
#   scripts/test.sh --fuzz       each libFuzzer target for a bounded time, in build-fuzz/
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ "${1:-}" == "--fuzz" ]]; then
    scripts/setup.sh --no-gui --fuzz
    exec tests/fuzz/run_fuzzers.sh build-fuzz
fi

# Runs ctest in build folder $1 with a private temporary folder: whatever a test leaves behind is
# found and reported. Qt keeps its runtime folder apart, where it belongs.
run_ctest() {
    local scratch runtime status=0
    scratch=$(mktemp -d)
    runtime=$(mktemp -d)
    chmod 700 "$runtime"
    XDG_RUNTIME_DIR="$runtime" TMPDIR="$scratch" QT_QPA_PLATFORM=offscreen \
        ctest --test-dir "$1" --output-on-failure -j 2 || status=$?
    local leftovers
    leftovers=$(find "$scratch" -mindepth 1 -maxdepth 1 | head -n 20)
    if [[ -n $leftovers ]]; then
        echo "tests left these behind in the temporary folder:" >&2
        echo "$leftovers" >&2
        status=1
    fi
    rm -rf "$scratch" "$runtime"
    return "$status"
}

if [[ "${1:-}" == "--sanitize" ]]; then
    scripts/setup.sh --no-gui --sanitize
    # clang: g++ with the sanitizers warns falsely (maybe-uninitialized) inside the standard
    # library. -O1 keeps the run quick and the stack traces exact; Debug keeps the assertions.
    cmake -S . -B build-asan -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
        -DKORVANE_BUILD_GUI=OFF -DKORVANE_SANITIZE=ON -DKORVANE_WARNINGS_AS_ERRORS=ON >/dev/null
    cmake --build build-asan -j 2
    # Reports go to files, not standard error: a test that expects a failing exit code or reads
    # standard error must not hide a finding, so any report fails the run below.
    logs="$PWD/build-asan/sanitizer-logs"
    rm -rf "$logs" && mkdir -p "$logs"
    leaks=""
    if [[ "$(uname)" == Linux ]]; then
        leaks="detect_leaks=1:"  # LeakSanitizer is not there on macOS
    fi
    export ASAN_OPTIONS="${leaks}detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1:log_path=$logs/asan"
    export UBSAN_OPTIONS="print_stacktrace=1:log_path=$logs/ubsan"
    status=0
    run_ctest build-asan || status=$?
    if compgen -G "$logs/*" >/dev/null; then
        echo "sanitizer findings (reports in $logs):"
        for report in "$logs"/*; do
            echo "--- $(basename "$report") ($(wc -c <"$report") bytes)"
            cat "$report"
        done
        status=1
    fi
    exit "$status"
fi

scripts/setup.sh --developer "$@"
run_ctest build
