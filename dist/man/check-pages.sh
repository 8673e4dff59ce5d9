#!/bin/sh
# The manual pages as man shows them: groff's warnings (man --warnings) and the whatis line
# that lexgrog reads from NAME must both be clean, and each page must have the sections a
# reader looks for.
#   check-pages.sh PAGE.1.gz...
status=0
fail() {
    echo "$page: $*"
    status=1
}
for page in "$@"; do
    [ -f "$page" ] || { fail "missing"; continue; }
    # A wide terminal keeps man from breaking lines where the page could not help it.
    warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings=all -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man --warnings: $warnings"
    whatis=$(lexgrog "$page" 2>&1)
    case $whatis in
    *': "'*' - '*) ;;
    *) fail "lexgrog finds no whatis line: $whatis" ;;
    esac
    text=$(MANWIDTH=80 LC_ALL=C.UTF-8 man -E UTF-8 -l "$page" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" "SEE ALSO"; do
        printf '%s\n' "$text" | grep -qx "$section" || fail "no section $section"
    done
done
[ "$status" -ne 0 ] || echo "manual pages clean: $*"
exit "$status"
