#!/bin/sh
# lintian --pedantic on the built Debian package: any error, warning or pedantic note fails;
# then its manual pages as man shows them (man/check-pages.sh).
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
"$(dirname "$0")/../man/check-pages.sh" "$@"
