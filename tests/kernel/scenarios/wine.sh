# shellcheck shell=bash
# The Windows build's device layers on the real kernel: Wine's HID stack reads the gadget's
# hidraw node, and the cross-built test program checks discovery, the channel and the close
# with a read pending (tests/kernel/wine/WineGadgetTest.cpp); here the frames the firmware
# received are checked byte for byte.
source "$(dirname "$0")/lib.sh"

: "${OSTREL_WINDOWS_BUILD:?}" "${OSTREL_WINE_PREFIX:?}"
export WINEPREFIX=/tmp/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cp -a "$OSTREL_WINE_PREFIX" "$WINEPREFIX"

start_gadget ostrel --version 0x21 --mode 3 || finish
started=$(now)
OSTREL_WINE_GADGET=1 /usr/lib/wine/wine64 \
    "$OSTREL_WINDOWS_BUILD/tests/kernel/wine/wine_gadget_test.exe" </dev/null >/tmp/wine.out 2>&1
rc=$?
sed 's/^/scenario:   /' /tmp/wine.out
say "figure: the Windows test program ran $(since "$started") s under Wine"
check "the Windows backend's tests pass through Wine's HID stack (exit $rc)" test "$rc" -eq 0
/usr/lib/wine/wineserver -k 2>/dev/null
stop_gadget ostrel
zeros() { printf ' 00%.0s' $(seq "$1"); }
check "the status request arrived whole" grep -q " 81$(zeros 23)$" /tmp/ostrel.log
check "the parameter write arrived whole" grep -q " a4 a0 03 01 2a 00$(zeros 18)$" /tmp/ostrel.log
check "the parameter read arrived whole" grep -q " a4 a1 03 01$(zeros 20)$" /tmp/ostrel.log
check "the firmware stored the value" grep -qx '03 2a' /tmp/ostrel.memory
cp /tmp/wine.out "$OSTREL_OUT/"
finish
