#!/usr/bin/env bash
# clang-tidy (.clang-tidy) over every C++ source of the project in the compile database of
# a configured build (default: build/default), generated sources left out. Fails on any
# finding; a justified suppression stands where it applies, as NOLINT(check) with a reason.
#   scripts/lint.sh [build-dir]       JOBS (default 2) sets the parallel runs; FILES (a
#   regular expression on the source paths) lints those only.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
[ -f "$build/compile_commands.json" ] ||
  { echo "no $build/compile_commands.json: configure first (cmake --preset default)" >&2; exit 1; }
# Only the sources in the tree; the build's own (moc, resources) are not ours to fix.
files="${FILES:-^$root/(app|bench|cli|device|params|platform|qt|sim|tests)/.*\\.cpp\$}"
run-clang-tidy -p "$build" -j "${JOBS:-2}" -quiet "$files" >"$build/lint.log" 2>&1 || true
# clang-tidy colours its lines; a finding is a line "path:line:column: error: ...".
if sed 's/\x1b\[[0-9;]*m//g' "$build/lint.log" | grep -E '^/[^ ]+:[0-9]+:[0-9]+: (warning|error): ' |
  sort -u | grep .; then
  echo "lint: findings above (whole log: $build/lint.log)" >&2
  exit 1
fi
echo "lint: clang-tidy finds nothing in $(grep -c '^clang-tidy' "$build/lint.log") sources"
