# shellcheck shell=bash
# The helpers below run through wait_until and check, which shellcheck does not follow.
# shellcheck disable=SC2317
# The window program against the gadget, looked at from outside as a user would see it:
# the caption, the frames the firmware received, a parameter chosen and written with the
# keyboard and mouse, the unplug message and the program's end; then ostrelctl beside the
# window, kept off the controller the window holds; then the window opened while ostrelctl
# holds the controller, kept off it until the backup ends.
source "$(dirname "$0")/lib.sh"

OSTREL=$OSTREL_BUILD/qt/ostrel
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=/tmp/xdg
install -d -m 700 "$XDG_RUNTIME_DIR"
start_xvfb || { say "FAILED: Xvfb did not start"; exit 1; }

visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
shown() { [ -n "$(visible "$1")" ]; }
# find_window VAR SECONDS NAME-REGEX: the first visible window of that name.
find_window() {
    local var=$1 limit=$2 name=$3
    wait_until "$limit" shown "$name" || return 1
    printf -v "$var" '%s' "$(visible "$name")"
}
frames() { grep -c " $1" /tmp/ostrel.log; }
zeros() { printf ' 00%.0s' $(seq "$1"); }

# 1. No controller: "Device not found" over an idle window, the diagnostic line on stdout.
"$OSTREL" >/tmp/alone.out 2>/tmp/alone.err &
alone=$!
check "without a controller a message box appears" find_window box 60 '^Ostrel$'
if [ -n "${box:-}" ]; then
    xdotool key --window "$box" Return
    check "after OK the idle programmer shows" find_window main 30 '^Ostrel ver: --$'
    check "and stays" kill -0 "$alone"
    xdotool key --window "${main:-0}" Escape
fi
ended "$alone" 20
check "the program without a controller ends with 0 (got $ended_rc)" test "$ended_rc" -eq 0
check "the search printed its line" grep -q '^No device found - set the -manuf, -product, -vendor, -pid propperly:$' /tmp/alone.out
cp /tmp/alone.out "$OSTREL_OUT/"

# 2. Two controllers: neither is taken, and the search lists both.
start_gadget first || finish
start_gadget second --udc 1 || finish
"$OSTREL" >/tmp/two.out 2>/dev/null &
two=$!
check "with two controllers a message box appears" find_window box 60 '^Ostrel$'
xdotool key --window "${box:-0}" Return
check "after OK the idle programmer shows" find_window main 30 '^Ostrel ver: --$'
xdotool key --window "${main:-0}" Escape
ended "$two" 20
check "the program with two controllers ends with 0 (got $ended_rc)" test "$ended_rc" -eq 0
check "the search says there are too many" grep -q '^Too many devices - ' /tmp/two.out
check "and no frame reached either controller" test ! -s /tmp/first.log -a ! -s /tmp/second.log
stop_gadget second
stop_gadget first

# 3. With the controller (firmware 2.1, mode 3).
start_gadget ostrel --version 0x21 --mode 3 || finish
started=$(now)
"$OSTREL" >/tmp/window.out 2>/tmp/window.err &
window=$!
check "the caption turns to the firmware's version and mode" \
    find_window main 60 '^Ostrel ver: 2.1 mode: 03$'
say "caption after $(since "$started") s"
check "the first frame is the status request" \
    test "$(head -n 1 /tmp/ostrel.log | cut -d' ' -f2-)" = "81$(zeros 23)"
first=$(head -n 1 /tmp/ostrel.log | cut -d' ' -f1)
sleep 4
count=$(frames "81$(zeros 23)")
last=$(grep " 81$(zeros 23)" /tmp/ostrel.log | tail -n 1 | cut -d' ' -f1)
period=$(awk -v a="$first" -v b="$last" -v n="$count" 'BEGIN { if (n > 1) printf "%.0f", (b - a) / (n - 1); else print 0 }')
say "figure: status requests: $count, one each $period ms"
# The poll timer's 1000 ms, with room for an emulated machine under load; the figure above
# is the measure.
check "a status request about each second" test "$count" -ge 3 -a "$period" -ge 700 -a "$period" -le 2000

# Choose "Delay before PSU startup" (fourth entry) with the mouse and the keyboard, then
# type a value and press Enter, which acts as Send. Template positions in dialog units,
# at the window's 6 x 13 base units: the list at (15, 88), the value at (162, 88).
# No window manager: focus by hand.
choose_delay() {
    xdotool windowfocus --sync "$1"
    xdotool mousemove --window "$1" 60 150 click 1
    sleep 1
    xdotool key Down Down Down Return
}
type_value() {
    sleep 1
    xdotool mousemove --window "$1" 270 150 click 1
    xdotool key ctrl+a
    xdotool type --delay 50 "$2"
    xdotool key Return
}
choose_delay "$main"
check "choosing a parameter sends its read frame" \
    wait_until 10 grep -q " a4 a1 03 01$(zeros 20)$" /tmp/ostrel.log
type_value "$main" 9
check "Enter writes the typed value" wait_until 10 grep -q " a4 a0 03 01 09 00$(zeros 18)$" /tmp/ostrel.log
snapshot window-after-write

# 4. Unplug: "Device disconnected!" once, then the end with 0 after OK.
unplugged=$(now)
# shellcheck disable=SC2154 # start_gadget sets it through printf -v
kill -USR1 "$ostrel_pid"
check "unplugging shows a message box" find_window box 30 '^Ostrel$'
say "figure: unplug to message $(since "$unplugged") s"
snapshot window-disconnected
sleep 1
check "exactly one message box" test "$(xdotool search --onlyvisible --name '^Ostrel$' | wc -l)" -eq 1
# Plugged in again while the message shows: there is no reconnection.
start_gadget again --udc 1
sleep 3
check "a controller plugged in again gets no frame" test ! -s /tmp/again.log
pressed=$(now)
xdotool key --window "${box:-0}" Return
ended "$window" 20
say "figure: OK to the program's end $(since "$pressed") s"
check "the program ends with 0 after the disconnect (got $ended_rc)" test "$ended_rc" -eq 0

# 5. ostrelctl beside the window on one hidraw node: status goes on, parameters wait.
OSTRELCTL=$OSTREL_BUILD/cli/ostrelctl
"$OSTREL" >/tmp/held.out 2>/tmp/held.err &
held=$!
check "the window opens on the controller plugged in again" \
    find_window main 60 '^Ostrel ver: 2.1 mode: 03$'
"$OSTRELCTL" status >/tmp/ctl-status.out 2>/tmp/ctl-status.err
rc=$?
check "ostrelctl status beside the window is exit 0 (got $rc)" test "$rc" -eq 0
check "and shows the controller" grep -qx 'Ostrel ver: 2.1 mode: 03' /tmp/ctl-status.out
reads=$(grep -c ' a4 a1 ' /tmp/again.log)
"$OSTRELCTL" backup /tmp/beside.json >/tmp/ctl-backup.out 2>/tmp/ctl-backup.err
rc=$?
check "ostrelctl backup beside the window is exit 5 (got $rc)" test "$rc" -eq 5
check "naming the window" grep -qx \
    "ostrelctl: the controller is in use by ostrel (pid $held); close it or use --wait" \
    /tmp/ctl-backup.err
check "with no file and no parameter read" \
    test ! -e /tmp/beside.json -a "$(grep -c ' a4 a1 ' /tmp/again.log)" -eq "$reads"
xdotool key --window "$(visible '^Ostrel ver: 2.1')" Escape
ended "$held" 20
"$OSTRELCTL" backup /tmp/after.json >/tmp/ctl-after.out 2>/tmp/ctl-after.err
rc=$?
check "once the window has closed, the backup is exit 0 (got $rc)" test "$rc" -eq 0 -a -s /tmp/after.json
cp /tmp/ctl-*.out /tmp/ctl-*.err "$OSTREL_OUT/" 2>/dev/null
stop_gadget again
stop_gadget ostrel
check "the firmware stored the written value" grep -qx '03 09' /tmp/ostrel.memory

# 6. The window opened while ostrelctl backs up a slow controller: the status panel goes
# on, the editor names the holder and sends no parameter frame, whatever the user tries,
# until the backup ends; then the window claims the controller and reads and writes. The
# controller takes 2 s a frame until the user's tries are done (SIGUSR2): the backup would
# take over a minute, longer than the window's start on a busy emulated machine. ostrelctl's
# --timeout has room for that, so that it asks each question once.
start_gadget slow --frame-delay 2000 || finish
"$OSTRELCTL" --timeout 60000 backup /tmp/slow.json >/tmp/ctl-slow.out 2>/tmp/ctl-slow.err &
backup=$!
check "the backup reads the slow controller" wait_until 20 grep -q ' a4 a1 ' /tmp/slow.log
"$OSTREL" >/tmp/beside.out 2>/tmp/beside.err &
beside=$!
check "the window opened meanwhile shows the status" \
    find_window late 60 '^Ostrel ver: 2.1 mode: 03$'
snapshot window-in-use
choose_delay "${late:-0}"
type_value "${late:-0}" 7
check "the backup still runs after the user's tries" kill -0 "$backup"
# shellcheck disable=SC2154 # start_gadget sets it through printf -v
kill -USR2 "$slow_pid"
ended "$backup" 120
check "the backup ends with 0 (got $ended_rc)" test "$ended_rc" -eq 0 -a -s /tmp/slow.json
during=$(wc -l </tmp/slow.log)
check "no parameter write reached the controller during the backup" \
    test "$(head -n "$during" /tmp/slow.log | grep -c ' a4 a0 ')" -eq 0
check "and no parameter read but the backup's own, one each" \
    test -z "$(head -n "$during" /tmp/slow.log | grep ' a4 a1 ' | cut -d' ' -f2- | sort | uniq -d)"
# The next poll tick takes the claim; the editor is back as at start.
sleep 2
after() { tail -n "+$((during + 1))" /tmp/slow.log | grep -q "$1"; }
choose_delay "${late:-0}"
check "once the backup ended, choosing sends the read" \
    wait_until 10 after " a4 a1 03 01$(zeros 20)$"
type_value "${late:-0}" 9
check "and Enter the write" wait_until 10 after " a4 a0 03 01 09 00$(zeros 18)$"
snapshot window-claimed
xdotool key --window "${late:-0}" Escape
ended "$beside" 20
check "the window ends with 0 (got $ended_rc)" test "$ended_rc" -eq 0
stop_gadget slow
check "the slow controller stored the window's value" grep -qx '03 09' /tmp/slow.memory
cp /tmp/ctl-slow.* /tmp/beside.out /tmp/beside.err "$OSTREL_OUT/" 2>/dev/null
cp /tmp/window.out /tmp/window.err "$OSTREL_OUT/" 2>/dev/null
finish
