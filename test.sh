#!/usr/bin/env bash
# Set up, build and run every test. Also proves the core and its tests build and pass without the windows.
set -euo pipefail
top="$(cd "$(dirname "$0")" && pwd)"
cd "$top"
scripts/install-deps
scripts/build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2
VARNEX_BUILD_DIR=build/core-only scripts/build -DVARNEX_BUILD_UI=OFF
ctest --test-dir build/core-only --output-on-failure -j2
