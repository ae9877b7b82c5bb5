#!/usr/bin/env bash
# Sets up a Debian machine, builds Vellumcast with warnings as errors, and runs every test.
# Usage: scripts/test.sh [dev|sanitize|tsan]
#   dev (the default): an optimised build with debug information, in build/.
#   sanitize: the same suite built with AddressSanitizer (leak checks on) and
#     UndefinedBehaviorSanitizer, in build-sanitize/; the first finding fails the test.
#   tsan: only the tests that load worksheets on a second thread while their lines are
#     composed (and the queue between the threads), built with clang and ThreadSanitizer
#     in build-tsan/; the preset names the executables and the tests, and a race fails.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-dev}
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
ctest --preset "$preset" -j"$(nproc)"
