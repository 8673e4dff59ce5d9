#!/usr/bin/env bash
# The checkout in an awkward place: the source tree is copied under /tmp into a folder whose
# path holds spaces, quotes, non-ASCII letters and a folder name with a leading dash. There
# the default preset is configured, the manual pages, the gadget program and ostrelctl are
# built, the pages are checked as man reads them, and one kernel scenario runs through the
# copy's own harness with the copy's build folder.
#   check-paths.sh SOURCE-DIR [COMPILER-LAUNCHER]
# COMPILER-LAUNCHER: the one the calling build uses (ccache, say), or none.
# Prints the time each step took. The copy is removed at the end; a failed run keeps the
# scenario's console log in the current folder.
set -euo pipefail

source_dir=$1
if [ -n "${2:-}" ]; then
    export CMAKE_CXX_COMPILER_LAUNCHER=$2 CMAKE_C_COMPILER_LAUNCHER=$2
fi
# A prefix that starts with a dash would be taken for an option by careless tools; the
# space and the quote break unquoted shell words; the letters break byte-wise handling.
top=$(mktemp -d "/tmp/ostrel check XXXXXX")
copy="$top/-d'Ösé dir/ostrel"
trap 'rm -rf -- "$top"' EXIT
mkdir -p -- "$copy"

start=$(date +%s.%N)
step() {
    local now
    now=$(date +%s.%N)
    awk -v a="$start" -v b="$now" -v what="$1" 'BEGIN { printf "check-paths: %s: %.1f s\n", what, b - a }'
    start=$now
}
fail() {
    echo "check-paths: FAILED: $*" >&2
    exit 1
}

# What a checkout holds, without its builds.
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
cd -- "$copy"
# A compiler cache (ccache), when the build uses one, takes paths relative to the copy, so
# that the next run's copy, in another folder, finds what this one compiled.
export CCACHE_BASEDIR=$copy CCACHE_NOHASHDIR=true
step "copied to $copy"

cmake --preset default >configure.log 2>&1 || { cat configure.log; fail "configure"; }
step "configured"

# A path CMake cannot take is refused at once, by name.
if cmake -S . -B 'build/semi;colon' >refused.log 2>&1 ||
    ! grep -q "has a semicolon, a double quote or a line break in its path" refused.log; then
    cat refused.log
    fail "a build folder with a semicolon was not refused plainly"
fi
cmake --build --preset default -j 2 --target man_pages ostrel-gadget ostrelctl >build.log 2>&1 ||
    { cat build.log; fail "build"; }
step "built the manual pages, the gadget program and ostrelctl"

dist/man/check-pages.sh build/default/dist/man/*.1.gz || fail "the manual pages"
step "checked the manual pages"

if ! tests/kernel/run-harness.sh --scenario tests/kernel/scenarios/udev.sh \
    --build build/default --work build/default/scenario-udev; then
    cp build/default/scenario-udev/console.log "$OLDPWD/paths-scenario-console.log" 2>/dev/null || true
    fail "the kernel scenario (console log kept as paths-scenario-console.log)"
fi
step "ran the udev kernel scenario"
