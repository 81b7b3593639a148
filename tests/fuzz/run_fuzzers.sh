#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in BUILD_DIR (default build-fuzz/) and runs each for
# KORVANE_FUZZ_SECONDS seconds (default 20) on a scratch copy of its committed corpus, which is
# never written. Prints one line per target and "N passed, N failed" last; exits 1 when any
# target found a crash or a broken property (its input is kept in BUILD_DIR/fuzz-runs/NAME/).
# Usage: tests/fuzz/run_fuzzers.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build-fuzz}"
seconds="${KORVANE_FUZZ_SECONDS:-20}"

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_BUILD_GUI=OFF \
    -DKORVANE_SANITIZE=ON -DKORVANE_BUILD_FUZZERS=ON -DKORVANE_ALLOW_UNSIGNED_UPDATES=ON >/dev/null
cmake --build "$build" -j 2

runs="$build/fuzz-runs"
rm -rf "$runs"
passed=0
failed=0
while read -r name; do
    [[ -n "$name" ]] || continue
    dir="$runs/$name"
    mkdir -p "$dir/corpus"
    cp tests/fuzz/corpus/"$name"/* "$dir/corpus/"
    if "$build/bin/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus" >"$dir/log" 2>&1; then
        executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
        echo "fuzz_$name: passed, ${executed:-?} inputs in ${seconds} s"
        passed=$((passed + 1))
    else
        echo "fuzz_$name: FAILED; the end of its log ($dir/log):"
        tail -n 60 "$dir/log"
        echo "the failing input (add it to tests/fuzz/corpus/$name/ once mended):"
        ls "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* 2>/dev/null || true
        failed=$((failed + 1))
    fi
done <"$build/fuzz_targets.txt"

echo "$passed passed, $failed failed"
[[ "$failed" -eq 0 ]]
