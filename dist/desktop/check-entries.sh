#!/bin/sh
# Validates desktop entries with desktop-file-validate; any message fails.
#   check-entries.sh ENTRY...
# Validators before desktop-file-utils 0.27 predate the key SingleMainWindow (desktop entry
# format 1.5) and call it an unknown extension: only that complaint is let through.
set -u
known='contains key "SingleMainWindow" in group "Desktop Entry", but keys extending the format should start with "X-"'
status=0
for entry in "$@"; do
    messages=$(desktop-file-validate "$entry" 2>&1 | grep -vF "$known")
    if [ -n "$messages" ]; then
        printf '%s\n' "$messages"
        status=1
    fi
done
exit $status
