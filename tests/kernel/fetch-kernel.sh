#!/usr/bin/env bash
# Fetches Debian's own kernel (the image package that linux-image-amd64 depends on) once
# into a cache folder outside the build tree and prints the folder that holds boot/ and
# lib/modules/. Later runs reuse it; two runs at once are safe: each unpacks into a private
# folder and the first to finish renames it into place.
#
#   fetch-kernel.sh [CACHE_DIR]
#
# CACHE_DIR defaults to $OSTREL_KERNEL_CACHE, else ${XDG_CACHE_HOME:-$HOME/.cache}/ostrel/kernel.
# Messages go to standard error; standard output is only the folder.
set -euo pipefail

cache=${1:-${OSTREL_KERNEL_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/ostrel/kernel}}

say() { echo "fetch-kernel: $*" >&2; }
die() {
    say "$*"
    exit 1
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        return 1
    fi
}

# A usable kernel folder: an image and the modules of exactly one kernel release.
usable() {
    local dir=$1
    compgen -G "$dir/boot/vmlinuz-*" >/dev/null && [ -d "$dir/lib/modules" ]
}

# The versioned image package, e.g. linux-image-6.1.0-57-amd64; empty when apt does not
# know linux-image-amd64 (no or stale package lists).
image_package() {
    { apt-cache depends linux-image-amd64 2>/dev/null || true; } |
        sed -n 's/^ *Depends: *\(linux-image-[0-9][^ ]*\).*/\1/p' | head -n 1
}

updated=no
apt_update() {
    [ "$updated" = no ] || return 1
    updated=yes
    say "refreshing the package lists (apt-get update)"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2 ||
        say "apt-get update failed"
    return 0
}

command -v apt-get >/dev/null || die "apt-get is missing: the kernel comes from Debian's packages"
command -v dpkg >/dev/null || die "dpkg is missing: it unpacks the kernel package"
mkdir -p "$cache" || die "cannot create the cache folder $cache"

package=$(image_package)
if [ -z "$package" ]; then
    apt_update || true
    package=$(image_package)
fi

if [ -z "$package" ]; then
    # Offline with a kernel from an earlier run: use the newest one cached.
    newest=$(find "$cache" -mindepth 1 -maxdepth 1 -type d -name 'linux-image-*' | sort -V | tail -n 1)
    if [ -n "$newest" ] && usable "$newest"; then
        say "apt does not know linux-image-amd64; using the cached $(basename "$newest")"
        echo "$newest"
        exit 0
    fi
    die "apt does not know linux-image-amd64 and no kernel is cached in $cache"
fi

final=$cache/$package
if usable "$final"; then
    echo "$final"
    exit 0
fi

work=$(mktemp -d "$cache/.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
# apt's download helper runs as _apt and must be able to write here.
chmod 755 "$work"

download() {
    say "downloading $package into $cache"
    (cd "$work" && apt-get download -q "$package" >&2 2>"$work/apt.err")
}
if ! download; then
    # A stale package list names a file the mirror no longer has: refresh it, and ask again
    # which package is current (a newer kernel may be cached already).
    if ! apt_update; then
        cat "$work/apt.err" >&2 || true
        die "apt-get download $package failed"
    fi
    package=$(image_package)
    [ -n "$package" ] || die "apt does not know linux-image-amd64 after apt-get update"
    final=$cache/$package
    if usable "$final"; then
        echo "$final"
        exit 0
    fi
    if ! download; then
        cat "$work/apt.err" >&2 || true
        die "apt-get download $package failed"
    fi
fi

deb=$(compgen -G "$work/${package}_*.deb" | head -n 1) || true
[ -n "$deb" ] || die "apt-get download left no $package .deb"
dpkg -x "$deb" "$work/tree" || die "dpkg -x $deb failed"
usable "$work/tree" || die "$package holds no boot/vmlinuz-* and lib/modules/"

# Another run may have finished first; then its copy stays and ours goes.
if ! mv -T "$work/tree" "$final" 2>/dev/null; then
    usable "$final" || die "cannot move the unpacked kernel to $final (remove that folder and retry)"
fi
say "kernel ready in $final"
echo "$final"
