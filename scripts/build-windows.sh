#!/usr/bin/env bash
# Cross-builds the 32-bit Windows program: build-win/bin/VellixContextMenu.exe
# and FileAssociation.dll; `cmake --install build-win --prefix FOLDER` lays
# them out with the Qt and compiler run-time DLLs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup-windows.sh"
ls -l "$win_build/bin/VellixContextMenu.exe" "$win_build/bin/FileAssociation.dll"
