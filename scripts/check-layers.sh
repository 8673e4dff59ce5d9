#!/usr/bin/env bash
# Keeps the layers of docs/ARCHITECTURE.md true, on the source tree itself:
# - every #include "folder/..." of a file names only folders its layer may depend on
#   (cli -> services -> core -> device, params, platform; qt, win32 -> app -> core);
# - the window's control ids (IDC_) are named only by the window: app/, qt/ and win32/;
# - cli/ holds under a quarter of the tree's lines, tests aside;
# - no file of the command line or the services, tests aside, is over 600 lines.
#   check-layers.sh [SOURCE-DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The project folders each layer may include, its own included.
declare -A allowed=(
    [params]="params"
    [device]="device platform"
    [platform]="platform"
    [sim]="sim device params platform"
    [core]="core device params platform"
    [app]="app core device params platform"
    [services]="services core device params platform"
    [cli]="cli services core device params platform sim"
    [qt]="qt app core device params platform sim"
    [win32]="win32 app core device params platform sim"
)
# Tests may also reach the simulator, the shared test helpers and the layers below the
# services, never the command line or the services from below them.
test_extra="sim tests device params platform core"

failures=0
complain() {
    echo "check-layers: $*" >&2
    failures=$((failures + 1))
}

sources() {
    find "$@" \( -name '*.cpp' -o -name '*.h' -o -name '*.h.in' -o -name '*.cpp.in' \) -type f
}

for layer in "${!allowed[@]}"; do
    [ -d "$layer" ] || continue
    while IFS= read -r file; do
        may=" ${allowed[$layer]} "
        case "$file" in */tests/*) may="$may$test_extra " ;; esac
        while IFS=: read -r line folder; do
            [ -n "$folder" ] || continue
            case "$may" in
                *" $folder "*) ;;
                *) complain "$file:$line includes $folder/, which $layer/ may not depend on" ;;
            esac
        done < <(grep -noE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[A-Za-z0-9_]+/' "$file" |
                     sed -E 's/^([0-9]+):.*"([A-Za-z0-9_]+)\/$/\1:\2/')
    done < <(sources "$layer")
done

while IFS= read -r hit; do
    complain "$hit: a control id below the window"
done < <(grep -rnE --include='*.cpp' --include='*.h' --include='*.in' --include='*.txt' \
             --include='*.cmake' 'IDC_' . --exclude-dir=build --exclude-dir=.git \
             --exclude-dir=app --exclude-dir=qt --exclude-dir=win32 --exclude-dir=docs |
             cut -d: -f1,2)

# Lines of code: C++ sources and CMake files outside every tests folder.
count_lines() {
    find "$@" -path '*/tests' -prune -o -path ./build -prune -o -path ./.git -prune -o \
        \( -name '*.cpp' -o -name '*.h' -o -name '*.in' -o -name 'CMakeLists.txt' -o \
        -name '*.cmake' \) -type f -print0 | xargs -0 cat | wc -l
}
tree_lines=$(count_lines .)
cli_lines=$(count_lines cli)
echo "check-layers: cli/ holds $cli_lines of the tree's $tree_lines lines, tests aside"
if [ $((cli_lines * 4)) -ge "$tree_lines" ]; then
    complain "cli/ holds a quarter of the tree's lines or more"
fi

while IFS= read -r file; do
    lines=$(wc -l <"$file")
    if [ "$lines" -gt 600 ]; then
        complain "$file has $lines lines (at most 600: split what it does)"
    fi
done < <(find cli services -path '*/tests' -prune -o -type f -print)

if [ "$failures" -gt 0 ]; then
    echo "check-layers: $failures problems" >&2
    exit 1
fi
echo "check-layers: every include points down, no control id below the window"
