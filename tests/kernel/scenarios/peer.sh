# shellcheck shell=bash
# Debian's hidapi as a second opinion on the same node: it must see the controller with the
# ids, strings and path our discovery reports, and one status exchange through it must give
# the bytes our channel gives. Known differences of hidapi are listed, not failed.
source "$(dirname "$0")/lib.sh"

start_gadget ostrel --version 0x21 --mode 3 || finish
"$OSTREL_BUILD/tests/kernel/ostrel-probe" >/tmp/ours.txt 2>/tmp/ours.err
check "our library finds the controller and gets a status report" test $? -eq 0
"$OSTREL_BUILD/tests/kernel/hidapi-peer" >/tmp/peer.txt 2>/tmp/peer.err
check "hidapi finds the controller and gets a status report" test $? -eq 0
say "ours:"
sed 's/^/scenario:   /' /tmp/ours.txt
say "hidapi:"
sed 's/^/scenario:   /' /tmp/peer.txt
cp /tmp/ours.txt /tmp/peer.txt "$OSTREL_OUT/"

line() { grep "^$1" "$2"; }
check "the same device: ids, strings and node path" test "$(line device /tmp/ours.txt)" = "$(line device /tmp/peer.txt)"
check "exactly one device for both" test "$(line devices /tmp/ours.txt)" = "devices 1" -a "$(line devices /tmp/peer.txt)" = "devices 1"
check "the same 24 bytes written" test "$(line written /tmp/ours.txt)" = "$(line written /tmp/peer.txt)"
check "the same status report bytes" test "$(line status /tmp/ours.txt)" = "$(line status /tmp/peer.txt)"
stop_gadget ostrel
check "the firmware received the same status request twice" \
    test "$(grep -c ' 81\( 00\)\{23\}$' /tmp/ostrel.log)" -eq 2
finish
