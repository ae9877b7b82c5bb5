#!/usr/bin/env bash
# Fuzzes the workbook readers with libFuzzer and AddressSanitizer, seeded with the test
# workbooks, then the OpenDocument content scanner (its direct cell path against the
# general one), seeded with the content of the test spreadsheets.
# Usage: scripts/fuzz.sh [SECONDS=60] (each target). Crashes land in build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/install-deps.sh
command -v clang++ >/dev/null || { as_root=(); [ "$(id -u)" -ne 0 ] && as_root=(sudo); "${as_root[@]}" apt-get install -y -qq clang libclang-rt-14-dev; }
cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELLUMCAST_SANITIZE=ON -DVELLUMCAST_FUZZ=ON -DVELLUMCAST_BUILD_GUI=OFF -DVELLUMCAST_BUILD_TESTS=OFF -DVELLUMCAST_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target fuzz_open_workbook fuzz_ods_content
mkdir -p build-fuzz/corpus build-fuzz/corpus-ods build-fuzz/crashes
cp -n tests/fixtures/workbooks/* Samples/* build-fuzz/corpus/ 2>/dev/null || true
# The content scanner's inputs: a byte choosing the piece size, then content.xml.
python3 - <<'PY'
import glob, os, zipfile
for path in glob.glob("tests/fixtures/workbooks/*.ods") + glob.glob("Samples/*.ods"):
    try:
        content = zipfile.ZipFile(path).read("content.xml")[:262143]
    except Exception:
        continue
    with open(os.path.join("build-fuzz/corpus-ods", os.path.basename(path) + ".xml"), "wb") as out:
        out.write(b"\x03" + content)
PY
build-fuzz/bin/fuzz_open_workbook -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len=262144 \
  -artifact_prefix=build-fuzz/crashes/ build-fuzz/corpus
build-fuzz/bin/fuzz_ods_content -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -max_len=262144 \
  -artifact_prefix=build-fuzz/crashes/ods- build-fuzz/corpus-ods
