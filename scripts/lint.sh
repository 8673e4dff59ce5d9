#!/usr/bin/env bash
# clang-tidy (.clang-tidy) over every C++ source of the project, generated sources left out:
# first in the compile database of the Linux build (default: build/default), then, in that of
# the Windows cross build (default: build/windows), the sources only Windows compiles (win32/,
# platform/windows/, the Wine tests) and those with a Windows branch of their own (_WIN32).
# clang-tidy parses the Windows sources as clang for the mingw-w64 target would, with
# mingw-w64's headers and g++-mingw-w64's C++ library headers (docs/HACKING.md says why).
# Fails on any finding; a justified suppression stands where it applies, as NOLINT(check)
# with a reason.
#   scripts/lint.sh [build-dir] [windows-build-dir]   JOBS (default 2) sets the parallel runs;
#   FILES (a regular expression on the source paths) lints those only.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
windows_build="${2:-$root/build/windows}"
for database in "$build" "$windows_build"; do
  [ -f "$database/compile_commands.json" ] || {
    echo "no $database/compile_commands.json: configure first (cmake --preset default;" \
      "cmake --preset windows)" >&2
    exit 1
  }
done
mingw_sysroot=/usr/x86_64-w64-mingw32
mingw_cxx=$(find /usr/lib/gcc/x86_64-w64-mingw32 -maxdepth 3 -path '*-posix/include/c++' | sort -V | tail -n 1)
if [ ! -d "$mingw_sysroot/include" ] || [ -z "$mingw_cxx" ]; then
  echo "mingw-w64's headers are missing: make deps" >&2
  exit 1
fi

# The sources of the Windows database to lint there: those the Linux build does not compile,
# and those with a branch for Windows. Each run-clang-tidy call takes one expression.
windows_files() {
  python3 - "$root" "$build/compile_commands.json" "$windows_build/compile_commands.json" <<'PY'
import json, re, sys
root, linux, windows = sys.argv[1:]
linux_files = {entry["file"] for entry in json.load(open(linux))}
chosen = []
for entry in json.load(open(windows)):
    path = entry["file"]
    if not re.match(re.escape(root) + r"/(?!build/).*\.cpp$", path):
        continue
    if path not in linux_files or "_WIN32" in open(path, errors="replace").read():
        chosen.append(re.escape(path))
print("^(" + "|".join(sorted(set(chosen))) + ")$")
PY
}

# run DATABASE LOG REGEX [clang-tidy arguments]: lints, and says whether it found anything.
run() {
  local database=$1 log=$2 files=$3
  shift 3
  if [ -n "${FILES:-}" ]; then files=$FILES; fi
  run-clang-tidy -p "$database" -j "${JOBS:-2}" -quiet "$@" "$files" >"$log" 2>&1 || true
  # clang-tidy colours its lines; a finding is a line "path:line:column: error: ...".
  if sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^/[^ ]+:[0-9]+:[0-9]+: (warning|error): ' |
    sort -u | grep .; then
    echo "lint: findings above (whole log: $log)" >&2
    return 1
  fi
  echo "lint: clang-tidy finds nothing in $(grep -c '^clang-tidy' "$log") sources ($(basename "$database"))"
}

status=0
# Only the sources in the tree; the build's own (moc, resources) are not ours to fix.
run "$build" "$build/lint.log" "^$root/(app|bench|cli|device|params|platform|qt|sim|tests)/.*\\.cpp\$" ||
  status=1
# Clang's mingw-w64 driver finds neither g++'s C++ headers nor keeps the build machine's
# /usr/include out by itself: the sysroot and the C++ headers are named.
run "$windows_build" "$windows_build/lint.log" "$(windows_files)" \
  -extra-arg=--target=x86_64-w64-mingw32 -extra-arg=--sysroot="$mingw_sysroot" \
  -extra-arg=-nostdinc++ -extra-arg=-isystem"$mingw_cxx" \
  -extra-arg=-isystem"$mingw_cxx/x86_64-w64-mingw32" -extra-arg=-isystem"$mingw_cxx/backward" ||
  status=1
exit "$status"
