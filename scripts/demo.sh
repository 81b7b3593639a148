#!/usr/bin/env bash
# The main job: builds the connector if it is missing or out of date, starts the local sandbox,
# runs korvane-connector through its commands against it step by step, and stops the sandbox.
#
#   scripts/demo.sh               the whole tour in a temporary HOME
#   scripts/demo.sh --home DIR    keep the connector's state in DIR instead
#   scripts/demo.sh --gui         also build the window and open it against the sandbox
#   scripts/demo.sh --no-gui      build without the window, even in a build folder made with it
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

demo_home="" open_gui=0 no_gui=0
while (($#)); do
    case "$1" in
        --home) demo_home="$2"; shift 2 ;;
        --gui) open_gui=1; shift ;;
        --no-gui) no_gui=1; shift ;;
        *) echo "usage: scripts/demo.sh [--home DIR] [--gui|--no-gui]" >&2; exit 1 ;;
    esac
done

# Only what the tour runs is built: the connector, and the window when it is asked for. A first
# build folder is made without the window (no Qt needed); one made with it keeps it.
if ((open_gui)); then
    scripts/setup.sh --target korvane-connector --target KorvaneConnectorGUI
elif ((no_gui)) || ! grep -q '^KORVANE_BUILD_GUI:BOOL=ON' build/CMakeCache.txt 2>/dev/null; then
    scripts/setup.sh --no-gui --target korvane-connector
else
    scripts/setup.sh --target korvane-connector
fi

work=$(mktemp -d)
sandbox_pid=""
cleanup() {
    if [[ -n $sandbox_pid ]]; then
        kill "$sandbox_pid" 2>/dev/null || true
        wait "$sandbox_pid" 2>/dev/null || true
    fi
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
step() { printf '\n==== %s\n\n' "$*"; }
# Prints the command and its output; a reason longer than 300 characters is cut here, in the
# tour only (the program's own output is whole).
run() {
    echo "\$ korvane-connector $*"
    local code=0
    "$connector" "$@" >"$work/out" 2>&1 || code=$?
    python3 - "$work/out" <<'PY'
import sys
for line in open(sys.argv[1], encoding='utf-8', errors='replace').read().splitlines():
    if line.startswith('reason=') and len(line) > 307:
        line = '%s ... (%d more characters)' % (line[:307], len(line) - 307)
    print(line)
PY
    ((code == 0)) || echo "(exit $code)"
    echo
}
control() { curl -sS -X POST --data "$2" "$KORVANE_SANDBOX_CONTROL/$1" >/dev/null; }

step "1. What this connector is and knows"
run --version
run status
run capabilities
run exchanges
# What one quantity unit is: OKX counts contracts of 0.01 BTC, Bybit counts coins.
run contract-info okx BTC_USDT
run contract-info bybit BTC_USDT

step "2. Checking API keys live and storing them"
run validate bybit bybit-trade-key bybit-trade-secret
run validate okx okx-key okx-secret okx-pass
run validate gate gate-key gate-secret
run validate bingx bingx-key bingx-secret
run validate kucoin kucoin-key kucoin-secret kucoin-pass
run validate bitget bitget-key bitget-secret bitget-pass
echo "# a wrong passphrase is refused and nothing is stored"
run validate okx okx-key okx-secret wrong-passphrase

step "3. Reading accounts"
for exchange in bybit okx gate bingx kucoin bitget; do run balance "$exchange"; done
run get-position bybit BTC_USDT

step "4. Trading: open, look up, cancel, close"
run place-open bybit BTC_USDT buy 0.01 65000 5
run order-status bybit BTC_USDT 5001
run cancel-order bybit BTC_USDT 5001
run place-open gate BTC_USDT sell 3 64000 3
run place-close gate BTC_USDT sell 3 63000
run place-close okx BTC_USDT buy 0.01 66000
echo "# BingX in hedge mode: the connector learns the mode once and names the position side"
run place-open bingx BTC_USDT buy 0.01 65000 5
run place-close bingx BTC_USDT buy 0.01 66000
echo "# an input that could rewrite a request is refused before anything is sent"
run place-open bybit BTC_USDT Buy 0.01 65000 5

step "5. After the trade: funding and the close report"
run funding bybit BTC_USDT 60
run funding bingx BTC_USDT 60
run close-report gate BTC_USDT

step "6. Pairing with the web terminal"
run server-health
run claim-token demo-bind-token
run bind-status
device_id=$(grep '^device_id=' "$HOME/.korvane-connector/device_identity.env" | cut -d= -f2-)
echo "# the owner signs in the browser (sandbox control request for $device_id)"
control relay/sign '{"token":"demo-bind-token","wallet":"0x1111222233334444555566667777888899990000"}'
run bind-status
run status
run disconnect-binding

step "7. Updates"
run update-check
run update-download

step "8. Demo money and a check of the whole machine"
# A demo-trading key works in its exchange's demo environment only; KuCoin offers none.
run validate --demo bitget bitget-demo-key bitget-demo-secret bitget-demo-pass
run place-open bitget BTC_USDT buy 0.01 65000 5
run validate --demo kucoin kucoin-key kucoin-secret kucoin-pass
run doctor

step "9. Stored credentials"
run load-credentials bybit
run delete-credentials bybit

if ((open_gui)); then
    gui="$top/build/bin/KorvaneConnectorGUI"
    step "10. The desktop window"
    echo "opening $gui against the sandbox; close the window to stop"
    KORVANE_CONNECTOR_PATH="$connector" "$gui"
fi
