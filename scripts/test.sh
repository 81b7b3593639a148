#!/usr/bin/env bash
# Builds everything that is missing and runs every test: the C++ unit tests, the sandbox's own
# tests and the end-to-end tests of both programs against the sandbox (all through CTest).
# Warnings stop the build here. `scripts/test.sh --no-gui` leaves the window out.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --developer "$@"
export QT_QPA_PLATFORM=offscreen

# A private temporary folder: whatever a test leaves behind is found and reported. Qt keeps its
# runtime folder apart, where it belongs.
scratch=$(mktemp -d)
runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'rm -rf "$scratch" "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"
status=0
TMPDIR="$scratch" ctest --test-dir build --output-on-failure -j 2 || status=$?
leftovers=$(find "$scratch" -mindepth 1 -maxdepth 1 | head -n 20)
if [[ -n $leftovers ]]; then
    echo "tests left these behind in the temporary folder:" >&2
    echo "$leftovers" >&2
    status=1
fi
exit "$status"
