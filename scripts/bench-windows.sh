#!/usr/bin/env bash
# Windows benchmark: the sizes of ostrel.exe and ostrel-sim.exe (as built and stripped), and
# ostrel-sim-bench.exe (ostrel-sim.exe with its timing probe) under Wine on Xvfb: the time
# from the process's start to the window's first paint and to the first status shown, the
# CPU time of idle running with Auto refresh on, and the peak working set. The first start
# (Wine's server not running yet) is reported apart from the median of the later ones.
#   scripts/bench-windows.sh [windows-build-dir] [linux-figures-file]
# (default: build/windows). A figures file written by scripts/bench-window.sh
# (BENCH_FIGURES=file: name=value lines) adds the Linux figures of the same run beside these.
# RUNS (default 7) sets the number of starts, IDLE_SECONDS (default 30) the idle time.
# Then ostrel-sim.exe and bare-dialog.exe, a bare dialog with the same two timers and one
# blocked thread, each idle for ANCHOR_SECONDS (default 60) with Wine's server counted: both
# figures and their ratio. ANCHOR_ONLY=1 measures only these two.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/windows}" && pwd)"  # Wine wants its prefix absolute
linux_figures="${2:-}"
runs="${RUNS:-7}"
idle="${IDLE_SECONDS:-30}"
anchor_seconds="${ANCHOR_SECONDS:-60}"
program="$build/win32/ostrel-sim-bench.exe"
anchor="$build/win32/bare-dialog.exe"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
strip=x86_64-w64-mingw32-strip
for file in "$program" "$anchor" "$build/win32/ostrel.exe" "$build/win32/ostrel-sim.exe" "$build/wine-run.sh"; do
  [ -e "$file" ] || { echo "no $file: build it first (cmake --build --preset windows)" >&2; exit 1; }
done

# Wine needs an X display for the window: one Xvfb for the whole benchmark.
if [ -z "${OSTREL_BENCH_IN_XVFB:-}" ]; then
  OSTREL_BENCH_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$build" "$linux_figures"
fi

# A prefix of the benchmark's own, kept in the build folder.
prefix="$build/wine-prefix-bench"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work="$(mktemp -d)"
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

size_line() {  # name file
  local built stripped
  built=$(stat -c %s "$2")
  "$strip" -o "$work/stripped.exe" "$2"
  stripped=$(stat -c %s "$work/stripped.exe")
  awk -v name="$1" -v b="$built" -v s="$stripped" 'BEGIN {
    printf "  %-15s %6.2f MB as built, %6.2f MB stripped (%d bytes)   target < 2 MB  %s\n",
           name ":", b / 1048576, s / 1048576, s, (s < 2 * 1048576 ? "ok" : "MISSED") }'
  echo "$stripped" >"$work/size-$1"
}

echo "ostrel.exe and ostrel-sim.exe ($build, Wine $("$wine" --version 2>/dev/null) on Xvfb)"
if [ -z "${ANCHOR_ONLY:-}" ]; then
  size_line ostrel.exe "$build/win32/ostrel.exe"
  size_line ostrel-sim.exe "$build/win32/ostrel-sim.exe"
fi

# The window tests' setting: unmanaged windows, as Xvfb has no window manager. Then the
# server stops, so that the first start finds none running.
made=""
[ -d "$prefix/drive_c" ] || made=1
start=$(date +%s%N)
OSTREL_WINE_PREFIX="$prefix" "$build/wine-run.sh" reg add 'HKCU\Software\Wine\X11 Driver' \
  /v Managed /d N /f >/dev/null
[ -z "$made" ] || echo "  new Wine prefix made in $((($(date +%s%N) - start) / 1000000)) ms ($prefix)"
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w

# CPU ticks (user and system) a process has used; its name may hold blanks.
ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

# The server of this prefix: it runs in a folder named after the prefix's device and inode.
server_pid() {
  local dev ino dir pid
  read -r dev ino <<<"$(stat -c '%d %i' "$prefix")"
  dir=$(printf 'server-%x-%x' "$dev" "$ino")
  for pid in $(pgrep -u "$(id -u)" -x 'wineserver(64)?'); do
    if [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$dir" ]; then
      echo "$pid"
      return
    fi
  done
  echo "no Wine server runs for $prefix" >&2
  exit 1
}

# Idle CPU of a window program and the server together: started, left to settle, measured
# over $anchor_seconds, ended. Prints "<program %> <server %>" of one core.
idle_with_server() {
  local exe=$1 pid server p0 s0 p1 s1 hz
  hz=$(getconf CLK_TCK)
  "$wine" "$exe" >/dev/null 2>&1 &
  pid=$!
  sleep 5
  grep -q "$(basename "$exe")" "/proc/$pid/cmdline" ||
    { echo "$exe did not start as process $pid" >&2; exit 1; }
  server=$(server_pid)
  p0=$(ticks "$pid") s0=$(ticks "$server")
  sleep "$anchor_seconds"
  p1=$(ticks "$pid") s1=$(ticks "$server")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  awk -v p="$((p1 - p0))" -v s="$((s1 - s0))" -v hz="$hz" -v t="$anchor_seconds" \
    'BEGIN { printf "%.3f %.3f\n", p / hz / t * 100, s / hz / t * 100 }'
}

anchor_figures() {
  local sim bare
  OSTREL_WINE_PREFIX="$prefix" "$build/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1  # the server
  sim=$(idle_with_server "$build/win32/ostrel-sim.exe")
  bare=$(idle_with_server "$anchor")
  awk -v sim="$sim" -v bare="$bare" -v t="$anchor_seconds" 'BEGIN {
    split(sim, a, " "); split(bare, b, " ")
    total = a[1] + a[2]; anchor = b[1] + b[2]
    printf "  idle beside a bare dialog, %d s each, program and Wine'"'"'s server together:\n", t
    printf "  ostrel-sim.exe:   %6.3f %%  of one core (program %.3f %%, server %.3f %%)\n", total, a[1], a[2]
    printf "  bare-dialog.exe:  %6.3f %%  of one core (program %.3f %%, server %.3f %%)\n", anchor, b[1], b[2]
    ratio = anchor > 0 ? total / anchor : 0
    printf "  ratio:            %6.2f    target <= 1.5  %s\n", ratio, (anchor > 0 && ratio <= 1.5 ? "ok" : "MISSED")
  }'
}

if [ -n "${ANCHOR_ONLY:-}" ]; then
  anchor_figures
  exit 0
fi

# One start: ostrel-sim-bench.exe stays up `$1` seconds after the first status, then closes.
# The first goes through wine-run.sh, which starts Wine's server and services; the later
# ones start the program alone. Prints "<window ms> <status ms> <status - window ms>
# <launch to window ms> <idle cpu us> <peak working set kB> <private kB>", times from the
# process's creation.
run_once() {
  local launch
  launch=$(date +%s%N)
  if [ "$2" = first ]; then
    OSTREL_WINE_PREFIX="$prefix" OSTREL_SIM_BENCH="$1" "$build/wine-run.sh" "$program" >"$work/log" 2>&1
  else
    OSTREL_SIM_BENCH="$1" "$wine" "$program" >"$work/log" 2>&1
  fi
  local names="created-ns window-shown-ns first-status-ns idle-cpu-us peak-working-set-kb private-kb"
  awk -v launch="$launch" -v figures="$(awk -v names="$names" -f "$root/scripts/bench-probe.awk" "$work/log")" 'BEGIN {
      if (split(figures, v, " ") != 6 || v[2] == 0 || v[3] == 0) { exit 1 }
      c = v[1]
      printf "%.1f %.1f %.1f %.1f %d %d %d\n", (v[2] - c) / 1e6, (v[3] - c) / 1e6, (v[3] - v[2]) / 1e6,
             (v[2] - launch) / 1e6, v[4], v[5], v[6]
    }' || { echo "ostrel-sim-bench.exe printed no figures:" >&2; cat "$work/log" >&2; exit 1; }
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

figures=$(run_once 0 first)
read -r window status gap launched _ _ _ <<<"$figures"
printf "  first start (Wine's server not running): window %.1f ms, first status %.1f ms after the process's start; window %.1f ms after Wine's launch\n" \
  "$window" "$status" "$launched"
windows=() statuses=() gaps=() launches=()
for _ in $(seq "$runs"); do
  figures=$(run_once 0 later)
  read -r window status gap launched _ _ _ <<<"$figures"
  windows+=("$window") statuses+=("$status") gaps+=("$gap") launches+=("$launched")
done
figures=$(run_once "$idle" later)
read -r _ _ _ _ cpu peak private <<<"$figures"

window_median=$(printf '%s\n' "${windows[@]}" | median)
status_median=$(printf '%s\n' "${statuses[@]}" | median)
gap_median=$(printf '%s\n' "${gaps[@]}" | median)
launch_median=$(printf '%s\n' "${launches[@]}" | median)
awk -v w="$window_median" -v s="$status_median" -v g="$gap_median" -v l="$launch_median" \
    -v cpu="$cpu" -v idle="$idle" -v peak="$peak" -v private="$private" -v runs="$runs" \
    -v ws="${windows[*]}" -v ss="${statuses[*]}" -v gs="${gaps[*]}" 'BEGIN {
  printf "  later starts, medians of %d, from the process'"'"'s start:\n", runs
  printf "  window shown:  %6.1f ms  (%s); %.1f ms from Wine'"'"'s launch\n", w, ws, l
  printf "  first status:  %6.1f ms  (%s)\n", s, ss
  printf "  status after window: %6.1f ms  (%s)   target < 250 ms  %s\n", g, gs, (g < 250 ? "ok" : "MISSED")
  pct = cpu / (idle * 1e6) * 100
  printf "  idle CPU:      %6.3f %%   of one core, %d s with Auto refresh on (%.1f ms; Wine'"'"'s server not counted)\n", pct, idle, cpu / 1000
  printf "  peak working set: %6.1f MB (%d kB)   target < 10 MB  %s\n", peak / 1024, peak, (peak < 10 * 1024 ? "ok" : "MISSED")
  printf "  private memory:   %6.1f MB (%d kB) at the end; under Wine the working set also holds Wine'"'"'s own libraries\n", private / 1024, private
}'

anchor_figures

[ -n "$linux_figures" ] && [ -s "$linux_figures" ] || exit 0
awk -v file="$linux_figures" -v w="$window_median" -v s="$status_median" -v g="$gap_median" \
    -v cpu="$cpu" -v idle="$idle" -v peak="$peak" -v z="$(cat "$work/size-ostrel.exe")" 'BEGIN {
  while ((getline line < file) > 0) { split(line, kv, "="); linux[kv[1]] = kv[2] }
  lw = linux["linux_window_ms"]; ls = linux["linux_status_ms"]; lg = linux["linux_gap_ms"]
  lc = linux["linux_idle_cpu_pct"]; lr = linux["linux_peak_rss_kb"]; lz = linux["linux_stripped_bytes"]
  printf "Linux and Windows side by side (medians of this run)\n"
  printf "  %-22s %-24s %-24s %s\n", "", "Linux (Qt, offscreen)", "Windows (Wine, Xvfb)", "target"
  printf "  %-22s %-24s %-24s %s\n", "window shown", sprintf("%.1f ms", lw), sprintf("%.1f ms", w), ""
  printf "  %-22s %-24s %-24s %s\n", "first status", sprintf("%.1f ms", ls), sprintf("%.1f ms", s), ""
  printf "  %-22s %-24s %-24s %s\n", "status after window", sprintf("%.1f ms", lg), sprintf("%.1f ms", g), "< 250 ms"
  printf "  %-22s %-24s %-24s %s\n", "idle CPU", sprintf("%.3f %%", lc), sprintf("%.3f %%", cpu / (idle * 1e6) * 100), ""
  printf "  %-22s %-24s %-24s %s\n", "peak memory", sprintf("%.1f MB resident", lr / 1024), sprintf("%.1f MB working set", peak / 1024), "Windows < 10 MB"
  printf "  %-22s %-24s %-24s %s\n", "ostrel, stripped", sprintf("%.2f MB (Qt shared)", lz / 1048576), sprintf("%.2f MB (static)", z / 1048576), "Windows < 2 MB"
  printf "  (times: Linux from the launch, Windows from the process'"'"'s creation; Windows CPU without Wine'"'"'s server)\n"
}'
