#!/usr/bin/env bash
# Generates hostile workbooks of a few kilobytes to a few megabytes (and large delimited
# texts, among them a field of 2 GiB, and a sparse file of 3 GiB that takes no room on the disk) and runs vellumcast-cli on each, printing the exit status, the time as a share
# of the 10 s each may take, and the peak memory as a share of the bound: twice the text
# written plus 256 MiB for hostile files, plus 64 MiB (the design's bound) for the
# long-line and ods-repeat cases, and the file's size plus twice the text plus 64 MiB for
# the floods (files that list, declare or repeat far more than a real workbook does) and
# the streams read from standard input. Each must end with status 0 or 1, a failure
# naming its file.
# Usage: bench/hostile.sh [--floods | --streams] [--check]   (BUILD=build WORK=/tmp/...)
#   --floods: only the floods, which take seconds in all; --streams: only
#   the gigabyte streams; --check: exit 1 when a case passes its time or memory bound,
#   ends otherwise than with status 0 or 1, or fails without naming its file.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
work=${WORK:-/tmp/vellumcast-hostile}
cli=$build/bin/vellumcast-cli
only= check=
for argument in "$@"; do
  case $argument in
    --floods | --streams) only=$argument ;;
    --check) check=1 ;;
    *) echo "usage: bench/hostile.sh [--floods | --streams] [--check]" >&2; exit 2 ;;
  esac
done
rm -rf "$work" && mkdir -p "$work/in"
python3 bench/hostile_files.py "$work/in" $only || exit 1
failed=0

# label file fixed-MiB options... (fixed "file": the file's size plus 64 MiB); the file
# is read from standard input when the label starts with "stdin".
measure() {
  local label=$1 file=$2 fixed=$3; shift 3
  local out="$work/out-$label"
  rm -rf "$out" && mkdir -p "$out"
  if [[ $label == stdin* ]]; then
    /usr/bin/time -o "$work/time.txt" -f '%e %M' "$cli" --output "$out" "$@" - <"$file" >/dev/null 2>"$work/err.txt"
  else
    /usr/bin/time -o "$work/time.txt" -f '%e %M' "$cli" --output "$out" "$@" "$file" >/dev/null 2>"$work/err.txt"
  fi
  local status=$?
  read -r seconds kib < <(tail -n 1 "$work/time.txt")
  local text
  text=$(du -sb "$out" | cut -f1)
  local bound
  if [[ $fixed == file ]]; then
    fixed="size+64"
    bound=$(awk -v s="$(stat -c %s "$file")" -v t="$text" 'BEGIN{print s+2*t+64*1048576}')
  else
    bound=$(awk -v t="$text" -v f="$fixed" 'BEGIN{print 2*t+f*1048576}')
  fi
  local share
  share=$(awk -v k="$kib" -v b="$bound" 'BEGIN{print k*1024/b}')
  printf '%-24s exit %d  time/10s %5.2f  peak %6.0f MiB  text %7.1f MiB  peak/(2*text+%sMiB) %5.2f\n' \
    "$label" "$status" "$(awk -v s="$seconds" 'BEGIN{print s/10}')" "$(awk -v k="$kib" 'BEGIN{print k/1024}')" \
    "$(awk -v t="$text" 'BEGIN{print t/1048576}')" "$fixed" "$share"
  head -n 1 "$work/err.txt" | cut -c 1-240 | sed 's/^/    /'
  local name=${file##*/}
  [[ $label == stdin* ]] && name=stdin
  if [[ $status -gt 1 ]] || awk -v s="$seconds" -v r="$share" 'BEGIN{exit !(s > 10 || r > 1)}' \
    || { [[ $status -eq 1 ]] && ! grep -qF -- "$name" "$work/err.txt"; }; then
    echo "    PASSED ITS BOUND"
    failed=1
  fi
}

run() { # label file options...
  local label=$1 file=$2; shift 2
  local fixed=256
  [[ $label == long-csv-fields || $label == ods-repeats ]] && fixed=64
  measure "$label" "$file" "$fixed" "$@"
}

flood() { # label file options...
  local label=$1 file=$2; shift 2
  measure "$label" "$work/in/$file" file "$@"
}

if [[ $only != --streams ]]; then
  flood million-sheets-xlsb million-sheets.xlsb
  flood million-sheets-xlsb-list million-sheets.xlsb --list
  flood million-sheets-xlsx million-sheets.xlsx
  flood styles-xlsb styles.xlsb
  flood styles-xlsx styles.xlsx
  flood merges-fill merges.xlsb --fill-merged
  flood merges-list merges.xlsb --list
  flood repeated-cell repeated-cell.xlsb
  flood record-16MiB record-16MiB.xlsb
  flood record-4MiB record-4MiB.xlsb --mode sheet
  flood sml-40000-sheets sheets-40000.xml
  flood sml-40000-sheets-list sheets-40000.xml --list
  flood sml-40000-latin1 sheets-40000-latin1.xml
  flood sml-40000-latin1-list sheets-40000-latin1.xml --list
  flood sml-parent-chain parent-chain.xml
  flood sml-row-spans row-spans.xml
  flood sml-column-spans column-spans.xml --skip-hidden-columns
fi
if [[ $only != --floods ]]; then
  flood stdin-1.05GiB stream-1.05GiB.xlsx
  flood stdin-2GiB-and-1 stream-2GiB-and-1.xlsx
fi
if [[ -n $only ]]; then
  [[ -n $check ]] && exit $failed
  exit 0
fi

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
[[ -n $check ]] && exit $failed
exit 0
