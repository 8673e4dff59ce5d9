#!/usr/bin/env bash
# Fuzzes ostrelctl's argument parsing (libFuzzer, clang, ASan + UBSan) for SECONDS: any
# argument vector through the parser, the choice of controllers and the commands, on
# simulated controllers. Seeded with the manual page's examples; its dictionary is every
# word the bash completion offers (commands, options, parameter names) and the fixture's
# locations and device paths. Prints the figures.
#   scripts/fuzz-arguments.sh [SECONDS]    (default 60)
# The corpus grows in build/fuzz/arguments-corpus; a crash leaves its input in build/fuzz.
set -euo pipefail
seconds=${1:-60}
cd "$(dirname "$0")/.."
# shellcheck source=lib/fuzz.sh
source scripts/lib/fuzz.sh
build=$PWD/build/fuzz
fuzz_build ostrelctl_arguments_fuzz ostrelctl-manpage
corpus=$build/arguments-corpus
mkdir -p "$corpus"
# Each example of the manual page as one input: its words after "ostrelctl", up to a
# redirection, NUL-separated.
"$build/cli/ostrelctl-manpage" 0 0 "$build/arguments.1"
sed -n '/^\.SH EXAMPLES/,/^\.SH/s/^\.B ostrelctl //p' "$build/arguments.1" | sed 's/\\-/-/g' |
  while IFS= read -r line; do
    printf '%s' "${line%% >*}" | tr ' ' '\0' >"$corpus/example-$(printf '%s' "$line" | md5sum | cut -c1-12)"
  done
# Every word a completion offers, then what the fuzzer's simulated system holds (sim-1 and
# sim-2 at sim-hidraw0 and sim-hidraw1, a mouse at 3-1): each a word of its own.
dictionary=$build/arguments.dict
{
  "$build/cli/ostrelctl" completion bash | sed -n 's/.*compgen -W "\([^"$]*\)".*/\1/p' | tr ' ' '\n'
  printf '%s\n' sim-1 sim-2 sim-hidraw0 sim-hidraw1 mouse 3-1 - 0 1 5 -20 12.5 Never
} | sort -u | grep . | sed 's/.*/"&\\x00"/' >"$dictionary"
# The program writes its FILEs in the folder it runs in, which the fuzzer empties after each
# input: a scratch folder of its own.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ostrelctl-arguments-scratch.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fuzz_run arguments "$seconds" "$scratch" "$corpus" "$build/arguments-fuzz.log" \
  "$build/cli/fuzz/ostrelctl_arguments_fuzz" -dict="$dictionary" -artifact_prefix="$build/"
