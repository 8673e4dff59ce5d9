# shellcheck shell=bash
# opens runs through check, and start_gadget sets <name>_node through printf -v: neither
# can shellcheck follow.
# shellcheck disable=SC2317,SC2154
# The package's udev rule under the host's own systemd-udevd: the controller's hidraw node
# gets the uaccess tag, a HID gadget with another vendor id does not, and with a seat
# marked active the user at it can open the controller's node and not the other one. Then
# the metrics service's command, exactly as its unit runs it: as root without any
# capability, into node_exporter's folder as its package leaves it (root's, mode 755): the
# file holds the controller as up with the gadget's voltages.
source "$(dirname "$0")/lib.sh"

RULE=$OSTREL_SOURCE/dist/udev/70-ostrel.rules
# The guest's rules folder lies in the overlay: the host's stays untouched.
mkdir -p /etc/udev/rules.d
cp "$RULE" /etc/udev/rules.d/
export SYSTEMD_IGNORE_CHROOT=1
/lib/systemd/systemd-udevd --daemon || { say "FAILED: systemd-udevd did not start"; exit 1; }

start_gadget ostrel || finish
start_gadget other --udc 1 --vendor 0x1209 --product-id 0x0002 || finish
settle() {
    udevadm trigger --subsystem-match=hidraw --action=change
    udevadm settle --timeout=60
}
settle
tags() { udevadm info --query=property "$1" | grep -E '^(CURRENT_)?TAGS='; }
say "controller $ostrel_node: $(tags "$ostrel_node" | tr '\n' ' ')"
say "other $other_node: $(tags "$other_node" | tr '\n' ' ')"
check "the controller's node carries the uaccess tag" sh -c "udevadm info --query=property $ostrel_node | grep -q '^TAGS=.*:uaccess:'"
check "the other vendor's node does not" sh -c "! udevadm info --query=property $other_node | grep -q 'uaccess'"

# Stands in for logind, which is not running here: the seat's state file says that uid
# 1000 is the active user, which is all udev's uaccess builtin reads.
mkdir -p /run/systemd/seats
printf 'IS_SEAT0=1\nACTIVE=c1\nACTIVE_UID=1000\n' >/run/systemd/seats/seat0
settle
opens() { setpriv --reuid=1000 --regid=1000 --clear-groups sh -c "exec 3<>$1" 2>/dev/null; }
check "the active user may open the controller's node" opens "$ostrel_node"
check "but not the other vendor's node" sh -c "! setpriv --reuid=1000 --regid=1000 --clear-groups sh -c 'exec 3<>$other_node' 2>/dev/null"

UNITS=$OSTREL_SOURCE/dist/systemd
textfile=/var/lib/prometheus/node-exporter
mkdir -p "$textfile"
chmod 755 "$textfile"
say "textfile folder: $(stat -c '%A %U:%G' "$textfile"), node: $(stat -c '%A %U:%G' "$ostrel_node")"
exec_start=$(sed -n 's|^ExecStart=/usr/bin/ostrelctl ||p' "$UNITS/ostrel-metrics.service")
# shellcheck disable=SC2086 # the unit's arguments, split as systemd splits them (no quotes)
setpriv --bounding-set=-all --inh-caps=-all --no-new-privs \
    sh -c "umask 0022 && exec $OSTREL_BUILD/cli/ostrelctl $exec_start"
check "the metrics command as the service runs it is exit 0 (got $?)" test "$?" -eq 0
prom=$textfile/ostrel.prom
say "$(grep -E '^ostrel_(up|controllers|input_volts)' "$prom" 2>/dev/null | tr '\n' ' ')"
input=$("$OSTREL_BUILD/cli/ostrelctl" status --json | sed -n 's/.*"voltageInText": "\([^"]*\)".*/\1/p')
check "the file says the controller is up" grep -Eq '^ostrel_up\{location="[^"]+"\} 1$' "$prom"
check "with the gadget's input voltage ($input V)" \
    grep -Eq "^ostrel_input_volts\\{location=\"[^\"]+\"\\} $input\$" "$prom"
check "readable by node_exporter (mode 644)" test "$(stat -c %a "$prom")" = 644

udevadm control --exit
stop_gadget other
stop_gadget ostrel
finish
