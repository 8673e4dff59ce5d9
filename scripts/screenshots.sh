#!/usr/bin/env bash
# Screenshots of the programmer for the documentation: runs ostrel-sim under Xvfb with a
# window manager (openbox), as on a desktop, waits for the first status, and saves the main
# window and the About box as PNGs.
#   scripts/screenshots.sh [output-dir]     (default: docs/)
# Needs a built build/default/qt/ostrel-sim-bench (ostrel-sim with its timing probe), Xvfb,
# xdotool, ImageMagick, openbox and xprop (x11-utils).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/docs}"
program="$root/build/default/qt/ostrel-sim-bench"
[ -x "$program" ] || { echo "build ostrel-sim first: make build" >&2; exit 1; }
for tool in Xvfb xdotool import openbox; do
  command -v "$tool" >/dev/null || { echo "missing $tool: make deps" >&2; exit 1; }
done
mkdir -p "$out"

work="$(mktemp -d)"
xvfb_pid=""
wm_pid=""
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  if [ -n "$wm_pid" ]; then kill "$wm_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display of its own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=":$(cat "$work/display")"
export DISPLAY

# A window manager places the windows, decorates them and gives the focus, as a desktop does.
openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm_pid=$!
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done

# The benchmark probe keeps the window up for a while (it prints its figures only at the
# end); the caption names the firmware once the first status is shown.
QT_QPA_PLATFORM=xcb OSTREL_SIM_BENCH=60 "$program" 2>"$work/sim.log" &
sim_pid=$!
main_id="$(timeout 30 xdotool search --sync --onlyvisible --name '^Ostrel ver: [0-9]')" ||
  { echo "no status shown" >&2; cat "$work/sim.log" >&2; exit 1; }
sleep 0.5  # let the fields repaint

# Choose a parameter as a user does, so the editor shows a value, unit and description:
# open the list, four rows down ("Min. VIN voltage at PSU startup"), Return.
xdotool mousemove --window "$main_id" 120 153 click 1
sleep 0.5
xdotool key Down Down Down Down Return
sleep 1
import -frame -window "$main_id" "$out/screenshot-main.png"

# The About item lives in the window's context menu; its mnemonic is A.
xdotool mousemove --window "$main_id" 20 200 click 3
sleep 0.5
xdotool key a
about_id="$(xdotool search --sync --onlyvisible --name '^About Ostrel$')"
sleep 0.5
import -frame -window "$about_id" "$out/screenshot-about.png"
xdotool key Escape

echo "saved $out/screenshot-main.png and $out/screenshot-about.png"
