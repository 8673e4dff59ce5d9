# shellcheck shell=bash
# check runs the functions given to it, and start_gadget sets <name>_node through printf -v:
# neither can shellcheck follow.
# shellcheck disable=SC2317,SC2154
# A vehicle's day ends with its power cut. The MQTT service's command, exactly as its unit
# runs it, takes a reading a second from the gadget into its store on the guest's own disk
# (ext4 on virtio-blk, run-harness.sh --disk) while the broker cannot be reached, until the
# machine is reset at once: no shutdown, no sync, no unmount. On the second boot the broker
# is there, and every reading whose commit had returned before the cut arrives at a
# subscriber, none twice.
source "$(dirname "$0")/lib.sh"

: "${OSTREL_DISK:?the scenario needs a disk: run-harness.sh --disk}" "${OSTREL_BOOT:?}"
port=18883
state=/var/lib/ostrel-mqtt
store=$state/readings.sqlite
# What the first boot leaves the second: the folder that comes back is the host's.
carry=$OSTREL_OUT/powercut
received=/tmp/mqtt/received

ip link set lo up 2>/dev/null || ifconfig lo 127.0.0.1 up
mkdir -p /tmp/mqtt "$state" "$carry" /etc/ostrel
check "the disk $OSTREL_DISK is there" wait_until 20 test -b "$OSTREL_DISK"
mount -t ext4 "$OSTREL_DISK" "$state" || {
    say "FAILED: $OSTREL_DISK cannot be mounted on $state"
    finish
}
# No listener on this port in the first boot: the broker cannot be reached.
cat >/etc/ostrel/mqtt.conf <<CONF
broker = mqtt://127.0.0.1:$port
client_id = car7
report = interval
interval = 1
CONF
exec_start=$(sed -n 's|^ExecStart=/usr/bin/ostrelctl ||p' "$OSTREL_SOURCE/dist/systemd/ostrel-mqtt.service")
start_gadget ostrel || finish

start_service() {
    # shellcheck disable=SC2086 # the unit's arguments, split as systemd splits them (no quotes)
    STATE_DIRECTORY=$state "$OSTREL_BUILD/cli/ostrelctl" $exec_start 2>"/tmp/mqtt/publisher-$OSTREL_BOOT.err" &
    publisher=$!
}
said() { grep -qF -- "$1" "/tmp/mqtt/publisher-$OSTREL_BOOT.err"; }
# The times of the readings a store holds, oldest first. A reader of the live store sees a
# commit only once it is on the disk (the write-ahead log's index follows its sync).
store_times() {
    sqlite3 -readonly -cmd '.timeout 2000' "$1" 'SELECT payload FROM readings ORDER BY id' |
        jq -r '.time'
}
held() { [ "$(store_times "$store" 2>/dev/null | wc -l)" -ge "$1" ]; }

# The time of each reading the subscriber received, one a line: a state is one reading, a
# history message a non-empty array of them; "invalid" for any other payload there.
received_times() {
    jq -R -r 'capture("^ostrel/car7/[^/]+/(?<kind>state|history) (?<payload>.*)$")
        | .kind as $kind | (.payload | fromjson? // null) as $message
        | if $kind == "state" then [$message]
          elif ($message | type) == "array" and ($message | length) > 0 then $message
          else [null] end
        | .[] | if type == "object" and (.time | type) == "string" then .time else "invalid" end' \
        "$received"
}

first_boot() {
    check "the state folder is the disk's ext4" test "$(findmnt -n -o FSTYPE "$state")" = ext4
    start_service
    check "the service keeps its readings in $store" \
        wait_until 30 said "are kept in $store while it is unreachable"
    local started
    started=$(now)
    check "the store holds 8 readings" wait_until 60 held 8
    [ "$failed" -eq 0 ] || finish
    # The last look before the cut: readings whose commit has returned.
    store_times "$store" >"$carry/before-cut"
    printf '%s %s\n' "$(since "$started")" "$(wc -l <"$carry/before-cut")" >"$carry/taken"
    # Nothing syncs this: the cut loses it, as it would lose a reading held only in memory.
    head -c 65536 /dev/urandom | tee "$carry/canary" >"$state/canary"
    cp "/tmp/mqtt/publisher-1.err" "$OSTREL_OUT/"
    power_cut
}

second_boot() {
    differs() { ! cmp -s "$1" "$2"; }
    check "the cut lost what was never synced" differs "$carry/canary" "$state/canary"
    # What the cut left, read from a copy: the service finds the store as the cut left it.
    mkdir -p /tmp/left
    cp "$store" "$store-wal" /tmp/left/ 2>/dev/null
    store_times /tmp/left/readings.sqlite | sort >/tmp/mqtt/left
    sort "$carry/before-cut" >/tmp/mqtt/before-cut

    printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$port" >/tmp/mqtt/mosquitto.conf
    mosquitto -c /tmp/mqtt/mosquitto.conf >/tmp/mqtt/broker.log 2>&1 &
    broker=$!
    listens() { mosquitto_pub -h 127.0.0.1 -p "$port" -t probe -m x 2>/dev/null; }
    check "mosquitto listens on port $port" wait_until 30 listens
    mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -v -t 'ostrel/#' >"$received" 2>/tmp/mqtt/subscriber.err &
    subscriber=$!
    # Subscribed once a probe comes back.
    probe() {
        mosquitto_pub -h 127.0.0.1 -p "$port" -t ostrel/probe -m up 2>/dev/null
        grep -q '^ostrel/probe up$' "$received"
    }
    check "the broker's subscriber is listening" wait_until 30 probe
    [ "$failed" -eq 0 ] || finish

    start_service
    check "the second start counts what the first left" \
        wait_until 30 said 'readings of an earlier run are still to be delivered'
    local committed
    committed=$(grep -o '[0-9]* readings of an earlier run' "/tmp/mqtt/publisher-2.err" | cut -d' ' -f1)
    all_arrived() { [ -z "$(received_times | sort -u | comm -23 /tmp/mqtt/left -)" ]; }
    check "every reading the cut left arrives" wait_until 60 all_arrived
    kill -INT "$publisher"
    ended "$publisher" 30
    check "SIGINT ends the service with 0 (got $ended_rc)" test "$ended_rc" -eq 0
    # Its last will comes after everything it sent: nothing more can arrive.
    offline() { grep -q '^ostrel/car7/status offline$' "$received"; }
    check "and leaves its availability offline" wait_until 20 offline
    kill "$subscriber" "$broker" 2>/dev/null
    wait "$subscriber" "$broker" 2>/dev/null

    received_times | sort >/tmp/mqtt/received-times
    local before left delivered seconds looked
    before=$(wc -l </tmp/mqtt/before-cut)
    left=$(wc -l </tmp/mqtt/left)
    delivered=$(sort -u /tmp/mqtt/received-times | comm -12 - /tmp/mqtt/left | wc -l)
    read -r seconds looked <"$carry/taken"
    say "figure: taken: ${seconds} s of readings, one a second (the store held $looked at the last look before the cut)"
    say "figure: committed: ${committed:-none} (the second start found them; the store held $left)"
    say "figure: delivered: $delivered"

    check "every reading committed before the cut survived it" \
        test -z "$(comm -23 /tmp/mqtt/before-cut /tmp/mqtt/left)"
    check "the second start found all the cut left ($committed of $left)" test "$committed" = "$left"
    check "delivered ($delivered) at least what was committed before the cut ($before)" \
        test "$delivered" -ge "$before"
    check "delivered all the second start found ($delivered of $committed)" \
        test "$delivered" = "$committed"
    check "no reading arrived twice" test -z "$(uniq -d /tmp/mqtt/received-times)"
    check "every state and history payload holds readings with a time" \
        test -z "$(grep -x invalid /tmp/mqtt/received-times)"
    # Still in the store, they would go again at the next start.
    check "none of them is left in the store" \
        test -z "$(store_times "$store" | sort | comm -12 - /tmp/mqtt/left)"
    cp "$received" /tmp/mqtt/publisher-2.err /tmp/mqtt/broker.log "$OSTREL_OUT/" 2>/dev/null
    stop_gadget ostrel
    umount "$state"
    finish
}

case $OSTREL_BOOT in
1) first_boot ;;
2) second_boot ;;
*)
    say "FAILED: boot $OSTREL_BOOT: the scenario cuts the power once"
    exit 1
    ;;
esac
