#!/usr/bin/env bash
# Builds every libFuzzer target with clang and AddressSanitizer (the fuzz preset, in
# build-fuzz/) and runs each for SECONDS, seeded from the test fixtures and the samples.
# Any crash, leak, hang or runaway allocation fails the script; the input that caused it
# lands in build-fuzz/crashes/. Corpora grow in build-fuzz/corpus/ from run to run.
# Usage: scripts/fuzz.sh [SECONDS=60] [TARGET...]
# The newest clang on the PATH is used; CC and CXX choose another.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
scripts/install-deps.sh

# The unversioned name, else the highest numbered one (clang++-16 before clang++-14).
newest() {
  command -v "$1" >/dev/null && { echo "$1"; return; }
  compgen -c "$1-" | grep -xF -f <(seq -f "$1-%g" 1 99) | sort -t- -k2,2n | tail -n 1
}
cxx=${CXX:-$(newest clang++)}
cc=${CC:-$(newest clang)}
[ -n "$cxx" ] && [ -n "$cc" ] || { echo "fuzz.sh: no clang found" >&2; exit 1; }

cmake --preset fuzz -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target fuzzers

out=build-fuzz
rm -rf "$out/seeds"
python3 scripts/fuzz-seeds.py "$out/seeds"
# The xlsb targets and the decryption write their seeds themselves, from what the test
# writers make.
for bin in "$out"/bin/fuzz_xlsb_* "$out"/bin/fuzz_decrypt; do
  mkdir -p "$out/seeds/$(basename "$bin")"
  VELLUMCAST_FUZZ_SEED_DIR="$out/seeds/$(basename "$bin")" "$bin" >/dev/null 2>&1
done
mkdir -p "$out/crashes"
if [ $# -gt 0 ]; then targets=("$@"); else mapfile -t targets < <(cd "$out/bin" && ls fuzz_* | sort); fi

# Runs one target; its log lands in $out/TARGET.log, and a finding leaves TARGET.failed.
fuzz_one() {
  local target=$1 corpus=$out/corpus/$1
  mkdir -p "$corpus" "$out/seeds/$target"
  rm -f "$out/$target.failed"
  # -rss_limit_mb and -malloc_limit_mb make a runaway allocation a finding, -timeout a hang.
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 "$out/bin/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -malloc_limit_mb=2048 -max_len=262144 -print_final_stats=1 \
    -artifact_prefix="$out/crashes/$target-" "$corpus" "$out/seeds/$target" >"$out/$target.log" 2>&1 \
    || touch "$out/$target.failed"
}

# One target per core at a time: the pass takes a fraction of the targets' summed time.
running=0
for target in "${targets[@]}"; do
  echo "--- $target: ${seconds} s from $(ls "$out/seeds/$target" 2>/dev/null | wc -l) seeds"
  fuzz_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true

failed=()
for target in "${targets[@]}"; do
  if [ -e "$out/$target.failed" ]; then
    echo "--- $target: finding"
    tail -n 40 "$out/$target.log"
    failed+=("$target")
  else
    echo "--- $target: $(grep -E '^stat::number_of_executed_units' "$out/$target.log" | tail -n 1)"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz.sh: findings in ${failed[*]}; inputs in $out/crashes/" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets ran ${seconds} s each without a finding"
