# shellcheck shell=bash
# start_gadget sets NAME_node and NAME_pid, and the helpers run through wait_until and check,
# which shellcheck does not follow.
# shellcheck disable=SC2317,SC2154
# The live set of controllers on the real USB stack: two ostrel-watch programs, one woken by
# udev's events (the host's systemd-udevd), one searching by the clock, see each gadget
# arrive when its UDC is bound and depart when it is unbound, once each, at the location the
# kernel gives its USB device; one bound again arrives again (and answers), two pulled at
# once depart both; and Ctrl-C's signal ends both watches at once.
source "$(dirname "$0")/lib.sh"

WATCH=$OSTREL_BUILD/tests/kernel/ostrel-watch
export SYSTEMD_IGNORE_CHROOT=1
/lib/systemd/systemd-udevd --daemon || { say "FAILED: systemd-udevd did not start"; exit 1; }

"$WATCH" >/tmp/notified.txt 2>&1 &
notified_pid=$!
"$WATCH" --poll >/tmp/polled.txt 2>&1 &
polled_pid=$!
started() { grep -q '^watching' /tmp/notified.txt && grep -q '^watching' /tmp/polled.txt; }
check "both watches start" wait_until 30 started
check "udev's events wake the one" grep -qx 'watching notified' /tmp/notified.txt
check "the other searches by the clock" grep -qx 'watching polling' /tmp/polled.txt
check "no controller is attached at the start" sh -c '! grep -q "^attached" /tmp/notified.txt /tmp/polled.txt'

# count LINE: how often each watch printed it, as "notified polled".
count() { echo "$(grep -cx "$1" /tmp/notified.txt) $(grep -cx "$1" /tmp/polled.txt)"; }
# seen N LINE: both watches printed it N times.
seen() { [ "$(count "$2")" = "$1 $1" ]; }
expect() {
    local n=$1 line=$2
    wait_until 30 seen "$n" "$line"
    check "both watches: $line ($n times, got $(count "$line"))" seen "$n" "$line"
}

start_gadget one --udc 0 || finish
loc_one=$(location_of "$one_node")
say "one: $one_node at $loc_one"
check "one sits on a USB port chain" grep -Eq '^[0-9]+-[0-9]+(\.[0-9]+)*$' <<<"$loc_one"
expect 1 "arrived $loc_one $one_node"

kill -USR1 "$one_pid"
expect 1 "departed $loc_one $one_node"

old_node=$one_node
replug one
say "one again: $one_node at $(location_of "$one_node")"
check "bound again, one keeps its location" test "$(location_of "$one_node")" = "$loc_one"
"$OSTREL_BUILD/cli/ostrelctl" --device "$loc_one" status >/tmp/status.txt 2>&1
check "and its firmware answers again (ostrelctl status exit $?)" test "$?" -eq 0
if [ "$one_node" = "$old_node" ]; then
    expect 2 "arrived $loc_one $one_node"
else
    expect 1 "arrived $loc_one $one_node"
fi

start_gadget two --udc 1 || finish
loc_two=$(location_of "$two_node")
say "two: $two_node at $loc_two"
check "two has a location of its own" test -n "$loc_two" -a "$loc_two" != "$loc_one"
expect 1 "arrived $loc_two $two_node"

kill -USR1 "$one_pid" "$two_pid"
expect 1 "departed $loc_two $two_node"
if [ "$one_node" = "$old_node" ]; then
    expect 2 "departed $loc_one $one_node"
else
    expect 1 "departed $loc_one $one_node"
fi
check "nothing else arrived or departed" test "$(grep -Ecv '^(watching|ended)' /tmp/notified.txt) $(grep -Ecv '^(watching|ended)' /tmp/polled.txt)" = "6 6"

kill -TERM "$notified_pid" "$polled_pid"
ended "$notified_pid" 10
check "the notified watch ends on its signal with exit 0" test "$ended_rc" -eq 0
ended "$polled_pid" 10
check "the polling watch ends on its signal with exit 0" test "$ended_rc" -eq 0
for log in notified polled; do
    sed "s/^/scenario:   $log: /" "/tmp/$log.txt"
    cp "/tmp/$log.txt" "$OSTREL_OUT/"
done

udevadm control --exit
stop_gadget two
stop_gadget one
finish
