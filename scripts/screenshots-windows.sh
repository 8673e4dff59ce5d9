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
magick=/usr/bin/convert  # ImageMagick's own, not a wrapper earlier in PATH
# shellcheck source=lib/wine-desktop.sh
source "$root/scripts/lib/wine-desktop.sh"
[ -f "$program" ] || { echo "build ostrel-sim.exe first: cmake --build --preset windows" >&2; exit 1; }
require_tools Xvfb xdotool import "$wine" "$magick"
mkdir -p "$out"

# A prefix of its own, made once.
wine_desktop "$root/build/windows/screenshots-prefix" 1280x720x24

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
