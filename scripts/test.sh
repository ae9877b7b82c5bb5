#!/usr/bin/env bash
# Sets up a Debian machine, builds Vellumcast with warnings as errors, and runs every test.
# Usage: scripts/test.sh [dev|sanitize]
#   dev (the default): an optimised build with debug information, in build/.
#   sanitize: the same suite built with AddressSanitizer (leak checks on) and
#     UndefinedBehaviorSanitizer, in build-sanitize/; the first finding fails the test.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
ctest --preset "$preset" -j"$(nproc)"
