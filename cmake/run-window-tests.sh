#!/bin/sh
# Runs window tests under Wine on the X display of the caller (xvfb-run): the Wine runner
# ($1), then the test program and its arguments. Every Wine process of the window tests'
# prefix starts with that display, so the prefix's desktop has one.
set -e
runner=$1
shift
# Xvfb has no window manager: Wine would wait two seconds for one at every window that
# hides. Unmanaged windows need none.
"$runner" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
exec "$runner" "$@"
