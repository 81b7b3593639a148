#!/usr/bin/env bash
# The main job: builds what is missing, starts the local sandbox, runs korvane-connector through
# its commands against it, prints each command and its output, and stops the sandbox.
#
#   scripts/demo.sh               the whole tour in a temporary HOME
#   scripts/demo.sh --home DIR    keep the connector's state in DIR instead
#   scripts/demo.sh --gui         also open the desktop window against the sandbox
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

demo_home="" open_gui=0
while (($#)); do
    case "$1" in
        --home) demo_home="$2"; shift 2 ;;
        --gui) open_gui=1; shift ;;
        *) echo "usage: scripts/demo.sh [--home DIR] [--gui]" >&2; exit 1 ;;
    esac
done

scripts/setup.sh
work=$(mktemp -d)
sandbox_pid=""
cleanup() {
    [[ -n "$sandbox_pid" ]] && kill "$sandbox_pid" 2>/dev/null && wait "$sandbox_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A temporary HOME and a file-backed keychain: the demo never touches real credentials.
export HOME="${demo_home:-$work/home}"
mkdir -p "$HOME"
export KORVANE_KEYCHAIN_TOOL="$top/sandbox/fake_keychain.py"
export KORVANE_FAKE_KEYCHAIN="$HOME/demo-keychain.json"

(cd sandbox && exec python3 -m korvane_sandbox --log "$work/requests.jsonl") >"$work/env" &
sandbox_pid=$!
for _ in $(seq 100); do grep -q KORVANE_SANDBOX_READY "$work/env" 2>/dev/null && break; sleep 0.1; done
# shellcheck disable=SC1091
source "$work/env"

connector="$top/build/bin/korvane-connector"
run() {
    echo "\$ korvane-connector $*"
    "$connector" "$@" || echo "(exit $?)"
    echo
}
control() { curl -sS -X POST --data "$2" "$KORVANE_SANDBOX_CONTROL/$1" >/dev/null; }

run status
run capabilities
run validate bybit bybit-trade-key bybit-trade-secret
run validate okx okx-key okx-secret okx-pass
run validate gate gate-key gate-secret
run validate bingx bingx-key bingx-secret
run validate kucoin kucoin-key kucoin-secret kucoin-pass
run validate bitget bitget-key bitget-secret bitget-pass
run validate okx okx-key okx-secret wrong-passphrase
for exchange in bybit okx gate bingx kucoin bitget; do run balance "$exchange"; done
run get-position bybit BTC_USDT
run place-open bybit BTC_USDT buy 0.01 65000 5
run order-status bybit BTC_USDT 5001
run cancel-order bybit BTC_USDT 5001
run place-open gate BTC_USDT sell 3 64000 3
run place-close gate BTC_USDT sell 3 63000
run place-close okx BTC_USDT buy 0.01 66000
run funding bybit BTC_USDT 60
run close-report gate BTC_USDT
run place-open bybit BTC_USDT Buy 0.01 65000 5
run server-health
run claim-token demo-bind-token
run bind-status
device_id=$(grep '^device_id=' "$HOME/.korvane-connector/device_identity.env" | cut -d= -f2-)
echo "# the owner signs in the browser (sandbox control request for $device_id)"
control relay/sign '{"token":"demo-bind-token","wallet":"0x1111222233334444555566667777888899990000"}'
run bind-status
run status
run disconnect-binding
run update-check
run update-download
run load-credentials bybit
run delete-credentials bybit

if ((open_gui)); then
    gui="$top/build/bin/KorvaneConnectorGUI"
    echo "opening $gui against the sandbox; close the window to stop"
    KORVANE_CONNECTOR_PATH="$connector" "$gui"
fi
