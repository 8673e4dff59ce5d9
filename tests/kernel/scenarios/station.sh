# shellcheck shell=bash
# start_gadget sets NAME_node and NAME_pid, and the helpers run through wait_until and check,
# which shellcheck does not follow.
# shellcheck disable=SC2317,SC2154
# The programming station on the real USB stack, woken by udev's events (the host's
# systemd-udevd): a profile taken from one gadget, then three gadgets plugged in one after
# another and then together, each PASS with its own line in the log; a device of another
# product id told once and left alone; a gadget pulled out part way through its writes FAIL
# with what was written, then PASS once it is back; after Ctrl-C the log holds exactly the
# units the station reported, and every unit's memory holds the profile's values.
source "$(dirname "$0")/lib.sh"

CTL=$OSTREL_BUILD/cli/ostrelctl
export SYSTEMD_IGNORE_CHROOT=1
/lib/systemd/systemd-udevd --daemon || { say "FAILED: systemd-udevd did not start"; exit 1; }

# The profile: a gadget whose parameters differ from the factory's in three places.
start_gadget source --udc 0 || finish
changes=(delay-before-psu-startup 9 maximum-temperature 70 try-to-turn-on-the-psu-for-n-time 5)
factory=(delay-before-psu-startup 5 maximum-temperature 85 try-to-turn-on-the-psu-for-n-time 3)
# set_all [--device LOCATION] NAME VALUE...: one set a pair.
set_all() {
    local device=()
    if [ "$1" = --device ]; then
        device=(--device "$2")
        shift 2
    fi
    while [ $# -gt 0 ]; do
        "$CTL" "${device[@]}" set "$1" "$2" >/dev/null || return 1
        shift 2
    done
}
check "the source gadget takes the profile's values" set_all "${changes[@]}"
check "and its backup is the profile" "$CTL" backup /tmp/profile.json
stop_gadget source

"$CTL" --timeout 5000 station --log /tmp/units.jsonl /tmp/profile.json >/tmp/station.out \
    2>/tmp/station.err &
station_pid=$!
check "the station starts" wait_until 30 grep -q '^Programming each' /tmp/station.out

# said LOCATION RESULT: how many lines the station printed for the unit at LOCATION with RESULT.
said() { grep -c "^$1  $2  " /tmp/station.out; }
# reported N LOCATION RESULT: there are N such lines (or more).
reported() { [ "$(said "$2" "$3")" -ge "$1" ]; }
# passes N NAME: the Nth PASS line of the gadget NAME's unit shows, with the profile's three
# values written and the rest verified, and its log line says the same, with the gadget's USB
# serial number as the kernel read it.
passes() {
    local at_var="${2}_at" line entry
    local location=${!at_var}
    wait_until 60 reported "$1" "$location" PASS
    line=$(grep "^$location  PASS  " /tmp/station.out | sed -n "${1}p")
    check "PASS: $line" grep -Eq \
        "^$location  PASS  firmware 2\.1, 3 written, [1-9][0-9]* verified, [0-9.]+ s$" <<<"$line"
    entry=$(jq -c "select(.location == \"$location\" and .result == \"PASS\")" /tmp/units.jsonl |
        sed -n "${1}p")
    # shellcheck disable=SC2016 # $serial is jq's
    check "its log line: $entry" jq -e \
        --arg serial "SN-$2" '.written == 3 and .verified > 0 and .failed == 0 and
            .firmware == "2.1" and .reason == "" and .serial == $serial' <<<"$entry"
}

# One after another.
udc=0
for name in a b c; do
    start_gadget "$name" --udc "$udc" || finish
    udc=$((udc + 1))
    node_var="${name}_node"
    printf -v "${name}_at" '%s' "$(location_of "${!node_var}")"
    at_var="${name}_at"
    say "$name: ${!node_var} at ${!at_var}"
    passes 1 "$name"
done

# Together: each set back to the factory's values and pulled out, then all three plugged in at
# once, so that the station writes to all three at the same time.
for name in a b c; do
    at_var="${name}_at"
    check "$name set back to the factory's values" set_all --device "${!at_var}" "${factory[@]}"
done
no_nodes() { [ -z "$(ls /sys/class/hidraw)" ]; }
kill -USR1 "$a_pid" "$b_pid" "$c_pid"
check "all three are pulled out" wait_until 30 no_nodes
rm -f /tmp/a.ready /tmp/b.ready /tmp/c.ready
kill -USR2 "$a_pid" "$b_pid" "$c_pid"
check "and plugged in again together" wait_until 30 test -s /tmp/a.ready -a -s /tmp/b.ready \
    -a -s /tmp/c.ready
passes 2 a
passes 2 b
passes 2 c

# A device of our vendor with another product id: told once, not programmed, not counted.
start_gadget other --udc 3 --product-id 0x1234 || finish
other_at=$(location_of "$other_node")
check "the other product's device is told of" wait_until 30 reported 1 "$other_at" SKIP
sleep 2
check "once: $(grep "^$other_at  " /tmp/station.out)" test "$(grep -c "^$other_at  " /tmp/station.out)" -eq 1
stop_gadget other
check "and nothing was sent to it" test ! -s /tmp/other.log

# Pulled out while its writes are held up: FAIL with what was written; back in, PASS.
start_gadget slow --udc 3 --write-delay 3000 || finish
slow_at=$(location_of "$slow_node")
check "the slow unit's first write arrives" wait_until 60 grep -q ' a4 a0 ' /tmp/slow.log
kill -USR1 "$slow_pid"
wait_until 30 reported 1 "$slow_at" FAIL
lost=$(grep "^$slow_at  FAIL  " /tmp/station.out)
check "pulled out part way: $lost" grep -Eq \
    "^$slow_at  FAIL  lost during the write of [^:]+: plug it in again \([1-9] written\)$" <<<"$lost"
check "its log line names what was not written" jq -e \
    "select(.location == \"$slow_at\") | .result == \"FAIL\" and .written > 0 and .failed > 0" \
    /tmp/units.jsonl
replug slow
kill -USR2 "$slow_pid" # no more holding up
wait_until 60 reported 1 "$slow_at" PASS
check "back in, it passes: $(grep "^$slow_at  PASS  " /tmp/station.out)" reported 1 "$slow_at" PASS

kill -INT "$station_pid"
ended "$station_pid" 30
# The failed unit passed once plugged in again: every port's last unit passed.
check "Ctrl-C ends the station with 0, each port's last unit passed (got $ended_rc)" test "$ended_rc" -eq 0
check "the count: $(tail -n 1 /tmp/station.out)" test "$(tail -n 1 /tmp/station.out)" = \
    "8 units: 7 PASS, 1 FAIL; the last unit on each of 4 ports PASS"
check "the log ends with its end line" jq -se '.[-1].event == "end" and .[-1].units == 8' \
    /tmp/units.jsonl
grep -E '^[^ ]+  (PASS|FAIL)  ' /tmp/station.out | cut -d' ' -f1,3 >/tmp/reported.txt
jq -r 'select(.event == "unit") | "\(.location) \(.result)"' /tmp/units.jsonl >/tmp/logged.txt
check "the log holds exactly the units reported, in order" cmp /tmp/reported.txt /tmp/logged.txt
sed 's/^/scenario:   station: /' /tmp/station.out /tmp/station.err
cp /tmp/station.out /tmp/station.err /tmp/units.jsonl /tmp/profile.json "$OSTREL_OUT/"

for name in a b c slow; do
    stop_gadget "$name"
    check "$name's memory holds the profile's values" cmp /tmp/source.memory "/tmp/$name.memory"
done
udevadm control --exit
finish
