# shellcheck shell=bash
# start_gadget sets NAME_node and NAME_pid, and the helpers run through wait_until and check,
# which shellcheck does not follow.
# shellcheck disable=SC2317,SC2154
# Two controllers at a bench on the real USB stack: ostrelctl lists them by where they are
# plugged, writes to the one chosen and to no other, backs both up and restores both at
# once, and reports a controller pulled out during a restore of both as lost while the
# other completes.
source "$(dirname "$0")/lib.sh"

CTL=$OSTREL_BUILD/cli/ostrelctl
start_gadget one --udc 0 || finish
# The second answers slowly, so that it can be pulled out while a restore reads it.
start_gadget two --udc 1 --frame-delay 15 || finish

"$CTL" devices >/tmp/devices.txt 2>/tmp/devices.err
check "devices runs" test $? -eq 0
sed 's/^/scenario:   /' /tmp/devices.txt
location_of() { awk -v node="$1" '$2 == node { print $1 }' /tmp/devices.txt; }
loc_one=$(location_of "$one_node")
loc_two=$(location_of "$two_node")
say "one: $one_node at $loc_one; two: $two_node at $loc_two"
check "devices lists both, each with a USB port chain" \
    test "$(grep -cE ' 2\.1 +03$' /tmp/devices.txt)" -eq 2 -a -n "$loc_one" -a -n "$loc_two"
check "their locations differ" test "$loc_one" != "$loc_two" -a "$loc_one" != "-"

writes() { grep -c ' a4 a0 ' "/tmp/$1.log"; }
"$CTL" --device "$loc_one" set 0x03 17 >/tmp/set.txt 2>&1
check "--device LOCATION set writes to that controller" test $? -eq 0 -a "$(writes one)" -eq 1
check "the other's firmware log shows no write frame" test "$(writes two)" -eq 0
"$CTL" --device /dev/hidraw99 status >/tmp/none.txt 2>&1
check "a selector that names nothing is exit 2" test $? -eq 2

mkdir -p /tmp/bench
start=$(now)
"$CTL" --all backup /tmp/bench >/tmp/backup.txt 2>&1
rc=$?
took=$(since "$start")
sed 's/^/scenario:   /' /tmp/backup.txt
check "--all backup writes one file a controller" \
    test $rc -eq 0 -a -s "/tmp/bench/ostrel-$loc_one.json" -a -s "/tmp/bench/ostrel-$loc_two.json"
# One answers at the speed of the stack; two is slowed on purpose.
say "backup of 37 parameters on the real USB stack: $(grep -A1 "^== $loc_one " /tmp/backup.txt | grep -o 'in [0-9]* ms'); the --all backup of both took ${took} s"

"$CTL" --all set 0x03 40 >/dev/null 2>&1
"$CTL" --all restore "/tmp/bench/ostrel-$loc_one.json" >/tmp/restore.txt 2>&1
rc=$?
sed 's/^/scenario:   /' /tmp/restore.txt
check "--all restore programs both and verifies" \
    test $rc -eq 0 -a "$(grep -cE '  0 ok +1 +1 +0$' /tmp/restore.txt)" -eq 2

"$CTL" --all set 0x03 41 >/dev/null 2>&1
before=$(wc -l </tmp/two.log)
"$CTL" --all restore "/tmp/bench/ostrel-$loc_one.json" >/tmp/pulled.txt 2>&1 &
restore_pid=$!
# Pulled out once the restore has begun reading it.
frames_since() { test "$(wc -l </tmp/two.log)" -ge $((before + $1)); }
check "the restore reads the second controller" wait_until 20 frames_since 6
kill -USR1 "$two_pid"
ended "$restore_pid" 60
sed 's/^/scenario:   /' /tmp/pulled.txt
check "the controller pulled out is lost in its row" grep -qE "^$loc_two +3 lost" /tmp/pulled.txt
check "the other completes and verifies" grep -qE "^$loc_one +0 ok +1 +1 +0$" /tmp/pulled.txt
check "the exit status is the worst, 3" test "$ended_rc" -eq 3

stop_gadget one
stop_gadget two
check "one holds the restored delay" grep -q '^03 11$' /tmp/one.memory
finish
