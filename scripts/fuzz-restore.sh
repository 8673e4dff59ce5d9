#!/usr/bin/env bash
# Fuzzes ostrelctl's whole restore path (libFuzzer, clang, ASan + UBSan) for SECONDS, seeded
# with a real backup of the simulated controller, and prints the figure.
#   scripts/fuzz-restore.sh [SECONDS]    (default 60)
# The corpus grows in build/fuzz/restore-corpus; a crash leaves its input in build/fuzz.
set -euo pipefail
seconds=${1:-60}
cd "$(dirname "$0")/.."
# shellcheck source=lib/fuzz.sh
source scripts/lib/fuzz.sh
build=$PWD/build/fuzz
fuzz_build ostrelctl_restore_fuzz
corpus=$build/restore-corpus
mkdir -p "$corpus"
"$build/cli/ostrelctl" --simulated backup "$corpus/seed-backup.json" >/dev/null
fuzz_run restore "$seconds" "$build" "$corpus" "$build/restore-fuzz.log" \
  "$build/cli/fuzz/ostrelctl_restore_fuzz"
