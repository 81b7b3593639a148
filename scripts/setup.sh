#!/usr/bin/env bash
# Installs what the build and the tests need (Debian/Ubuntu), then configures and builds.
#
#   scripts/setup.sh                   everything: the connector, the window, the tests
#   scripts/setup.sh --no-gui          without the desktop window (no Qt needed); a build folder
#                                      made with the window is reconfigured without it
#   scripts/setup.sh --developer       warnings stop the build (what scripts/test.sh and CI use)
#   scripts/setup.sh --target NAME     build only NAME (repeatable), e.g. korvane-connector
#   scripts/setup.sh --sanitize|--fuzz only install what those builds need (clang and its runtime);
#                                      scripts/test.sh builds them
#
# As root it installs missing Debian packages with apt-get; otherwise it prints the apt-get line
# to run and stops. On macOS, install the tools with Homebrew (see README.md) first.
set -euo pipefail
cd "$(dirname "$0")/.."

gui=ON werror=OFF targets=() only_packages=false
while (($#)); do
    case "$1" in
        --no-gui) gui=OFF; shift ;;
        --developer) werror=ON; shift ;;
        --target) targets+=(--target "$2"); shift 2 ;;
        --sanitize | --fuzz) only_packages=true; shift ;;
        *) echo "usage: scripts/setup.sh [--no-gui] [--developer] [--target NAME]... [--sanitize|--fuzz]" >&2; exit 1 ;;
    esac
done

packages=(cmake g++ make pkg-config libgtest-dev libcurl4-openssl-dev nlohmann-json3-dev curl openssl xxd python3)
if [[ $gui == ON ]]; then
    # xvfb: the window's tests and screenshots, and `xvfb-run scripts/demo.sh --gui`, need a display.
    packages+=(qt6-base-dev libgl-dev xvfb xauth)
fi
# Signature checks of update images.
packages+=(libsodium-dev)
# The Secret Service: libsecret to build against, and a keyring and bus for its tests.
packages+=(libsecret-1-dev gnome-keyring dbus libsecret-tools)
# The Debian package (cpack -G DEB with dependencies from dpkg-shlibdeps, which reads `file`), and
# man to check the manual page it installs.
packages+=(dpkg-dev file man-db)
if [[ $only_packages == true ]]; then
    packages+=(clang libclang-rt-dev)
fi

missing=()
if command -v dpkg-query >/dev/null 2>&1; then
    for package in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
fi

if ((${#missing[@]})); then
    if [[ $(id -u) -eq 0 ]]; then
        echo "== installing: ${missing[*]}"
        apt-get update
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
    else
        echo "missing packages; install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
fi

if [[ $only_packages == true ]]; then
    exit 0
fi

# Configured every time, so options given now (--no-gui, --developer) win over an older build folder.
echo "== configuring build/ (window: $gui, warnings as errors: $werror)"
# Updates are signed with the publisher's key when KORVANE_UPDATE_PUBLIC_KEY names it (or build/
# was configured with one); without a key the build installs unsigned update images, and the
# configure step says so.
update_key=(-DKORVANE_ALLOW_UNSIGNED_UPDATES=ON)
if [[ -n ${KORVANE_UPDATE_PUBLIC_KEY:-} ]]; then
    update_key=(-DKORVANE_UPDATE_PUBLIC_KEY="$KORVANE_UPDATE_PUBLIC_KEY" -DKORVANE_ALLOW_UNSIGNED_UPDATES=OFF)
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_BUILD_GUI="$gui" \
    -DKORVANE_WARNINGS_AS_ERRORS="$werror" "${update_key[@]}" >/dev/null
echo "== building ${targets[*]:-everything}"
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" ${targets[@]+"${targets[@]}"}
