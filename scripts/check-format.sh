#!/usr/bin/env bash
# Fails when a C++ source differs from what clang-format makes of it (.clang-format).
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "format: all C++ sources as clang-format writes them"
