#!/usr/bin/env bash
# Builds everything that is missing and runs every test: the C++ unit tests, the sandbox's own
# tests and the end-to-end tests of both programs against the sandbox (all through CTest).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j 2
