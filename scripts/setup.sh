#!/usr/bin/env bash
# Installs what the Linux build needs and is missing, then configures and
# builds into build/ (or $BUILD_DIR). Sourced by the other scripts.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_DIR:-$top/build}

source "$top/scripts/packages.sh"
need_packages g++ cmake ninja-build qtbase5-dev qtbase5-dev-tools python3

cmake -S "$top" -B "$build" -G Ninja ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build"
