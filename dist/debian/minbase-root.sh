#!/usr/bin/env bash
# Makes a bare Debian root (debootstrap --variant=minbase) once, into a cache folder outside
# the build tree, with its package lists fetched, and prints the folder. Later runs reuse
# it; the package tests install into copies of it. The archive is the one this machine's
# apt uses for the suite, read from apt's own configuration at run time.
#
#   minbase-root.sh [CACHE_DIR]
#
# CACHE_DIR defaults to $OSTREL_ROOT_CACHE, else ${XDG_CACHE_HOME:-$HOME/.cache}/ostrel/root.
# Needs root (debootstrap, chroot). Messages go to standard error; standard output is only
# the folder.
set -euo pipefail

suite=bookworm
cache=${1:-${OSTREL_ROOT_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/ostrel/root}}
final=$cache/minbase-$suite

say() { echo "minbase-root: $*" >&2; }
die() {
    say "$*"
    exit 1
}

usable() { [ -x "$1/usr/bin/apt-get" ] && [ -f "$1/.ostrel-ready" ]; }

if usable "$final"; then
    echo "$final"
    exit 0
fi
[ "$(id -u)" -eq 0 ] || die "debootstrap and chroot need root"
command -v debootstrap >/dev/null || die "debootstrap is missing (make deps)"

# The archive apt takes the suite's main component from, as apt-cache policy names it:
# " 500 http://HOST/debian bookworm/main amd64 Packages".
arch=$(dpkg --print-architecture)
mirror=$(apt-cache policy 2>/dev/null |
    sed -n "s#^ *[0-9]\+ \(https\?://[^ ]*\) $suite/main $arch Packages\$#\1#p" | head -n 1)
[ -n "$mirror" ] || die "apt knows no archive with $suite/main for $arch (apt-get update?)"

mkdir -p "$cache" || die "cannot create the cache folder $cache"
work=$(mktemp -d "$cache/.root.XXXXXX")
# --one-file-system: never into a mount debootstrap may have left in a failed root.
trap 'rm -rf --one-file-system "$work"' EXIT
say "debootstrap --variant=minbase $suite into $cache (once)"
debootstrap --variant=minbase --arch="$arch" "$suite" "$work/root" "$mirror" >"$work/log" 2>&1 ||
    { tail -n 20 "$work/log" >&2; die "debootstrap failed"; }
# Nothing installed into a copy starts a service; apt runs as root without its sandbox user,
# so that the shared download folder needs no owner of the root's own.
printf '#!/bin/sh\nexit 101\n' >"$work/root/usr/sbin/policy-rc.d"
chmod 755 "$work/root/usr/sbin/policy-rc.d"
printf 'APT::Sandbox::User "root";\n' >"$work/root/etc/apt/apt.conf.d/90ostrel-test"
cp /etc/resolv.conf "$work/root/etc/resolv.conf" 2>/dev/null || true
chroot "$work/root" apt-get update -qq >"$work/log" 2>&1 ||
    { cat "$work/log" >&2; die "apt-get update in the new root failed"; }
chroot "$work/root" apt-get clean
touch "$work/root/.ostrel-ready"

# Another run may have finished first; then its root stays and ours goes.
if ! mv -T "$work/root" "$final" 2>/dev/null; then
    usable "$final" || die "cannot move the new root to $final (remove that folder and retry)"
fi
say "root ready in $final"
echo "$final"
