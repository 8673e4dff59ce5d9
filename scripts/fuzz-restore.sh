#!/usr/bin/env bash
# Fuzzes ostrelctl's whole restore path (libFuzzer, clang, ASan + UBSan) for SECONDS, seeded
# with a real backup of the simulated controller, and prints the figure.
#   scripts/fuzz-restore.sh [SECONDS]    (default 60)
# The corpus grows in build/fuzz/restore-corpus; a crash leaves its input in build/fuzz.
set -euo pipefail
seconds=${1:-60}
cd "$(dirname "$0")/.."
build=build/fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${JOBS:-2}" --target ostrelctl_restore_fuzz ostrelctl >/dev/null
corpus=$build/restore-corpus
mkdir -p "$corpus"
"$build/cli/ostrelctl" --simulated backup "$corpus/seed-backup.json" >/dev/null
log=$build/restore-fuzz.log
if ! (cd "$build" && nice -n 10 cli/fuzz/ostrelctl_restore_fuzz -max_total_time="$seconds" \
        -print_final_stats=1 -timeout=20 -rss_limit_mb=4096 restore-corpus) >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "restore fuzzer: FAILED after the lines above (log: $log)" >&2
  exit 1
fi
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
coverage=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
inputs=$(find "$corpus" -type f | wc -l)
echo "restore fuzzer: ${seconds} s, ${executions} executions (${rate}/s), coverage ${coverage} edges," \
  "${features} features, corpus ${inputs} inputs, no crash, no sanitizer report"
