#!/bin/sh
# lintian --pedantic on the built Debian packages: any error, warning or pedantic note fails;
# then what each holds: no Qt or X11 in the dependencies of ostrelctl, its manual pages as
# man shows them (man/check-pages.sh), hardening-check on every program, and the systemd
# units with systemd-analyze: verify, and the service's exposure (printed; above 1.5 fails).
#   check-package.sh LINTIAN BUILD-DIR VERSION PACKAGE...
# The first package is ostrelctl. Exit 77 (skipped) without lintian or before
# "make package" has built the packages.
lintian=$1
dir=$2
version=$3
shift 3
if [ -z "$lintian" ] || [ ! -x "$lintian" ]; then
    echo "lintian is missing; skipped"
    exit 77
fi
# One package a line: the build folder's path may hold spaces.
newline='
'
debs=
for package in "$@"; do
    deb=$(find "$dir" -maxdepth 1 -name "${package}_${version}_*.deb" | head -n 1)
    if [ -z "$deb" ]; then
        echo "no package ${package}_${version}_*.deb in $dir (make package builds it); skipped"
        exit 77
    fi
    debs="$debs${debs:+$newline}$deb"
done
set -f
IFS=$newline
# shellcheck disable=SC2086
"$lintian" --pedantic --fail-on error,warning,pedantic --tag-display-limit 0 $debs || exit 1
echo "lintian --pedantic: clean on $(echo "$debs" | paste -sd ' ')"

ctl=$(echo "$debs" | head -n 1)
depends=$(dpkg-deb -f "$ctl" Depends)
echo "ostrelctl depends on: $depends"
if echo "$depends" | grep -Eq '(^|[ ,])(libqt|qt6|libx11|libgl|fonts-)'; then
    echo "FAIL: ostrelctl depends on a graphical library"
    exit 1
fi

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
for deb in $debs; do
    dpkg-deb -x "$deb" "$unpacked" || exit 1
done
set +f
unset IFS
set -- "$unpacked"/usr/share/man/man1/*.1.gz
[ -f "$1" ] || { echo "the packages have no manual pages"; exit 1; }
"$(dirname "$0")/../man/check-pages.sh" "$@" || exit 1

# Every program, stripped as shipped; hardening-check fails on any feature missing.
if command -v hardening-check >/dev/null 2>&1; then
    for program in "$unpacked"/usr/bin/* "$unpacked"/usr/libexec/ostrel/*; do
        [ -f "$program" ] || continue
        said=$(hardening-check "$program") || { echo "$said"; exit 1; }
        echo "hardening-check $(basename "$program"): $(echo "$said" | tail -n +2 |
            sed 's/^ *//; s/:.*yes.*/: yes/' | paste -sd ';' | sed 's/;/; /g')"
    done
fi

if command -v systemd-analyze >/dev/null 2>&1; then
    units=$(find "$unpacked" -path '*/systemd/system/ostrel-*' -type f)
    [ -n "$units" ] || { echo "the package has no ostrel-metrics units"; exit 1; }
    # In the unpacked tree, where the unit's ExecStart is, with the system's own units beside
    # ours for the targets they name; the manual page is checked above.
    for dir in /lib/systemd/system /usr/lib/systemd/system; do
        if [ -d "$dir" ]; then
            mkdir -p "$unpacked$dir"
            cp -rn "$dir/." "$unpacked$dir/"
        fi
    done
    # ExecStopPost's find, which the system has.
    mkdir -p "$unpacked/usr/bin"
    cp -n "$(command -v find)" "$unpacked/usr/bin/"
    # An unknown key is only a warning to systemd: here any line fails.
    # shellcheck disable=SC2086
    said=$(systemd-analyze verify --root="$unpacked" --man=no $units 2>&1) || said="$said (failed)"
    if [ -n "$said" ]; then
        echo "systemd-analyze verify: $said"
        exit 1
    fi
    echo "systemd-analyze verify: the units are clean"
    # The threshold counts tenths: 15 is the rating 1.5. The MQTT publisher needs the network,
    # which costs it some: 2.0.
    for service in $(echo "$units" | grep '\.service$'); do
        threshold=15
        case $service in *ostrel-mqtt.service) threshold=20 ;; esac
        echo "systemd-analyze security --offline=yes ${service##*/}:"
        rating=$(systemd-analyze security --offline=yes --threshold=$threshold "$service") || {
            echo "$rating"
            exit 1
        }
        echo "$rating" | tail -n 1
    done
fi
