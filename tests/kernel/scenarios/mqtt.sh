# shellcheck shell=bash
# check runs the functions given to it, and start_gadget sets <name>_node through printf -v:
# neither can shellcheck follow.
# shellcheck disable=SC2317,SC2154
# The MQTT service's command, exactly as its unit runs it (its ExecStart, its password as a
# systemd credential in $CREDENTIALS_DIRECTORY, its buffer in $STATE_DIRECTORY), against
# the gadget on the real hidraw node and Debian's mosquitto on the guest's loopback: the
# broker's subscriber receives the gadget's input voltage, and SIGINT (the unit's
# KillSignal) leaves "offline" behind.
source "$(dirname "$0")/lib.sh"

ip link set lo up 2>/dev/null || ifconfig lo 127.0.0.1 up
port=18883
mkdir -p /tmp/mqtt/credentials /tmp/mqtt/state /etc/ostrel
printf 'secret\n' >/tmp/mqtt/credentials/ostrel-mqtt-password
chmod 600 /tmp/mqtt/credentials/ostrel-mqtt-password
mosquitto_passwd -b -c /tmp/mqtt/passwords car secret
printf 'listener %s 127.0.0.1\nallow_anonymous false\npassword_file /tmp/mqtt/passwords\n' \
    "$port" >/tmp/mqtt/mosquitto.conf
mosquitto -c /tmp/mqtt/mosquitto.conf >/tmp/mqtt/broker.log 2>&1 &
broker=$!
wait_until 20 sh -c "mosquitto_pub -h 127.0.0.1 -p $port -u car -P secret -t probe -m x" ||
    say "FAILED: mosquitto did not start"

start_gadget ostrel || finish
# The configuration the unit's ExecStart names, in the overlay's /etc.
cat >/etc/ostrel/mqtt.conf <<CONF
broker = mqtt://127.0.0.1:$port
client_id = car7
username = car
password_file = ostrel-mqtt-password
interval = 1
CONF
exec_start=$(sed -n 's|^ExecStart=/usr/bin/ostrelctl ||p' "$OSTREL_SOURCE/dist/systemd/ostrel-mqtt.service")
mosquitto_sub -h 127.0.0.1 -p "$port" -u car -P secret -v -t 'ostrel/#' >/tmp/mqtt/received &
subscriber=$!
# shellcheck disable=SC2086 # the unit's arguments, split as systemd splits them (no quotes)
CREDENTIALS_DIRECTORY=/tmp/mqtt/credentials STATE_DIRECTORY=/tmp/mqtt/state \
    "$OSTREL_BUILD/cli/ostrelctl" $exec_start 2>/tmp/mqtt/publisher.err &
publisher=$!
state() { grep -m1 '^ostrel/car7/[^/]*/state ' /tmp/mqtt/received; }
check "a state arrives at the broker's subscriber" wait_until 60 state
input=$("$OSTREL_BUILD/cli/ostrelctl" status --json | sed -n 's/.*"voltageInText": "\([^"]*\)".*/\1/p')
say "$(state | cut -c1-160)"
holds_input() { state | grep -q "\"voltageIn\":${input}[,}]"; }
check "with the gadget's input voltage ($input V)" holds_input
kill -INT "$publisher"
ended "$publisher" 30
check "SIGINT ends the publisher with 0 (got $ended_rc)" test "$ended_rc" -eq 0
offline() { tail -n 3 /tmp/mqtt/received | grep -q '^ostrel/car7/status offline$'; }
check "and leaves its availability offline" wait_until 20 offline
cp /tmp/mqtt/received /tmp/mqtt/publisher.err "$OSTREL_OUT/" 2>/dev/null
kill "$subscriber" "$broker" 2>/dev/null
stop_gadget ostrel
finish
