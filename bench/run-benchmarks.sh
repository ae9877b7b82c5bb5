#!/usr/bin/env bash
# Times vellumcast-cli against the inflate floor and other converters on generated
# workbooks, and prints ratios measured in this one run (absolute times on a shared
# machine say little). Usage: bench/run-benchmarks.sh [ROWS...]   (default: 100000 1000000)
# Set INSTALL=1 to install the yardstick converters from Debian first; SKIP="ssconvert xlsx2csv"
# leaves those out (ssconvert takes minutes on a million rows), SKIP=modes the peak memory
# of the modes other than one text per worksheet.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
rows=("$@")
[ ${#rows[@]} -gt 0 ] || rows=(100000 1000000)
work=${WORK:-/tmp/vellumcast-bench}
mkdir -p "$work"

if [ "${INSTALL:-0}" = 1 ]; then
  sudo_=(); [ "$(id -u)" -ne 0 ] && sudo_=(sudo)
  "${sudo_[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time unzip gnumeric libreoffice-calc-nogui xlsx2csv >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null || exit 1
bin=$build/bin

# Runs a command once; prints "seconds peak_kib".
measure() {
  /usr/bin/time -o "$work/time.txt" -f '%e %M' "$@" >/dev/null 2>&1
  tail -n 1 "$work/time.txt"
}

# Runs a command REPEAT times (default 3) and prints the run of median time: on a shared
# machine a passing load moves a lone run by a third. The output folder is emptied first.
measure_median() {
  local i
  for ((i = 0; i < ${REPEAT:-3}; i++)); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    measure "$@"
  done | sort -n | awk '{ runs[NR] = $0 } END { print runs[int((NR + 1) / 2)] }'
}

wanted() { case " ${SKIP:-} " in *" $1 "*) return 1 ;; esac; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

report() { # name seconds kib floor_seconds ours_seconds
  printf '  %-28s %8.2fs %8.0f MiB   x floor %6s   x vellumcast %6s\n' "$1" "$2" "$(awk -v k="$3" 'BEGIN{print k/1024}')" \
    "$(ratio "$2" "$4")" "$(ratio "$2" "$5")"
}

run_case() { # label file floor-command...
  local label=$1 file=$2; shift 2
  echo "== $label: $(du -h "$file" | cut -f1)"
  read -r floor floorkb < <(measure_median "$@")
  read -r ours ourskb < <(measure_median "$bin/vellumcast-cli" --mode sheet --output "$work/out" "$file")
  report "floor ($1)" "$floor" "$floorkb" "$floor" "$ours"
  report "vellumcast-cli" "$ours" "$ourskb" "$floor" "$ours"
  # Peak memory against its budget: twice the text produced plus 64 MiB (at most 1.00).
  local text; text=$(du -sb "$work/out" | cut -f1)
  printf '  %-28s %8.0f MiB of text   peak memory x budget %s\n' "" "$(awk -v b="$text" 'BEGIN{print b/1048576}')" \
    "$(ratio "$ourskb" "$(awk -v b="$text" 'BEGIN{print (2*b + 64*1048576)/1024}')")"
  # The other modes' peak memory against the same budget. A million row texts go to
  # standard output rather than a million files.
  if wanted modes; then
    local mode out kb written
    for mode in all row column; do
      rm -rf "$work/out"; mkdir -p "$work/out"; out=$work/out; [ "$mode" = row ] && out=-
      /usr/bin/time -o "$work/time.txt" -f '%M' "$bin/vellumcast-cli" -q --mode "$mode" --output "$out" "$file" \
        >"$work/stdout.txt" 2>/dev/null
      kb=$(tail -n 1 "$work/time.txt")
      if [ "$mode" = row ]; then written=$(stat -c %s "$work/stdout.txt"); else written=$(du -sb "$work/out" | cut -f1); fi
      printf '  %-28s %8.0f MiB   %8.0f MiB of text   peak memory x budget %s\n' "mode $mode" \
        "$(awk -v k="$kb" 'BEGIN{print k/1024}')" "$(awk -v b="$written" 'BEGIN{print b/1048576}')" \
        "$(ratio "$kb" "$(awk -v b="$written" 'BEGIN{print (2*b + 64*1048576)/1024}')")"
    done
    rm -f "$work/stdout.txt"
  fi
  if wanted ssconvert && command -v ssconvert >/dev/null; then
    read -r t k < <(measure ssconvert "$file" "$work/ssconvert.csv"); report "ssconvert" "$t" "$k" "$floor" "$ours"
  fi
  if wanted libreoffice && command -v libreoffice >/dev/null; then
    read -r t k < <(measure libreoffice --headless --convert-to csv --outdir "$work/lo" "$file"); report "libreoffice headless" "$t" "$k" "$floor" "$ours"
  fi
  if [ "${file##*.}" = xlsx ] && wanted xlsx2csv && command -v xlsx2csv >/dev/null; then
    read -r t k < <(measure xlsx2csv "$file" "$work/xlsx2csv.csv"); report "xlsx2csv" "$t" "$k" "$floor" "$ours"
  fi
}

mkdir -p "$work/out" "$work/lo"
for n in "${rows[@]}"; do
  if [ -x "$bin/generate_xlsx" ]; then
    f=$work/bench-$n.xlsx; [ -f "$f" ] || "$bin/generate_xlsx" "$f" "$n"
    run_case "xlsx $n x 10" "$f" unzip -p "$f" xl/worksheets/sheet1.xml
  fi
  if [ -x "$bin/generate_xlsb" ]; then
    f=$work/bench-$n.xlsb; [ -f "$f" ] || "$bin/generate_xlsb" "$f" "$n"
    run_case "xlsb $n x 10" "$f" unzip -p "$f" xl/worksheets/sheet1.bin
  fi
  if [ -x "$bin/generate_ods" ]; then
    f=$work/bench-$n.ods; [ -f "$f" ] || "$bin/generate_ods" "$f" "$n"
    run_case "ods $n x 10" "$f" unzip -p "$f" content.xml
  fi
  if [ -x "$bin/generate_csv" ]; then
    f=$work/bench-$n.csv; [ -f "$f" ] || "$bin/generate_csv" "$f" "$n"
    run_case "csv $n x 10" "$f" cat "$f"
  fi
done
if [ -x "$bin/generate_xls" ]; then
  f=$work/bench-65536.xls; [ -f "$f" ] || "$bin/generate_xls" "$f" 65536
  run_case "xls 65536 x 10" "$f" cat "$f"
fi
# Many small workbooks in one call: the samples copied until there are 500.
if [ -d "$bin/Samples" ]; then
  rm -rf "$work/many" "$work/many-out"; mkdir -p "$work/many" "$work/many-out"
  mapfile -t samples < <(find "$bin/Samples" -maxdepth 1 -type f | sort)
  if [ ${#samples[@]} -gt 0 ]; then
    for i in $(seq 0 499); do
      s=${samples[$((i % ${#samples[@]}))]}; cp "$s" "$work/many/$i-$(basename "$s")"
    done
    read -r t k < <(measure "$bin/vellumcast-cli" --mode sheet --output "$work/many-out" "$work/many"/*)
    read -r t0 k0 < <(measure "$bin/vellumcast-cli" --help)
    echo "== 500 small workbooks in one call"
    printf '  %-28s %8.2fs %8.0f MiB   per workbook %s ms (start-up alone %s s)\n' "vellumcast-cli" "$t" \
      "$(awk -v k="$k" 'BEGIN{print k/1024}')" "$(awk -v t="$t" 'BEGIN{printf "%.2f", t * 1000 / 500}')" "$t0"
  fi
fi
if [ -x "$bin/bench_render" ]; then
  echo "== bench_render"; "$bin/bench_render" 2>/dev/null | tail -n +4
fi
# Loading alone, apart from composing, on the largest workbooks generated above.
for f in "$work/bench-${rows[-1]}.xlsx" "$work/bench-${rows[-1]}.ods"; do
  [ -x "$bin/bench_xlsx_load" ] && [ -f "$f" ] && { echo "== bench_xlsx_load $(basename "$f")"; "$bin/bench_xlsx_load" "$f" 1; }
done
exit 0
