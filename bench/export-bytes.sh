#!/usr/bin/env bash
# Compares two builds of vellumcast-cli byte for byte on every fixture workbook: each of
# the four modes with a spread of options, into a folder and to standard output. Standard
# output, standard error, the exit status and every file written must be the same; prints
# each difference and "fail=0" when there is none (exits 1 otherwise).
# Usage: bench/export-bytes.sh OLD_CLI NEW_CLI [FIXTURES]   (default: tests/fixtures)
set -uo pipefail
declare -A cli=([old]=$(realpath "$1") [new]=$(realpath "$2"))
fixtures=$(realpath "${3:-$(dirname "$0")/../tests/fixtures}")
work=${WORK:-/tmp/vellumcast-bench}/bytes
rm -rf "$work"; mkdir -p "$work"
files=("$fixtures"/workbooks/*)
opts=("" "--csv" "--jsonl --values raw" "--skip-blank --no-quotes --lf --skip-empty-lines"
  "--fill-merged --skip-hidden-rows --skip-hidden-columns --dates iso" "--cell-breaks escape --bom -d comma-space"
  "--no-clobber --name {book}.{ext}_{sheet}_{n:03}" "-j 2")
fail=0 runs=0
for mode in all sheet row column; do
  for o in "${opts[@]}"; do
    for to in folder stdout; do
      for which in old new; do
        rm -rf "$work/out"; mkdir -p "$work/out"
        target=out; [ $to = stdout ] && target=-
        # $o is split into its options on purpose.
        # shellcheck disable=SC2086
        (cd "$work" && timeout 300 "${cli[$which]}" --mode $mode $o -o $target "${files[@]}" \
          >"$which.stdout" 2>"$which.stderr"; echo $? >"$which.rc")
        (cd "$work/out" && find . -type f | sort | xargs -r -d '\n' sha1sum) >"$work/$which.files"
      done
      runs=$((runs + 1))
      for k in stdout stderr rc files; do
        cmp -s "$work/old.$k" "$work/new.$k" || { echo "DIFF mode=$mode options='$o' to=$to in $k"; fail=1; }
      done
    done
  done
done
echo "compared $runs runs, fail=$fail"
exit $fail
