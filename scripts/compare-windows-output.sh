#!/usr/bin/env bash
# Runs the Windows command line (under Wine) and the Linux one on the same workbooks in
# every save mode, into folders and to standard output, and compares what they wrote byte
# for byte. The Windows one is given its paths as people there type them: absolute on
# drive Z: (Wine's view of /) with backslashes, relative with backslashes, or with "/".
# A workbook of worksheet names that Windows forbids as file names is compared too: both
# must save it under the same safe names. Exits non-zero, listing the differences, when
# any file differs.
# Usage: scripts/compare-windows-output.sh WINDOWS_CLI_EXE LINUX_CLI [WORK_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
windows_cli=$1
linux_cli=$2
work=${3:-build-windows/compare}
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all LC_ALL=C.UTF-8 TZ=UTC

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

# The workbooks of each set, as files named on the command line (a folder search would
# print its paths, which differ between the systems).
declare -A sets=(
  [samples]="$(find Samples -maxdepth 1 -type f | sort)"
  [numfmt]="$(find tests/fixtures/numfmt -maxdepth 1 -type f ! -name 'LICENSE*' | sort)"
  [workbooks]="$(find tests/fixtures/workbooks -maxdepth 1 -type f ! -name 'LICENSE*' | sort)"
)

# path as the Windows command line is given it: "drive" absolute on Z: with backslashes,
# "backslash" relative with backslashes, "slash" as it is.
windows_path() {
  local form=$1 path=$2 absolute relative
  case $form in
    drive)
      absolute=$(realpath -m "$path")
      echo "Z:${absolute//\//\\}"
      ;;
    backslash)
      relative=$(realpath -m --relative-to=. "$path")
      echo "${relative//\//\\}"
      ;;
    *) echo "$path" ;;
  esac
}

# Runs one command line on both systems: run_both NAME FORM OPTION... -- WORKBOOK...;
# the Windows one gets its workbooks and output folder in the path form FORM. What they
# print on standard error may name paths differently and is kept, not compared; the exit
# statuses must agree.
run_both() {
  local name=$1 form=$2
  shift 2
  local options=() workbooks=() windows_workbooks=() workbook
  while [ "$1" != "--" ]; do
    options+=("$1")
    shift
  done
  shift
  workbooks=("$@")
  for workbook in "${workbooks[@]}"; do
    windows_workbooks+=("$(windows_path "$form" "$workbook")")
  done
  local status_linux=0 status_windows=0
  mkdir -p "$work/linux/$name" "$work/windows/$name"
  "$linux_cli" "${options[@]}" -o "$work/linux/$name" "${workbooks[@]}" >/dev/null 2>"$work/linux/$name.err" ||
    status_linux=$?
  "$wine" "$windows_cli" "${options[@]}" -o "$(windows_path "$form" "$work/windows/$name")" "${windows_workbooks[@]}" \
    >/dev/null 2>"$work/windows/$name.err" || status_windows=$?
  "$linux_cli" "${options[@]}" -o - "${workbooks[@]}" >"$work/linux/$name.stdout" 2>/dev/null || true
  "$wine" "$windows_cli" "${options[@]}" -o - "${windows_workbooks[@]}" >"$work/windows/$name.stdout" 2>/dev/null || true
  if [ "$status_linux" != "$status_windows" ]; then
    echo "$name: exit status $status_linux on Linux, $status_windows on Windows" >&2
    failures=$((failures + 1))
  fi
}

# Worksheets named as no Windows file may be: each must be saved, under the same name on
# both systems. An XML spreadsheet, as it is text, under a name Windows takes (a workbook
# called con.xml could not be opened there: CON is a device).
forbidden_names_workbook() {
  local path=$1 name
  {
    echo '<?xml version="1.0"?>'
    echo '<Workbook xmlns="urn:schemas-microsoft-com:office:spreadsheet" xmlns:ss="urn:schemas-microsoft-com:office:spreadsheet">'
    for name in 'CON' 'nul' 'Com1' 'LPT9.x' 'a:b' 'q?' 'x\y' 'x/y' '&lt;&gt;|&quot;*' 'dots..' 'space ' '日本'; do
      echo " <Worksheet ss:Name=\"$name\"><Table><Row><Cell><Data ss:Type=\"String\">$name</Data></Cell></Row></Table></Worksheet>"
    done
    echo '</Workbook>'
  } >"$path"
}

failures=0
declare -A forms=([samples]=drive [numfmt]=backslash [workbooks]=drive)
for set in samples numfmt workbooks; do
  mapfile -t inputs <<<"${sets[$set]}"
  for mode in all sheet row column; do
    # Every third run of the workbooks spells its paths with "/", as Windows takes too.
    form=${forms[$set]}
    [ "$set" = workbooks ] && [ "$mode" = row ] && form=slash
    run_both "$set-$mode" "$form" -q -m "$mode" -- "${inputs[@]}"
  done
done
# Quoting, dividers and line ends other than the defaults.
mapfile -t samples <<<"${sets[samples]}"
run_both "samples-csv-lf" backslash -q --csv --lf --skip-empty-lines -- "${samples[@]}"
mkdir -p "$work/inputs"
forbidden_names_workbook "$work/inputs/names.xml"
# Named by the worksheet alone, so device names stand by themselves (CON_.txt).
run_both "names" drive -q -m sheet --name "{sheet}" -- "$work/inputs/names.xml"

files=$(find "$work/linux" -type f ! -name "*.err" | wc -l)
if ! diff -r -x "*.err" "$work/linux" "$work/windows" >"$work/differences.txt"; then
  echo "The Windows command line writes other bytes than the Linux one:" >&2
  grep -E '^(Only in|Files|Binary files)' "$work/differences.txt" | head -40 >&2
  failures=$((failures + 1))
fi
if [ "$failures" -ne 0 ]; then
  exit 1
fi
echo "The Windows command line wrote the same bytes as the Linux one: $files files and texts compared" >&2
