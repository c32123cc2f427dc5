#!/usr/bin/env bash
# Builds everything and passes every test: the Linux suites, then the
# Windows program cross-built and run under Wine (the 32-bit program where
# this machine starts 32-bit programs, else its 64-bit build).
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/setup.sh"
ctest --test-dir "$build" --output-on-failure -j2 "$@"
source "$here/setup-windows.sh"
VELLIX_WIN64_BUILD="$win64_build" ctest --test-dir "$win_build" --output-on-failure -V -L wine
