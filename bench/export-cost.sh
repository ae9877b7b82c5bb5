#!/usr/bin/env bash
# Compares the instructions two builds of vellumcast-cli execute (callgrind's count, which a
# shared machine's load does not move) exporting the generated benchmark workbooks, one
# text per worksheet into a folder; prints new / old per workbook.
# Usage: bench/export-cost.sh OLD_CLI NEW_CLI [ROWS]   (default: 100000 rows; the xls 65536)
set -uo pipefail
declare -A cli=([old]=$(realpath "$1") [new]=$(realpath "$2")) ir=()
rows=${3:-100000}
cd "$(dirname "$0")/.." || exit 1
build=${BUILD:-build}
work=${WORK:-/tmp/vellumcast-bench}
mkdir -p "$work"
cmake --build "$build" --target generate_xlsx generate_xlsb generate_ods generate_csv generate_xls >/dev/null || exit 1
for ext in xlsx xlsb ods csv; do
  f=$work/bench-$rows.$ext; [ -f "$f" ] || "$build/bin/generate_$ext" "$f" "$rows"
done
f=$work/bench-65536.xls; [ -f "$f" ] || "$build/bin/generate_xls" "$f" 65536

for f in "$work"/bench-"$rows".{xlsx,xlsb,ods,csv} "$work"/bench-65536.xls; do
  for which in old new; do
    rm -rf "$work/cost-out"; mkdir -p "$work/cost-out"
    valgrind --tool=callgrind --callgrind-out-file="$work/cost.$which.out" "${cli[$which]}" -q --mode sheet \
      -o "$work/cost-out" "$f" >/dev/null 2>"$work/cost.$which.log" || { echo "failed: $which $f" >&2; exit 1; }
    ir[$which]=$(awk '/^summary:/ { print $2; exit }' "$work/cost.$which.out")
  done
  printf '%-24s old %15s new %15s new/old %s\n' "$(basename "$f")" "${ir[old]}" "${ir[new]}" \
    "$(awk -v a="${ir[new]}" -v b="${ir[old]}" 'BEGIN { printf "%.4f", a / b }')"
done
