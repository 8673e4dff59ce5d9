#!/bin/sh
# ostrel and ostrel-sim started without a display: one line on stderr that says what is
# missing and what to use instead, nothing on stdout, exit status 1 (not Qt's abort); and
# "make run" says ostrel-sim's line before it installs or builds anything.
#   no-display.sh SOURCE-DIR OSTREL OSTREL-SIM
source_dir=$1
status=0
fail() {
    echo "FAILED: $*"
    status=1
}
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
bare() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" >"$out" 2>"$err"; }
line="no graphical display (DISPLAY and WAYLAND_DISPLAY are unset); on a machine without one, ostrelctl reads and writes the controller from the command line"
for program in "$2" "$3"; do
    name=$(basename "$program")
    bare "$program"
    rc=$?
    [ "$rc" -eq 1 ] || fail "$name ended with $rc, not 1"
    [ "$(cat "$err")" = "$name: $line" ] || fail "$name wrote to stderr: $(cat "$err")"
    [ ! -s "$out" ] || fail "$name wrote to stdout: $(cat "$out")"
    # An empty variable is no display either.
    DISPLAY='' bare "$program"
    rc=$?
    [ "$rc" -eq 1 ] || fail "$name with an empty DISPLAY ended with $rc, not 1"
    # --version needs no display.
    bare "$program" --version
    rc=$?
    [ "$rc" -eq 0 ] && [ ! -s "$err" ] || fail "$name --version ended with $rc: $(cat "$err")"
done
bare make -s -C "$source_dir" run
rc=$?
[ "$rc" -ne 0 ] || fail "make run went on without a display"
[ "$(head -n 1 "$err")" = "ostrel-sim: $line" ] || fail "make run wrote to stderr: $(cat "$err")"
[ "$status" -ne 0 ] || echo "both programs and make run explain the missing display"
exit "$status"
