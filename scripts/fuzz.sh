#!/usr/bin/env bash
# Fuzzes the workbook readers with libFuzzer and AddressSanitizer, seeded with the test
# workbooks. Usage: scripts/fuzz.sh [SECONDS=60]. Crashes land in build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/install-deps.sh
command -v clang++ >/dev/null || { as_root=(); [ "$(id -u)" -ne 0 ] && as_root=(sudo); "${as_root[@]}" apt-get install -y -qq clang libclang-rt-14-dev; }
cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELLUMCAST_SANITIZE=ON -DVELLUMCAST_FUZZ=ON -DVELLUMCAST_BUILD_GUI=OFF -DVELLUMCAST_BUILD_TESTS=OFF -DVELLUMCAST_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target fuzz_open_workbook
mkdir -p build-fuzz/corpus build-fuzz/crashes
cp -n tests/fixtures/workbooks/* Samples/* build-fuzz/corpus/ 2>/dev/null || true
build-fuzz/bin/fuzz_open_workbook -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len=262144 \
  -artifact_prefix=build-fuzz/crashes/ build-fuzz/corpus
