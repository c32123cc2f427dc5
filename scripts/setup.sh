#!/usr/bin/env bash
# Installs what the Linux build needs and is missing, then configures and
# builds into build/ (or $BUILD_DIR). Sourced by the other scripts.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$top/build}

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

need_packages() {
    local missing=()
    for p in "$@"; do
        dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing ${missing[*]}"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

need_packages g++ cmake ninja-build qtbase5-dev qtbase5-dev-tools python3

cmake -S "$top" -B "$build" -G Ninja ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build"
