#!/bin/sh
# lintian --pedantic on the built Debian package: any error, warning or pedantic note fails.
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
"$lintian" --pedantic --fail-on error,warning,pedantic --tag-display-limit 0 "$1"
