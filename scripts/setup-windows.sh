#!/usr/bin/env bash
# Installs what the Windows cross builds and their Wine suite need and are
# missing, then cross-builds into build-win/ (or $WIN_BUILD_DIR) the 32-bit
# program, the product: MinGW-w64 i686 with the Qt 5 for Windows from
# shared/toolchains/qt5-win32. 32-bit Wine is a wish, not a need: where it
# cannot be installed or cannot start (or VELLIX_WINE_BUILD=win64 asks for
# it), also the same sources for 64-bit Windows into build-win64/ (or
# $WIN64_BUILD_DIR), which 64-bit Wine runs instead. Sourced by the other
# scripts; sets win_build, and win64_build when it built that too.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
win_build=${WIN_BUILD_DIR:-$top/build-win}
win64_build=""
source "$top/scripts/packages.sh"
source "$top/tests/wine/wine_choice.sh"
need_packages cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine64 \
    icoutils python3 xz-utils
if [ "${VELLIX_WINE_BUILD:-}" != win64 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    want_packages wine32:i386 || true
fi

cmake -S "$top" -B "$win_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-i686.cmake" >/dev/null
cmake --build "$win_build"

win64_reason=$(why_win64)
if [ -n "$win64_reason" ]; then
    echo "building the 64-bit Windows build too, for 64-bit Wine: $win64_reason"
    need_packages g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    win64_build=${WIN64_BUILD_DIR:-$top/build-win64}
    cmake -S "$top" -B "$win64_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-x86_64.cmake" >/dev/null
    cmake --build "$win64_build"
fi
