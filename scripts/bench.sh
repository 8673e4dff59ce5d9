#!/usr/bin/env bash
# Every benchmark: the library benchmarks built under build/default/bench/ (Google
# Benchmark programs), then the window benchmark.
#   scripts/bench.sh [build-dir]      (default: build/default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"

found=0
if [ -d "$build/bench" ]; then
  while IFS= read -r program; do
    found=1
    echo "=== $(basename "$program")"
    "$program"
  done < <(find "$build/bench" -maxdepth 1 -type f -perm -u+x | sort)
fi
[ "$found" -eq 1 ] || echo "(no library benchmarks built under $build/bench)"

echo "=== window"
"$root/scripts/bench-window.sh" "$build"
