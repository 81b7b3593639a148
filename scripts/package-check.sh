#!/usr/bin/env bash
# Builds the Debian package from an ordinary build folder, installs it with apt-get as a user would,
# runs the installed program from /usr/bin (against the local sandbox for a command that needs the
# network), checks the manual page, completions and (with the window) desktop entry are in place,
# then purges the package and whatever it pulled in. Nothing is left installed, so it can run again.
#
#   scripts/package-check.sh [BUILD_FOLDER]     default: build (as scripts/setup.sh makes it)
#
# Needs root (or sudo) for apt-get. A korvane-connector package already installed on this machine
# is replaced and then purged.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${1:-build}

as_root=()
if [[ $(id -u) -ne 0 ]]; then
    as_root=(sudo)
fi
apt_get() {
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=300 -q "$@"
}

if [[ ! -f $build/CMakeCache.txt ]]; then
    echo "no build folder at $build: run scripts/setup.sh first" >&2
    exit 1
fi

failures=0
check() {  # check DESCRIPTION COMMAND...: runs COMMAND, reports and counts a failure
    local description=$1
    shift
    if "$@"; then
        echo "ok: $description"
    else
        echo "FAILED: $description" >&2
        failures=$((failures + 1))
    fi
}

workdir=$(mktemp -d)
sandbox_pid=""
pulled_in=()
cleanup() {
    if [[ -n $sandbox_pid ]]; then
        kill "$sandbox_pid" 2>/dev/null || true
        wait "$sandbox_pid" 2>/dev/null || true
    fi
    if dpkg-query -W -f='${Status}' korvane-connector 2>/dev/null | grep -q "ok installed"; then
        echo "== purging korvane-connector ${pulled_in[*]}"
        apt_get purge -y korvane-connector ${pulled_in[@]+"${pulled_in[@]}"} >/dev/null
    fi
    rm -rf "$workdir"
}
trap cleanup EXIT

echo "== building the package in $build"
cmake --build "$build" -j 2 >/dev/null
rm -f "$build"/korvane-connector_*.deb
(cd "$build" && cpack -G DEB >"$workdir/cpack.log") || { cat "$workdir/cpack.log" >&2; exit 1; }
debs=("$build"/korvane-connector_*.deb)
if [[ ${#debs[@]} -ne 1 || ! -f ${debs[0]} ]]; then
    echo "cpack made no korvane-connector_<version>_<arch>.deb" >&2
    exit 1
fi
deb=${debs[0]}
if [[ $deb != /* ]]; then
    deb=./$deb  # apt-get takes a file only when the name holds a slash
fi
echo "== $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
with_window=false
dpkg-deb -c "$deb" >"$workdir/contents"
if grep -q '/usr/bin/KorvaneConnectorGUI$' "$workdir/contents"; then
    with_window=true
fi

dpkg-query -W -f='${Package}\n' | sort >"$workdir/before"
echo "== apt-get install $deb"
apt_get install -y "$deb" >"$workdir/apt.log" || { cat "$workdir/apt.log" >&2; exit 1; }
dpkg-query -W -f='${Package}\n' | sort >"$workdir/after"
mapfile -t pulled_in < <(comm -13 "$workdir/before" "$workdir/after" | grep -vx korvane-connector || true)
if ((${#pulled_in[@]})); then
    echo "== it pulled in: ${pulled_in[*]} (purged again at the end)"
fi

installed=/usr/bin/korvane-connector
# Every run gets a home of its own: the program sets up its folder there on every start, and the
# check must leave nothing in the caller's home.
mkdir -m 700 "$workdir/home"
in_home() {
    HOME="$workdir/home" "$@"
}
check "$installed is the installed program" [ "$(dpkg -S "$installed" 2>/dev/null)" = "korvane-connector: $installed" ]
expected_version=$(in_home "$build/bin/korvane-connector" --version)
check "--version prints '$expected_version'" [ "$(in_home "$installed" --version)" = "$expected_version" ]
check "help lists the commands" grep -q '^commands:' <(in_home "$installed" help)

# The sandbox, as the end-to-end tests start it; its export lines point the program at it.
(cd sandbox && exec python3 -m korvane_sandbox --log "$workdir/requests.jsonl") >"$workdir/sandbox.env" &
sandbox_pid=$!
for _ in $(seq 100); do
    grep -q '^export KORVANE_SANDBOX_READY=' "$workdir/sandbox.env" && break
    sleep 0.1
done
pointers=()
while IFS= read -r line; do
    case $line in
        export\ KORVANE_*_URL=http://127.0.0.1:*) pointers+=("${line#export }") ;;
    esac
done <"$workdir/sandbox.env"
if ((${#pointers[@]} == 0)); then
    echo "the sandbox did not start" >&2
    exit 1
fi
in_sandbox() {
    env -i PATH=/usr/bin:/bin HOME="$workdir/home" "${pointers[@]}" \
        KORVANE_KEYCHAIN_TOOL="$top/sandbox/fake_keychain.py" KORVANE_FAKE_KEYCHAIN="$workdir/home/keychain.json" \
        "$installed" "$@"
}
# The sandbox's sample account; the key and secret go through standard input, as the window sends them.
printf '%s\n%s\n' bybit-trade-key bybit-trade-secret | in_sandbox validate bybit - - >"$workdir/validate.out" || true
check "validate bybit against the sandbox" grep -q '^status=valid' "$workdir/validate.out"
in_sandbox balance bybit >"$workdir/balance.out" || true
check "balance bybit reads the sandbox account" grep -q '^{"status":"ok".*"1250.5"' "$workdir/balance.out"
check "the sandbox saw the installed program's requests" grep -q '"site": "bybit"' "$workdir/requests.jsonl"

if command -v man >/dev/null 2>&1; then
    check "man -w korvane-connector finds the page" man -w korvane-connector
fi
check "the manual page is installed" [ -f /usr/share/man/man1/korvane-connector.1.gz ]
bash_completion=/usr/share/bash-completion/completions/korvane-connector
check "bash completion is installed" [ -f $bash_completion ]
check "zsh completion is installed" [ -f /usr/share/zsh/vendor-completions/_korvane-connector ]
completes() {  # completes "WORDS..." EXPECTED: the installed bash completion offers EXPECTED
    bash -c 'source "$1"; COMP_WORDS=($2); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _korvane_connector
             [[ " ${COMPREPLY[*]} " == *" $3 "* ]]' _ "$bash_completion" "$1" "$2"
}
check "Tab completes 'korvane-connector bal' to balance" completes "korvane-connector bal" balance
check "Tab completes 'korvane-connector balance ok' to okx" completes "korvane-connector balance ok" okx
if [[ $with_window == true ]]; then
    check "the window's desktop entry is installed" [ -f /usr/share/applications/korvane-connector.desktop ]
    check "the window's icon is installed" [ -f /usr/share/icons/hicolor/scalable/apps/korvane-connector.svg ]
    check "the window's manual page is installed" [ -f /usr/share/man/man1/KorvaneConnectorGUI.1.gz ]
fi

echo "== apt-get purge -y korvane-connector"
apt_get purge -y korvane-connector ${pulled_in[@]+"${pulled_in[@]}"} >/dev/null
check "purge removed the program" [ ! -e "$installed" ]
check "purge removed the completions and manual page" \
    [ ! -e $bash_completion -a ! -e /usr/share/man/man1/korvane-connector.1.gz ]
check "no korvane-connector package is left" \
    sh -c '! dpkg-query -W -f="\${Status}" korvane-connector 2>/dev/null | grep -q "ok installed"'

if ((failures)); then
    echo "$failures package check(s) failed" >&2
    exit 1
fi
echo "package checks passed"
