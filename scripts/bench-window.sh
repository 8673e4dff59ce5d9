#!/usr/bin/env bash
# Window benchmark: ostrel-sim-bench (ostrel-sim with its timing probe) on Qt's offscreen
# platform. Prints the time from process start to the window's first paint and to the
# first status shown (the median of several starts), the CPU time of 30 s of idle running
# with Auto refresh on, and the peak resident memory.
#   scripts/bench-window.sh [build-dir]      (default: build/default)
# RUNS (default 7) sets the number of starts, IDLE_SECONDS (default 30) the idle time.
# BENCH_FIGURES=file also writes the medians there as name=value lines, for the Windows
# benchmark to print beside its own (scripts/bench-windows.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
program="$build/qt/ostrel-sim-bench"
runs="${RUNS:-7}"
idle="${IDLE_SECONDS:-30}"
[ -x "$program" ] || { echo "no $program: build it first (make build)" >&2; exit 1; }

export QT_QPA_PLATFORM=offscreen
log="$(mktemp)"
trap 'rm -f "$log" "$log.ostrel"' EXIT

# One run: ostrel-sim stays up `$1` seconds after the first status, then closes itself.
# Prints "<window ms> <status ms> <idle cpu us> <peak rss kB>".
run_once() {
  local start
  start=$(date +%s%N)
  OSTREL_SIM_BENCH="$1" "$program" >/dev/null 2>"$log"
  local names="window-shown-ns first-status-ns idle-cpu-us peak-rss-kb"
  awk -v start="$start" -v figures="$(awk -v names="$names" -f "$root/scripts/bench-probe.awk" "$log")" 'BEGIN {
      if (split(figures, v, " ") != 4) { exit 1 }
      printf "%.1f %.1f %d %d\n", (v[1] - start) / 1e6, (v[2] - start) / 1e6, v[3], v[4]
    }' || { echo "ostrel-sim printed no figures:" >&2; cat "$log" >&2; exit 1; }
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "ostrel-sim window benchmark ($program, offscreen platform)"
run_once 0 >/dev/null  # warm the caches: the figures are for a machine that ran it before
windows=()
statuses=()
gaps=()
for _ in $(seq "$runs"); do
  figures=$(run_once 0)
  read -r window status _ _ <<<"$figures"
  windows+=("$window")
  statuses+=("$status")
  gaps+=("$(awk -v w="$window" -v s="$status" 'BEGIN { printf "%.1f", s - w }')")
done
figures=$(run_once "$idle")
read -r _ _ cpu rss <<<"$figures"

window_median=$(printf '%s\n' "${windows[@]}" | median)
status_median=$(printf '%s\n' "${statuses[@]}" | median)
gap_median=$(printf '%s\n' "${gaps[@]}" | median)
awk -v w="$window_median" -v s="$status_median" -v cpu="$cpu" -v idle="$idle" -v rss="$rss" \
    -v runs="$runs" -v ws="${windows[*]}" -v ss="${statuses[*]}" 'BEGIN {
  pct = cpu / (idle * 1e6) * 100
  mb = rss / 1024
  printf "  window shown:  %6.1f ms  median of %d starts (%s)   target < 100 ms  %s\n", w, runs, ws, (w < 100 ? "ok" : "MISSED")
  printf "  first status:  %6.1f ms  median of %d starts (%s)   target < 250 ms  %s\n", s, runs, ss, (s < 250 ? "ok" : "MISSED")
  printf "  idle CPU:      %6.3f %%   of one core, %d s with Auto refresh on (%.1f ms)   target < 0.2 %%  %s\n", pct, idle, cpu / 1000, (pct < 0.2 ? "ok" : "MISSED")
  printf "  peak memory:   %6.1f MB  resident (%d kB)   target < 40 MB  %s\n", mb, rss, (mb < 40 ? "ok" : "MISSED")
}'

if [ -n "${BENCH_FIGURES:-}" ]; then
  strip -o "$log.ostrel" "$build/qt/ostrel"
  {
    echo "linux_window_ms=$window_median"
    echo "linux_status_ms=$status_median"
    echo "linux_gap_ms=$gap_median"
    awk -v cpu="$cpu" -v idle="$idle" 'BEGIN { printf "linux_idle_cpu_pct=%.3f\n", cpu / (idle * 1e6) * 100 }'
    echo "linux_peak_rss_kb=$rss"
    echo "linux_stripped_bytes=$(stat -c %s "$log.ostrel")"
  } >"$BENCH_FIGURES"
fi
