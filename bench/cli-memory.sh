#!/usr/bin/env bash
# Peak memory of vellumcast-cli on the generated million-row workbooks against its budget,
# the workbook's file size plus 64 MiB: prints peak RSS / (file size + 64 MiB) per case
# (at most 1.00 is within it), for one text per worksheet and one per workbook, into a
# folder and to standard output. With BASE=another/vellumcast-cli it runs that one too and
# prints its CPU time and peak memory as ratios of this one's, measured in this one run.
# Usage: bench/cli-memory.sh [WORKBOOK...]  (default: the workbooks bench/run-benchmarks.sh
# generates in $WORK, /tmp/vellumcast-bench)
set -uo pipefail
cd "$(dirname "$0")/.."
cli=${CLI:-${BUILD:-build-release}/bin/vellumcast-cli}
work=${WORK:-/tmp/vellumcast-bench}
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  for f in "$work"/bench-1000000.{xlsx,xlsb,ods,csv} "$work"/bench-65536.xls; do [ -f "$f" ] && files+=("$f"); done
fi
[ ${#files[@]} -gt 0 ] || { echo "no workbooks: run bench/run-benchmarks.sh 1000000 first, or name them" >&2; exit 1; }
[ -x "$cli" ] || { echo "no $cli: build the release preset, or set CLI" >&2; exit 1; }
out=$work/cli-memory-out
mkdir -p "$work"

# Runs one export; prints "peak_kib cpu_seconds".
measure() { # binary mode output file
  rm -rf "$out"; mkdir -p "$out"
  local target=$3; [ "$target" = dir ] && target=$out
  /usr/bin/time -o "$work/cli-memory-time.txt" -f '%M %U %S' "$1" -q --mode "$2" --output "$target" "$4" \
    >/dev/null 2>"$work/cli-memory-err.txt" || { echo "failed: $1 $2 $3 $4" >&2; cat "$work/cli-memory-err.txt" >&2; }
  awk '{ printf "%d %.2f\n", $1, $2 + $3 }' "$work/cli-memory-time.txt"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

printf '%-28s %-6s %-4s %9s %8s' workbook mode to "peak MiB" "x budget"
[ -n "${BASE:-}" ] && printf " %12s %12s" "peak ÷ base" "cpu ÷ base"
echo
for f in "${files[@]}"; do
  size=$(stat -c %s "$f")
  budget_kib=$(( (size + 64 * 1048576) / 1024 ))
  for mode in sheet all; do
    for to in dir -; do
      read -r kib cpu < <(measure "$cli" "$mode" "$to" "$f")
      printf '%-28s %-6s %-4s %9.0f %8s' "$(basename "$f")" "$mode" "$to" "$(awk -v k="$kib" 'BEGIN{print k/1024}')" \
        "$(ratio "$kib" "$budget_kib")"
      if [ -n "${BASE:-}" ]; then
        read -r bkib bcpu < <(measure "$BASE" "$mode" "$to" "$f")
        printf ' %12s %12s' "$(ratio "$bkib" "$kib")" "$(ratio "$bcpu" "$cpu")"
      fi
      echo
    done
  done
done
rm -rf "$out" "$work/cli-memory-time.txt" "$work/cli-memory-err.txt"
