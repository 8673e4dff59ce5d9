#!/bin/sh
# ostrel-mqtt.service as systemd reads it: systemd-analyze verify (any line fails), then its
# exposure, printed (above 2.0 fails).
#   check-unit.sh UNIT OSTRELCTL
# Exit 77 (skipped) without systemd-analyze.
unit=$1
ostrelctl=$2
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "systemd-analyze is missing; skipped"
    exit 77
fi
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
# The unit where Debian installs it, its ExecStart where it names it, and the system's own
# units beside it for the targets it names.
mkdir -p "$root/lib/systemd/system" "$root/usr/bin"
for dir in /lib/systemd/system /usr/lib/systemd/system; do
    if [ -d "$dir" ]; then
        mkdir -p "$root$dir"
        cp -rn "$dir/." "$root$dir/"
    fi
done
cp "$unit" "$root/lib/systemd/system/" || exit 1
cp "$ostrelctl" "$root/usr/bin/ostrelctl" || exit 1
installed="$root/lib/systemd/system/$(basename "$unit")"
said=$(systemd-analyze verify --root="$root" --man=no "$installed" 2>&1) || said="$said (failed)"
if [ -n "$said" ]; then
    echo "systemd-analyze verify: $said"
    exit 1
fi
echo "systemd-analyze verify: the unit is clean"
# The threshold counts tenths: 20 is the rating 2.0.
rating=$(systemd-analyze security --offline=yes --threshold=20 "$installed") || {
    echo "$rating"
    exit 1
}
echo "$rating" | tail -n 1
