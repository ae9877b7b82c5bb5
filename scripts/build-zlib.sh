#!/usr/bin/env bash
# Builds the engine with zlib in place of ISA-L, in a build folder of its own, and runs
# the engine's tests there: the build that platforms without ISA-L get.
# Usage: scripts/build-zlib.sh [BUILD_DIR]   (default: build-zlib)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-zlib}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUMCAST_WERROR=ON -DVELLUMCAST_ZLIB=ON \
  -DVELLUMCAST_BUILD_GUI=OFF "${launcher[@]}"
cmake --build "$build" -j"$(nproc)" --target test_spreadsheet vellumcast-cli
LC_ALL=C.UTF-8 TZ=UTC "$build/bin/test_spreadsheet" --gtest_brief=1
