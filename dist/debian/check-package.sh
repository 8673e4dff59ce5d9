#!/bin/sh
# lintian --pedantic on the built Debian package: any error, warning or pedantic note fails;
# then its manual pages as man shows them (man/check-pages.sh), and its systemd units with
# systemd-analyze: verify, and the service's exposure (printed; above 2.0 fails).
#   check-package.sh LINTIAN BUILD-DIR VERSION
# Exit 77 (skipped) without lintian or before "make package" has built the package.
lintian=$1
dir=$2
version=$3
if [ -z "$lintian" ] || [ ! -x "$lintian" ]; then
    echo "lintian is missing; skipped"
    exit 77
fi
set -- "$dir"/ostrel_"$version"_*.deb
if [ ! -f "$1" ]; then
    echo "no package ostrel_${version}_*.deb in $dir (make package builds it); skipped"
    exit 77
fi
deb=$1
"$lintian" --pedantic --fail-on error,warning,pedantic --tag-display-limit 0 "$deb" || exit 1
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked" || exit 1
set -- "$unpacked"/usr/share/man/man1/*.1.gz
[ -f "$1" ] || { echo "the package has no manual pages"; exit 1; }
"$(dirname "$0")/../man/check-pages.sh" "$@" || exit 1

if command -v systemd-analyze >/dev/null 2>&1; then
    units=$(find "$unpacked" -path '*/systemd/system/ostrel-metrics.*' -type f)
    [ -n "$units" ] || { echo "the package has no ostrel-metrics units"; exit 1; }
    # In the unpacked tree, where the unit's ExecStart is, with the system's own units beside
    # ours for the targets they name; the manual page is checked above.
    for dir in /lib/systemd/system /usr/lib/systemd/system; do
        if [ -d "$dir" ]; then
            mkdir -p "$unpacked$dir"
            cp -rn "$dir/." "$unpacked$dir/"
        fi
    done
    # An unknown key is only a warning to systemd: here any line fails.
    # shellcheck disable=SC2086
    said=$(systemd-analyze verify --root="$unpacked" --man=no $units 2>&1) || said="$said (failed)"
    if [ -n "$said" ]; then
        echo "systemd-analyze verify: $said"
        exit 1
    fi
    echo "systemd-analyze verify: the units are clean"
    service=$(echo "$units" | grep '\.service$')
    # The threshold counts tenths: 20 is the rating 2.0.
    rating=$(systemd-analyze security --offline=yes --threshold=20 "$service") || {
        echo "$rating"
        exit 1
    }
    echo "$rating" | tail -n 1
fi
