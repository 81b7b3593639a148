#!/usr/bin/env bash
# The peer check: installs the pinned clients, starts the sandbox, runs every client against it and
# prints a table and "N passed, N failed". Not part of CI; needs Node and the npm registry.
set -euo pipefail
cd "$(dirname "$0")"
npm ci --no-audit --no-fund --loglevel=error >&2
log="$(mktemp -t korvane-peers-XXXXXX.jsonl)"
environment="$(mktemp -t korvane-peers-env-XXXXXX)"
(cd .. && exec python3 -m korvane_sandbox --log "$log") > "$environment" &
sandbox=$!
trap 'kill "$sandbox" 2>/dev/null; wait "$sandbox" 2>/dev/null; rm -f "$log" "$environment"' EXIT
for _ in $(seq 100); do
    grep -q KORVANE_SANDBOX_READY "$environment" && break
    sleep 0.1
done
set -a
# shellcheck disable=SC1090
source <(sed 's/^export //' "$environment")
set +a
node check.js
