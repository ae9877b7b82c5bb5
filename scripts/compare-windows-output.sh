#!/usr/bin/env bash
# Runs the Windows command line (under Wine) and the Linux one on the same workbooks in
# every save mode, into folders and to standard output, and compares what they wrote byte
# for byte. Exits non-zero, listing the differences, when any file differs.
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

# Runs one command line on both systems; what they print on standard error may name
# paths differently and is kept, not compared; the exit statuses must agree.
run_both() {
  local name=$1
  shift
  local status_linux=0 status_windows=0
  mkdir -p "$work/linux/$name" "$work/windows/$name"
  "$linux_cli" "$@" -o "$work/linux/$name" >/dev/null 2>"$work/linux/$name.err" || status_linux=$?
  "$wine" "$windows_cli" "$@" -o "$work/windows/$name" >/dev/null 2>"$work/windows/$name.err" || status_windows=$?
  "$linux_cli" "$@" -o - >"$work/linux/$name.stdout" 2>/dev/null || true
  "$wine" "$windows_cli" "$@" -o - >"$work/windows/$name.stdout" 2>/dev/null || true
  if [ "$status_linux" != "$status_windows" ]; then
    echo "$name: exit status $status_linux on Linux, $status_windows on Windows" >&2
    failures=$((failures + 1))
  fi
}

failures=0
for set in samples numfmt workbooks; do
  mapfile -t inputs <<<"${sets[$set]}"
  for mode in all sheet row column; do
    run_both "$set-$mode" -q -m "$mode" "${inputs[@]}"
  done
done
# Quoting, dividers and line ends other than the defaults.
mapfile -t samples <<<"${sets[samples]}"
run_both "samples-csv-lf" -q --csv --lf --skip-empty-lines "${samples[@]}"

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
