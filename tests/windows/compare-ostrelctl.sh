#!/usr/bin/env bash
# ostrelctl.exe under Wine against the Linux build's ostrelctl: the same command lines, each
# on simulated controllers in a fresh folder of its own side, must give the same standard
# output, standard error and exit status, and leave the same files. The lines include
# non-ASCII text, which must reach every message as the user typed it. Then status on
# Wine's console (a pseudo-terminal) must show the degree sign, not its UTF-8 bytes read in
# another code page.
#
#   compare-ostrelctl.sh LINUX-OSTRELCTL WINE-RUN OSTRELCTL.EXE
#
# Exit 77 (skipped) when the Linux build is missing (make test builds it first).
set -uo pipefail

linux=$1
run=$2
exe=$3
if [ ! -x "$linux" ]; then
    echo "skipped: no Linux ostrelctl at $linux (the default preset builds it)"
    exit 77
fi
# Wine takes the command line from the Unix one in the locale's encoding.
export LC_ALL=C.UTF-8

# One command line a row, words separated by "|".
commands=(
    "--version"
    "--simulated|status"
    "--simulated|status|--json"
    "--simulated|list"
    "--simulated=2|devices"
    "--simulated|get|delay-before-psu-startup"
    "--simulated|get|nosuch°"
    "--simulated|get|ünïcödé"
    "--simulated|set|0x03|5°"
    "--simulated|set|min-temp|-5"
    "--simulated|set|0x03|9"
    "--simulated|--device|sïm-1|status"
    "--simulated|backup|é.json"
    "--simulated|diff|é.json"
    "--simulated|restore|--dry-run|é.json"
    "--simulated|restore|nö-such.json"
    "--simulated|metrics|--output|mëtrics.prom"
    "--simulated|stätus"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/linux" "$work/windows"

# Timings are the only figures that may differ; Windows ends lines with CR LF.
normal() { sed -e 's/\r$//' -e 's/ in [0-9]\+ ms/ in N ms/g' "$1"; }

differ=0
for line in "${commands[@]}"; do
    IFS='|' read -r -a words <<<"$line"
    (cd "$work/linux" && "$linux" "${words[@]}" >../out.linux 2>../err.linux </dev/null)
    linux_status=$?
    (cd "$work/windows" && "$run" "$exe" "${words[@]}" >../out.windows 2>../err.windows </dev/null)
    windows_status=$?
    shown="ostrelctl ${words[*]}"
    if [ "$linux_status" -ne "$windows_status" ]; then
        echo "DIFFERS: $shown: exit status $linux_status on Linux, $windows_status on Windows"
        differ=$((differ + 1))
    fi
    for stream in out err; do
        if ! diff -u --label "Linux std$stream" --label "Windows std$stream" \
            <(normal "$work/$stream.linux") <(normal "$work/$stream.windows") >"$work/diff"; then
            echo "DIFFERS: $shown:"
            cat "$work/diff"
            differ=$((differ + 1))
        fi
    done
done
files_linux=$(cd "$work/linux" && ls -A)
files_windows=$(cd "$work/windows" && ls -A)
if [ "$files_linux" != "$files_windows" ]; then
    echo "DIFFERS: files left: Linux: $files_linux; Windows: $files_windows"
    differ=$((differ + 1))
fi
echo "${#commands[@]} command lines compared, $differ differences"

# The console: a pseudo-terminal, which Wine makes the program's console.
console=$(cd "$work/windows" && script -qec "'$run' '$exe' --simulated status" /dev/null | tr -d '\r')
if ! grep -q '\[°C\]' <<<"$console" || grep -q 'Â' <<<"$console"; then
    echo "DIFFERS: the console shows no [°C]:"
    echo "$console"
    differ=$((differ + 1))
fi
[ "$differ" -eq 0 ]
