#!/usr/bin/env bash
# Generates hostile workbooks of a few kilobytes to a megabyte and runs vellumcast-cli on
# each, printing the exit status, the time, and the peak memory as a ratio to the text
# written (the bound is twice the text plus a fixed amount). Each must end within
# seconds with status 0 or 1. Usage: bench/hostile.sh   (BUILD=build WORK=/tmp/...)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
work=${WORK:-/tmp/vellumcast-hostile}
cli=$build/bin/vellumcast-cli
rm -rf "$work" && mkdir -p "$work/in"
python3 bench/hostile_files.py "$work/in" || exit 1

run() { # label file options...
  local label=$1 file=$2; shift 2
  local out="$work/out-$label"
  rm -rf "$out" && mkdir -p "$out"
  /usr/bin/time -o "$work/time.txt" -f '%e %M' "$cli" --output "$out" "$@" "$file" >/dev/null 2>"$work/err.txt"
  local status=$?
  read -r seconds kib <"$work/time.txt"
  local text
  text=$(du -sb "$out" | cut -f1)
  printf '%-26s exit %d  %6.2fs  peak %7.0f MiB  text %8.1f MiB  peak/(text+1MiB) %6.2f\n' "$label" "$status" \
    "$seconds" "$(awk -v k="$kib" 'BEGIN{print k/1024}')" "$(awk -v t="$text" 'BEGIN{print t/1048576}')" \
    "$(awk -v k="$kib" -v t="$text" 'BEGIN{print k*1024/(t+1048576)}')"
  head -c 300 "$work/err.txt" | sed 's/^/    /'
}

run shared-member "$work/in/shared-member.xlsx" --mode sheet
run corners-kept "$work/in/corners.xlsx"
run corners-skipped "$work/in/corners.xlsx" --skip-blank
run corners-column-skipped "$work/in/corners.xlsx" --skip-blank --mode column
run corner-65536-kept "$work/in/corner65536.xlsx"
run big-shared-string "$work/in/big-string.xlsx"
run reused-string "$work/in/reused-string.xlsx"
run long-csv-line "$work/in/long-line.csv"
