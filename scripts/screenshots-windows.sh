#!/usr/bin/env bash
# Screenshots of the Windows programmer for the documentation: runs ostrel-sim.exe under
# Wine in a Wine virtual desktop (Wine draws the window frames itself) on Xvfb, chooses a
# parameter as a user does, and saves the two windows and the About box as PNGs.
#   scripts/screenshots-windows.sh [output-dir]     (default: docs/)
# Needs a built build/windows/win32/ostrel-sim.exe (cmake --build --preset windows),
# wine64, fonts-wine, Xvfb, xdotool and ImageMagick.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/docs}"
program="$root/build/windows/win32/ostrel-sim.exe"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
magick=/usr/bin/convert  # ImageMagick's own, not a wrapper earlier in PATH
[ -f "$program" ] || { echo "build ostrel-sim.exe first: cmake --build --preset windows" >&2; exit 1; }
for tool in Xvfb xdotool import "$wine" "$magick"; do
  command -v "$tool" >/dev/null || { echo "missing $tool: make deps" >&2; exit 1; }
done
mkdir -p "$out"

work="$(mktemp -d)"
xvfb_pid=""
export WINEPREFIX="$root/build/windows/screenshots-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A prefix of its own, made once, with Wine's own fonts: Debian's Wine does not find them
# where fonts-wine puts them, and without them "MS Shell Dlg" is not Tahoma and the caption
# buttons have no glyphs.
if [ ! -d "$WINEPREFIX/drive_c/windows/Fonts" ]; then
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1
  "$wineserver" -w
fi
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=":$(cat "$work/display")"
export DISPLAY

shot() {
  import -window root "$work/shot.png"
  # Cut the empty desktop away (a border in the desktop's colour tells -trim which colour
  # that is).
  local desktop_colour
  desktop_colour="$("$magick" "$work/shot.png" -format '%[pixel:p{0,0}]' info:)"
  "$magick" "$work/shot.png" -crop 1280x560+0+0 -bordercolor "$desktop_colour" -border 1 \
    -trim +repage "$1"
}

"$wine" explorer /desktop=Ostrel,1280x560 "$program" >"$work/sim.log" 2>&1 &
xdotool search --sync --name '^Ostrel - Wine desktop$' >/dev/null
sleep 3  # the first status, every field filled

# Choose a parameter as a user does, so the editor shows its value, unit and description:
# from Send, the first tab stop, back to the list, then four rows down
# ("Min. VIN voltage at PSU startup").
xdotool key shift+Tab shift+Tab shift+Tab shift+Tab Down Down Down Down
sleep 1.5
shot "$out/screenshot-windows.png"

# The About item is the system menu's last one.
xdotool key alt+space
sleep 0.5
xdotool key Up Return
sleep 1
shot "$out/screenshot-windows-about.png"
xdotool key Escape
echo "saved $out/screenshot-windows.png and $out/screenshot-windows-about.png"
