#!/usr/bin/env bash
# Builds everything and runs every test suite.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cd "$build"
ctest --output-on-failure -j2 "$@"
