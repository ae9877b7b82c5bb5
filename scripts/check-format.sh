#!/usr/bin/env bash
# Fails when a tracked C++ source or header differs from the committed .clang-format style.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
clang-format --dry-run -Werror "${files[@]}"
echo "clang-format: ${#files[@]} files follow .clang-format"
