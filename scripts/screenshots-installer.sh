#!/usr/bin/env bash
# Screenshots of the Windows installer under Wine, to look at what a user sees: its welcome
# and licence pages, the uninstaller, and the installation in Wine's Add/Remove Programs with
# its support information (the uninstall entry's publisher, version, contact and help link).
#   scripts/screenshots-installer.sh [output-dir]   (default: build/windows/installer-screenshots)
# Needs the windows preset built (cmake --build --preset windows), makensis, wine64,
# fonts-wine, Xvfb, xdotool and ImageMagick. Works in a Wine prefix of its own, made afresh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/windows"
out="${1:-$build/installer-screenshots}"
# shellcheck source=lib/wine-desktop.sh
source "$root/scripts/lib/wine-desktop.sh"
[ -f "$build/CPackConfig.cmake" ] || { echo "configure and build the windows preset first" >&2; exit 1; }
require_tools Xvfb xdotool import makensis "$wine"
mkdir -p "$out"

(cd "$build" && cpack -G NSIS -B "$work/package" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; exit 1; }
setup=$(echo "$work"/package/*-setup.exe)

# A prefix of its own, made afresh.
wine_desktop "$work/prefix" 800x600x24

# desktop NAME PROGRAM...: starts PROGRAM in a Wine virtual desktop and waits for it.
desktop() {
  local name=$1
  shift
  "$wine" explorer "/desktop=$name,800x600" "$@" >>"$work/wine.log" 2>&1 &
  xdotool search --sync --name "^$name - Wine desktop$" >/dev/null
  sleep 4
}
shot() { import -window root -crop 520x400+140+100 +repage "$out/$1.png"; echo "saved $out/$1.png"; }

desktop Setup "$setup"
shot installer-welcome
xdotool key Return  # Next
sleep 2
shot installer-licence
xdotool key Escape  # Cancel, and yes
sleep 1
xdotool key Return
"$wineserver" -w

"$wine" "$setup" /S
"$wineserver" -w
desktop Apps control appwiz.cpl
# The first entry of the list, then its Support Information.
xdotool mousemove 88 223 click 1
sleep 1
xdotool mousemove 128 385 click 1
sleep 2
import -window root -crop 505x455+0+0 +repage "$out/installer-apps.png"
echo "saved $out/installer-apps.png"
xdotool key Return Escape
"$wineserver" -k

desktop Uninstall 'C:\Program Files\Ostrel\Uninstall.exe'
shot uninstaller
