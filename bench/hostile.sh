#!/usr/bin/env bash
# Generates hostile workbooks of a few kilobytes to a few megabytes (and large delimited
# texts, among them a field of 2 GiB, and a sparse file of 3 GiB that takes no room on the disk) and runs vellumcast-cli on each, printing the exit status, the time as a share
# of the 10 s each may take, and the peak memory as a share of the bound: twice the text
# written plus 256 MiB for hostile files, plus 64 MiB (the design's bound) for the
# long-line and ods-repeat cases. Each must end with status 0 or 1, a failure naming
# its file. Usage: bench/hostile.sh   (BUILD=build WORK=/tmp/...)
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
  read -r seconds kib < <(tail -n 1 "$work/time.txt")
  local text
  text=$(du -sb "$out" | cut -f1)
  local fixed=256
  [[ $label == long-csv-fields || $label == ods-repeats ]] && fixed=64
  printf '%-24s exit %d  time/10s %5.2f  peak %6.0f MiB  text %7.1f MiB  peak/(2*text+%dMiB) %5.2f\n' \
    "$label" "$status" "$(awk -v s="$seconds" 'BEGIN{print s/10}')" "$(awk -v k="$kib" 'BEGIN{print k/1024}')" \
    "$(awk -v t="$text" 'BEGIN{print t/1048576}')" "$fixed" \
    "$(awk -v k="$kib" -v t="$text" -v f="$fixed" 'BEGIN{print k*1024/(2*t+f*1048576)}')"
  head -n 1 "$work/err.txt" | cut -c 1-240 | sed 's/^/    /'
}

run shared-member "$work/in/shared-member.xlsx" --mode sheet
run corners-kept "$work/in/corners.xlsx"
run corners-skipped "$work/in/corners.xlsx" --skip-blank
run corners-column-skipped "$work/in/corners.xlsx" --skip-blank --mode column
run corner-65536-kept "$work/in/corner65536.xlsx"
run big-shared-string "$work/in/big-string.xlsx"
run reused-string "$work/in/reused-string.xlsx"
run long-csv-line "$work/in/long-line.csv"
run long-csv-fields "$work/in/long-fields.csv" --mode sheet
run empty-cells-skipped "$work/in/empty-cells.xlsx" --skip-blank
run empty-cells-kept "$work/in/empty-cells.xlsx"
run ods-repeats "$work/in/repeats.ods" --mode sheet
run ods-repeats-over "$work/in/repeats-over.ods" --mode sheet
run bare-cells-skipped "$work/in/bare-cells.xlsx" --skip-blank
run reused-string-sheet "$work/in/reused-string.xlsx" --mode sheet
run empty-strings "$work/in/empty-strings.xlsx"
run ods-spaces "$work/in/spaces.ods" --mode sheet
run zip-decoys "$work/in/decoys.xlsx" --mode sheet
run namespace-bindings "$work/in/bindings.xlsx" --mode sheet
run xls-shared-records "$work/in/shared-records.xls" --mode sheet
run ods-365-sheets "$work/in/year.ods" --mode sheet
run flat-ods-365-sheets "$work/in/year.fods" --mode sheet
run sparse-3GiB "$work/in/sparse.xlsx"
run padded-1GiB-xlsx "$work/in/padded.xlsx"
run sparse-4GiB-xls "$work/in/sparse-small.xls"
run sparse-3GiB-cfb "$work/in/sparse-signature.xls"
run many-formats "$work/in/formats.xlsx"
run scaled-fraction "$work/in/scaled-fraction.xlsx"

# Text converted as it is read: the peak as a share of the bound of the file's size plus
# 64 MiB, the texts written to /dev/null (the 2 GiB field is refused within seconds).
run_bound() { # label file options...
  local label=$1 file=$2; shift 2
  /usr/bin/time -o "$work/time.txt" -f '%e %M' "$cli" -o - "$@" "$file" >/dev/null 2>"$work/err.txt"
  local status=$?
  read -r seconds kib < <(tail -n 1 "$work/time.txt")
  local size
  size=$(stat -c %s "$file")
  printf '%-24s exit %d  time/10s %5.2f  peak %6.0f MiB  file %7.1f MiB  peak/(file+64MiB) %5.2f\n' \
    "$label" "$status" "$(awk -v s="$seconds" 'BEGIN{print s/10}')" "$(awk -v k="$kib" 'BEGIN{print k/1024}')" \
    "$(awk -v t="$size" 'BEGIN{print t/1048576}')" \
    "$(awk -v k="$kib" -v t="$size" 'BEGIN{print k*1024/(t+64*1048576)}')"
  head -n 1 "$work/err.txt" | cut -c 1-240 | sed 's/^/    /'
}
run_bound ansi-csv-100MB "$work/in/ansi-100MB.csv"
run_bound utf16-txt-200MB "$work/in/utf16-200MB.txt"
run_bound csv-field-2GiB "$work/in/field-2GiB.csv"
rm -f "$work/in/field-2GiB.csv"
