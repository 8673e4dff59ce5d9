# shellcheck shell=bash
# Sourced by the scripts that drive Windows programs under Wine on a virtual X screen
# (screenshots-windows.sh, screenshots-installer.sh). Sourcing it makes the work folder
# $work and sets up the clean-up on exit: Wine's server of the prefix stopped, Xvfb ended,
# $work removed. wine_desktop then makes the prefix and the screen.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

# require_tools TOOL...: ends the script, saying which, when a tool is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "missing $tool: make deps" >&2; exit 1; }
  done
}

work="$(mktemp -d)"
xvfb_pid=""
wine_prefix=""
cleanup() {
  # Only the server of our prefix: without one, -k would stop that of the user's own.
  if [ -n "$wine_prefix" ]; then "$wineserver" -k 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# wine_desktop PREFIX WIDTHxHEIGHTxDEPTH: the Wine prefix PREFIX (made when it has no fonts
# folder yet) with Wine's own fonts, and an Xvfb screen of that size as $DISPLAY.
wine_desktop() {
  wine_prefix=$1
  export WINEPREFIX="$wine_prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # Debian's Wine does not find its own fonts where fonts-wine puts them, and without them
  # "MS Shell Dlg" is not Tahoma and the caption buttons have no glyphs.
  if [ ! -d "$WINEPREFIX/drive_c/windows/Fonts" ]; then
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1
    "$wineserver" -w
  fi
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

  Xvfb -displayfd 3 -screen 0 "$2" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
  DISPLAY=":$(cat "$work/display")"
  export DISPLAY
}
