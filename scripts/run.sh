#!/usr/bin/env bash
# Sets up a Debian machine, builds Vellumcast and starts it on the bundled sample
# workbooks: the windows when a display is there, else the command line, which writes the
# texts into ./vellumcast-output.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUMCAST_PYTHON=ON > /dev/null
cmake --build build -j"$(nproc)"

samples=(build/bin/Samples/*)
if [ ! -e "${samples[0]}" ]; then
  samples=(tests/fixtures/workbooks/inventory-table.xlsx tests/fixtures/workbooks/any_sheets.xlsx)
fi

if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && [ -x build/bin/vellumcast ]; then
  exec build/bin/vellumcast "${samples[@]}"
fi
mkdir -p vellumcast-output
echo "No display: exporting the samples with the command line into vellumcast-output/" >&2
build/bin/vellumcast-cli --mode sheet --output vellumcast-output "${samples[@]}"
