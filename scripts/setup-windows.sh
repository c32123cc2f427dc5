#!/usr/bin/env bash
# Installs what the Windows cross build and its Wine suite need and are
# missing, then cross-builds into build-win/ (or $WIN_BUILD_DIR): MinGW-w64
# i686 with the Qt 5 for Windows from shared/toolchains/qt5-win32, unpacked
# into the build folder. Sourced by the other scripts.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
win_build=${WIN_BUILD_DIR:-$top/build-win}
source "$top/scripts/packages.sh"
need_packages cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 icoutils python3 xz-utils

cmake -S "$top" -B "$win_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake" >/dev/null
cmake --build "$win_build"
