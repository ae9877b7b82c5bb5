#!/usr/bin/env bash
# The Python module measured, in one run:
#  - reading the rows of the generated workbook of ROWS rows by 10 columns (default 100000:
#    a million cells) with vellumcast, as displayed and raw, against openpyxl read-only and
#    pandas.read_excel (bench/python_bench.py), time and peak memory as ratios;
#  - with CALLGRIND=1, the command line's instructions on that workbook built with the
#    engine position-independent (as the module needs it) against built without, under
#    callgrind: the Python build must not slow the command line.
# Usage: bench/python-bench.sh [ROWS]   (INSTALL=1 installs openpyxl, pandas and valgrind first)
set -euo pipefail
cd "$(dirname "$0")/.."
rows=${1:-100000}
work=${WORK:-/tmp/vellumcast-bench}
mkdir -p "$work"
python=/usr/bin/python3

if [ "${INSTALL:-0}" = 1 ]; then
  sudo_=(); [ "$(id -u)" -ne 0 ] && sudo_=(sudo)
  "${sudo_[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    python3-openpyxl python3-pandas valgrind >/dev/null
fi

# The module and the generator, built as CI builds them (the dev preset turns the module on).
cmake --preset dev >/dev/null
cmake --build --preset dev -j"$(nproc)" --target _vellumcast generate_xlsx vellumcast-cli >/dev/null
workbook=$work/python-$rows.xlsx
[ -f "$workbook" ] || build/bin/generate_xlsx "$workbook" "$rows"

PYTHONPATH=build/python "$python" bench/python_bench.py "$workbook" "${REPEAT:-3}"

if [ "${CALLGRIND:-0}" = 1 ]; then
  # Two Release builds of the command line alone, alike but for the module.
  for variant in pic:ON plain:OFF; do
    name=${variant%%:*}
    cmake -S . -B "$work/build-$name" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLUMCAST_BUILD_GUI=OFF \
      -DVELLUMCAST_BUILD_TESTS=OFF -DVELLUMCAST_BUILD_BENCH=OFF -DVELLUMCAST_PYTHON="${variant#*:}" >/dev/null
    cmake --build "$work/build-$name" -j"$(nproc)" --target vellumcast-cli >/dev/null
  done
  instructions() { # the instructions callgrind counts for the command line on the workbook
    local out; out=$(mktemp -d)
    valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" "$1" -q -j 1 -m sheet -o "$out" "$workbook" \
      2>&1 | sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
    rm -rf "$out"
  }
  plain=$(instructions "$work/build-plain/bin/vellumcast-cli")
  pic=$(instructions "$work/build-pic/bin/vellumcast-cli")
  echo "== callgrind, vellumcast-cli -m sheet on $(basename "$workbook")"
  printf '  %-40s %14d instructions\n' "engine as before" "$plain" "engine position-independent" "$pic"
  awk -v a="$pic" -v b="$plain" 'BEGIN { printf "  position-independent x before %.4f\n", a / b }'
fi
