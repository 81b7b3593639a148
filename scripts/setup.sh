#!/usr/bin/env bash
# Installs what the build and the tests need (Debian/Ubuntu), then configures and builds.
# Usage: scripts/setup.sh [--no-gui] [--sanitize | --fuzz]
# With --sanitize or --fuzz it only installs what those builds need; scripts/test.sh builds them.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config libgtest-dev libcurl4-openssl-dev nlohmann-json3-dev curl openssl xxd python3
          qt6-base-dev libgl-dev)
gui=ON
if [[ "${1:-}" == "--no-gui" ]]; then
    gui=OFF
    packages=(cmake g++ make pkg-config libgtest-dev libcurl4-openssl-dev nlohmann-json3-dev curl openssl xxd
              python3)
fi

only_packages=false
for option in "$@"; do
    case "$option" in
        --sanitize | --fuzz) only_packages=true && packages+=(clang libclang-rt-dev) ;;
    esac
done

missing=()
if command -v dpkg-query >/dev/null 2>&1; then
    for package in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
fi

if ((${#missing[@]})); then
    line="apt-get install -y ${missing[*]}"
    if [[ $(id -u) -eq 0 ]]; then
        echo "installing: ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $line >/dev/null
    else
        echo "missing packages; install them with:" >&2
        echo "  sudo apt-get update && sudo $line" >&2
        exit 1
    fi
fi

if [[ "$only_packages" == true ]]; then
    exit 0
fi

if [[ ! -f build/CMakeCache.txt ]]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANE_BUILD_GUI="$gui" >/dev/null
fi
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"
