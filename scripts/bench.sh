#!/usr/bin/env bash
# Every benchmark: the library benchmarks built under build/default/bench/ (Google
# Benchmark programs), then the window benchmark, then, when the Windows build exists, the
# Windows programs under Wine beside the window's Linux figures.
#   scripts/bench.sh [build-dir] [windows-build-dir]   (default: build/default, build/windows)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
windows_build="${2:-$root/build/windows}"

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
figures="$(mktemp)"
trap 'rm -f "$figures"' EXIT
BENCH_FIGURES="$figures" "$root/scripts/bench-window.sh" "$build"

if [ -d "$windows_build" ]; then
  echo "=== Windows window"
  "$root/scripts/bench-windows.sh" "$windows_build" "$figures"
fi
