#!/usr/bin/env bash
# What formulas cost a workbook whose formulas all carry their values: instructions counted
# by callgrind (deterministic, unlike times on a shared machine) for one build against
# another, on the generated 100,000-row benchmarks (xlsx, xlsb, ods; xls of 65,536 rows)
# and on copies of the xlsx with a column of formulas added, each with its value (written
# as the application writes them: one plain formula per row, or one shared formula).
# Usage: bench/formula-cost.sh BASE_BIN [BIN] [ROWS]
# The ratios it printed last are in docs/formulas.md.
#   BASE_BIN: the bin folder of the build to compare with (one without formulas computed)
#   BIN: this build's bin folder (default build/bin); ROWS: default 100000
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:?usage: bench/formula-cost.sh BASE_BIN [BIN] [ROWS]}
bin=${2:-build/bin}
rows=${3:-100000}
work=${WORK:-/tmp/vellumcast-formula-cost}
mkdir -p "$work"

[ -f "$work/bench.xlsx" ] || "$bin/generate_xlsx" "$work/bench.xlsx" "$rows"
[ -f "$work/bench.xlsb" ] || "$bin/generate_xlsb" "$work/bench.xlsb" "$rows"
[ -f "$work/bench.ods" ] || "$bin/generate_ods" "$work/bench.ods" "$rows"
[ -f "$work/bench.xls" ] || "$bin/generate_xls" "$work/bench.xls" 65536

# Column K of every data row: C*2, with its value, plain or shared from K2.
python3 - "$work/bench.xlsx" "$work" <<'PY'
import re, sys, zipfile
source, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(source) as z:
    members = {n: z.read(n) for n in z.namelist()}
sheet = members["xl/worksheets/sheet1.xml"].decode("utf-8")
last = len(re.findall(r"<row ", sheet))
rows = re.split(r"(?=<row )", sheet)
for shared in (False, True):
    parts = []
    for piece in rows:
        m = re.match(r'<row r="(\d+)"', piece)
        if m and int(m.group(1)) >= 2:
            r = int(m.group(1))
            c = re.search(r'<c r="C%d"[^>]*><v>([^<]*)</v>' % r, piece)
            v = float(c.group(1)) * 2 if c else 0
            if not shared:
                f = "<f>C%d*2</f>" % r
            elif r == 2:
                f = '<f t="shared" ref="K2:K%d" si="0">C2*2</f>' % (last)
            else:
                f = '<f t="shared" si="0"/>'
            piece = piece.replace("</row>", '<c r="K%d">%s<v>%r</v></c></row>' % (r, f, v), 1)
        parts.append(piece)
    name = out + ("/formulas-shared.xlsx" if shared else "/formulas-plain.xlsx")
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as z:
        for n, data in members.items():
            z.writestr(n, "".join(parts).encode("utf-8") if n == "xl/worksheets/sheet1.xml" else data)
PY

# Instructions of one export, from callgrind's summary line.
count() {
  valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$1" -q -m sheet -o "$work/out" "$2" \
    >/dev/null 2>"$work/valgrind.log"
  grep -E '^summary:|^totals:' "$work/callgrind.out" | tail -n 1 | awk '{ print $2 }'
}

printf '%-24s %16s %16s %8s\n' workbook base this ratio
for file in bench.xlsx bench.xlsb bench.ods bench.xls formulas-plain.xlsx formulas-shared.xlsx; do
  rm -rf "$work/out"; mkdir -p "$work/out"
  a=$(count "$base/vellumcast-cli" "$work/$file")
  rm -rf "$work/out"; mkdir -p "$work/out"
  b=$(count "$bin/vellumcast-cli" "$work/$file")
  printf '%-24s %16s %16s %8s\n' "$file" "$a" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.4f", b / a }')"
done
