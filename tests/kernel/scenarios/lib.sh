# shellcheck shell=bash
# Helpers of the guest scenarios (run-harness.sh --scenario): sourced, not run.
# Times come from /proc/uptime: under emulation, counted loop turns stretch.
set -uo pipefail

: "${OSTREL_SOURCE:?}" "${OSTREL_BUILD:?}" "${OSTREL_OUT:?}"
GADGET=$OSTREL_BUILD/tests/kernel/ostrel-gadget
failed=0

say() { echo "scenario: $*"; }
now() { cut -d' ' -f1 /proc/uptime; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

# wait_until SECONDS COMMAND...: true once COMMAND succeeds, false when the time ran out.
wait_until() {
    local limit=$1 start
    shift
    start=$(now)
    until "$@"; do
        awk -v a="$start" -v b="$(now)" -v l="$limit" 'BEGIN { exit !(b - a > l) }' && return 1
        sleep 0.1
    done
}

check() {
    local what=$1
    shift
    if "$@"; then
        say "ok: $what"
    else
        say "FAILED: $what"
        failed=1
        snapshot "failed-$(echo "$what" | tr -c 'A-Za-z0-9' '-' | cut -c1-40)"
    fi
}

# A picture of the virtual screen, when there is one, into the folder that comes back.
snapshot() {
    [ -n "${DISPLAY:-}" ] || return 0
    import -display "$DISPLAY" -window root "$OSTREL_OUT/$1.png" 2>/dev/null &&
        say "screenshot: $1.png"
}

# start_gadget NAME [ostrel-gadget options]: plugs a controller; sets NAME_pid and NAME_node.
start_gadget() {
    local name=$1
    shift
    rm -f "/tmp/$name.ready"
    "$GADGET" --name "$name" --ready "/tmp/$name.ready" --log "/tmp/$name.log" \
        --memory "/tmp/$name.memory" "$@" &
    printf -v "${name}_pid" '%s' $!
    if ! wait_until 30 test -s "/tmp/$name.ready"; then
        say "FAILED: the gadget $name was not enumerated"
        failed=1
        return 1
    fi
    printf -v "${name}_node" '%s' "$(cat "/tmp/$name.ready")"
}

# stop_gadget NAME: ends the gadget program and keeps its frame log and memory dump.
stop_gadget() {
    local pid_var="${1}_pid"
    kill -TERM "${!pid_var}" 2>/dev/null
    wait "${!pid_var}" 2>/dev/null
    cp "/tmp/$1.log" "/tmp/$1.memory" "$OSTREL_OUT/" 2>/dev/null
}

# The port chain of the USB device above a hidraw node: the name of its sysfs folder.
location_of() {
    basename "$(dirname "$(dirname "$(readlink -f "/sys/class/hidraw/$(basename "$1")/device")")")"
}

# replug NAME: binds the gadget's UDC again and waits for its new node.
replug() {
    local pid_var="${1}_pid"
    rm -f "/tmp/$1.ready"
    kill -USR2 "${!pid_var}"
    wait_until 30 test -s "/tmp/$1.ready" || { say "FAILED: $1 was not enumerated again"; failed=1; }
    printf -v "${1}_node" '%s' "$(cat "/tmp/$1.ready")"
}

start_xvfb() {
    export DISPLAY=:7
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
    wait_until 30 xdotool getdisplaygeometry >/dev/null 2>&1
}

gone() { ! kill -0 "$1" 2>/dev/null; }
# ended PID SECONDS: waits for a background program's end and sets ended_rc to its exit
# code; one that is still running then is killed (ended_rc 137).
ended() {
    if ! wait_until "$2" gone "$1"; then
        say "process $1 still runs after $2 s: killed"
        kill -KILL "$1" 2>/dev/null
    fi
    wait "$1"
    # shellcheck disable=SC2034 # the scenarios read it
    ended_rc=$?
}

# power_cut: the machine's power goes, now: no sync, no unmount, whatever is still in the
# page cache is lost. The harness boots it again on the same disk (run-harness.sh --disk);
# the file in the folder that comes back, written through to the host at once, tells it so.
power_cut() {
    say "power cut"
    echo "$OSTREL_BOOT" >"$OSTREL_OUT/power-cut-$OSTREL_BOOT"
    echo b >/proc/sysrq-trigger
    # Not reached: the reset is immediate.
    exit 1
}

finish() {
    if [ "$failed" -eq 0 ]; then
        say "all checks passed"
        exit 0
    fi
    say "some checks failed"
    exit 1
}
