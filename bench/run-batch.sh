#!/usr/bin/env bash
# Times one call of vellumcast-cli over many small workbooks with one job and with two,
# and prints the ratio measured in this run. The workbooks are COPIES copies of the
# sample workbooks in Samples/. Usage: bench/run-batch.sh [COPIES]   (default: 500)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
copies=${1:-500}
work=${WORK:-/tmp/vellumcast-batch}
cli=$build/bin/vellumcast-cli
cmake --build "$build" --target vellumcast-cli >/dev/null

rm -rf "$work"
mkdir -p "$work/in" "$work/j1" "$work/j2"
for ((i = 1; i <= copies; i++)); do
  for sample in Samples/*; do
    name=$(basename "$sample")
    cp "$sample" "$work/in/${name%.*}-$i.${name##*.}"
  done
done
count=$(find "$work/in" -type f | wc -l)

# Runs one export; prints its seconds.
timed() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

t1=$(timed "$cli" -q -m sheet -j 1 -o "$work/j1" "$work/in")
t2=$(timed "$cli" -q -m sheet -j 2 -o "$work/j2" "$work/in")
diff -r "$work/j1" "$work/j2" >/dev/null || { echo "-j 1 and -j 2 wrote different files" >&2; exit 1; }
echo "$count workbooks, $(find "$work/j1" -type f | wc -l) texts, identical with -j 1 and -j 2"
awk -v a="$t1" -v b="$t2" 'BEGIN { printf "-j 1 takes %.2f times as long as -j 2\n", a / b }'
