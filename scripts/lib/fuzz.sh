# shellcheck shell=bash
# Sourced by the fuzzing scripts (fuzz-restore.sh, fuzz-arguments.sh, fuzz-broker.sh): builds
# and runs one libFuzzer target of the fuzz preset and prints its figures.

# fuzz_build TARGET...: configures the fuzz preset and builds TARGET... and ostrelctl into
# build/fuzz; on a failure prints the end of the build's output (else kept quiet) and exits 1.
fuzz_build() {
  local log=$PWD/build/fuzz-build.log
  mkdir -p build
  if ! { cmake --preset fuzz && cmake --build --preset fuzz -j "${JOBS:-2}" --target "$@" ostrelctl; } \
      >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz build: FAILED after the lines above (log: $log)" >&2
    exit 1
  fi
}

# fuzz_run NAME SECONDS FOLDER CORPUS LOG PROGRAM [OPTION...]: runs PROGRAM in FOLDER for
# SECONDS on CORPUS (a folder, which grows), within the sanitizers' limits, its output in LOG.
# On a failure prints the end of the log and exits 1; else one line of figures.
fuzz_run() {
  local name=$1 seconds=$2 folder=$3 corpus=$4 log=$5
  shift 5
  if ! (cd "$folder" && nice -n 10 "$@" -max_total_time="$seconds" -print_final_stats=1 \
          -timeout=20 -rss_limit_mb=4096 "$corpus") >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$name fuzzer: FAILED after the lines above (log: $log)" >&2
    exit 1
  fi
  local executions rate last coverage features inputs
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
  coverage=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  inputs=$(find "$corpus" -type f | wc -l)
  echo "$name fuzzer: ${seconds} s, ${executions} executions (${rate}/s), coverage ${coverage}" \
    "edges, ${features} features, corpus ${inputs} inputs, no crash, no sanitizer report"
}
