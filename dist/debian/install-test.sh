#!/usr/bin/env bash
# Installs each built package with apt into its own copy of a bare Debian root
# (minbase-root.sh), as an operator would on a host without a screen, and prints how many
# packages and megabytes each pulls in (without recommends, and how many packages apt's
# recommends would add). In the root of ostrelctl it then installs
# prometheus-node-exporter after it and runs the metrics service as its unit says:
# ExecStart as root without capabilities or network, with everything read-only but the
# textfile folder; then the unit's ExecStopPost, which must remove a stale temporary file
# and nothing else; then removes ostrelctl. node_exporter's folder must stay as its package
# made it throughout.
#
#   install-test.sh BUILD-DIR VERSION PACKAGE...
#
# The first package is ostrelctl. Exit 77 (skipped) when not root or before "make package"
# has built the packages. The root and the downloaded packages are cached (minbase-root.sh).
set -euo pipefail

build=$1
version=$2
shift 2
packages=("$@")
here=$(cd "$(dirname "$0")" && pwd)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
[ "$(id -u)" -eq 0 ] || { echo "skipped: installing into a root needs root"; exit 77; }
debs=()
for package in "${packages[@]}"; do
    set -- "$build/${package}_${version}"_*.deb
    [ -f "$1" ] || { echo "skipped: no $package package in $build (make package builds it)"; exit 77; }
    debs+=("$1")
done

# Mounts made here end with this process: the rest runs in a mount namespace of its own.
if [ -z "${OSTREL_INSTALL_TEST_NS:-}" ]; then
    exec env OSTREL_INSTALL_TEST_NS=1 unshare --mount --propagation private -- "$0" "$build" \
        "$version" "${packages[@]}"
fi

base=$("$here/minbase-root.sh") || fail "no bare root"
cache=$(dirname "$base")
mkdir -p "$cache/archives/partial"
# One test at a time uses the cached root and its downloads.
exec 9>"$cache/.lock"
flock 9

work=$(mktemp -d)
roots=()
cleanup() {
    for root in "${roots[@]}"; do
        umount -R "$root" 2>/dev/null || true
    done
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

# A writable copy of the bare root in $root: an overlay where the kernel allows it, else a
# copy.
new_root() {
    root=$work/$1
    mkdir -p "$root" "$work/$1.upper" "$work/$1.work"
    if ! mount -t overlay overlay \
        -o "lowerdir=$base,upperdir=$work/$1.upper,workdir=$work/$1.work" "$root" 2>/dev/null; then
        cp -a "$base/." "$root/"
        mount --bind "$root" "$root"
    fi
    roots+=("$root")
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    mount -t proc proc "$root/proc"
    mount --bind "$cache/archives" "$root/var/cache/apt/archives"
}

in_root() {
    local root=$1
    shift
    chroot "$root" env DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 "$@"
}

# dpkg-query's own fields, not the shell's.
# shellcheck disable=SC2016
installed() { in_root "$1" dpkg-query -W -f '${Package} ${Installed-Size}\n' | sort; }

# apt-get install in the root; the cached package lists may name files the archive has
# dropped since: then the lists of the cached root are refreshed and apt asked again.
apt_install() {
    local root=$1
    shift
    if ! in_root "$root" apt-get install -y -q -o Dpkg::Options::=--force-unsafe-io "$@" \
        >"$work/apt.log" 2>&1; then
        grep -q 'Failed to fetch\|Unable to locate\|Unable to fetch' "$work/apt.log" ||
            { cat "$work/apt.log" >&2; return 1; }
        echo "refreshing the package lists of the cached root"
        chroot "$base" apt-get update -qq && in_root "$root" apt-get update -qq
        in_root "$root" apt-get install -y -q -o Dpkg::Options::=--force-unsafe-io "$@" \
            >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; return 1; }
    fi
}

# Installs the packages' files (given as paths outside) without what they only recommend
# and prints what that pulled in, and how many more packages apt's recommends would add.
install_counted() {
    local root=$1 name=$2
    shift 2
    local files=()
    for deb in "$@"; do
        cp "$deb" "$root/tmp/"
        files+=("/tmp/$(basename "$deb")")
    done
    local recommended
    recommended=$(in_root "$root" apt-get install -s "${files[@]}" 2>/dev/null | grep -c '^Inst ')
    installed "$root" >"$work/before"
    apt_install "$root" --no-install-recommends "${files[@]}" || fail "apt-get could not install $name"
    installed "$root" >"$work/after"
    comm -13 "$work/before" "$work/after" >"$work/added"
    awk -v name="$name" -v recommended="$recommended" '{ n++; kb += $2 } END {
        printf "%s: %d package%s, %.1f MB installed; %d with what they recommend\n",
            name, n, n == 1 ? "" : "s", kb / 1024, recommended }' "$work/added"
    # The whole list while it is short, else the largest.
    if [ "$(wc -l <"$work/added")" -le 12 ]; then
        awk '{ printf "  %s %.1f MB\n", $1, $2 / 1024 }' "$work/added"
    else
        echo "  the largest:"
        sort -k 2 -n -r "$work/added" | head -n 12 | awk '{ printf "  %s %.1f MB\n", $1, $2 / 1024 }'
    fi
}

echo "bare root: $(installed "$base" | wc -l) packages ($base)"
new_root ostrelctl
ctl_root=$root
install_counted "$ctl_root" "${packages[0]} alone" "${debs[0]}"
qt=$(installed "$ctl_root" | grep -E '^(libqt|libx11|qt6-)' || true)
[ -z "$qt" ] || fail "ostrelctl pulled in $qt"
in_root "$ctl_root" ostrelctl --version >/dev/null || fail "the installed ostrelctl does not run"
# mqtt runs in a program of its own, which the installed ostrelctl finds: it reads the
# configuration it is given (Paho and OpenSSL load only there).
said=$(in_root "$ctl_root" ostrelctl mqtt --config /nonexistent 2>&1) || true
case $said in
*"cannot read the configuration /nonexistent"*) ;;
*) fail "the installed ostrelctl mqtt said: $said" ;;
esac
for other in $(seq 1 $((${#debs[@]} - 1))); do
    new_root "${packages[other]}"
    install_counted "$root" "${packages[other]} (with ${packages[0]})" "${debs[@]}"
done

# The metrics service, with node_exporter installed after ostrelctl.
unit=$ctl_root/lib/systemd/system/ostrel-metrics.service
[ -f "$unit" ] || fail "ostrelctl has no ostrel-metrics.service"
start=$(sed -n 's/^ExecStart=//p' "$unit")
stop=$(sed -n 's/^ExecStopPost=-\?//p' "$unit")
folder=/var/lib/prometheus/node-exporter
apt_install "$ctl_root" --no-install-recommends prometheus-node-exporter ||
    fail "apt-get could not install node_exporter"
[ -d "$ctl_root$folder" ] || fail "prometheus-node-exporter made no $folder"
as_made=$(stat -c '%U:%G %a' "$ctl_root$folder")

# The unit's sandbox as far as a chroot can have it: a private network, no capabilities and
# no new privileges, the whole root read-only but the textfile folder.
sandboxed() {
    mount --bind "$ctl_root$folder" "$ctl_root$folder"
    mount -o remount,bind,ro "$ctl_root"
    unshare --net -- chroot "$ctl_root" setpriv --no-new-privs --bounding-set=-all \
        --inh-caps=-all -- sh -c "set -f; $1"
    local status=$?
    mount -o remount,bind,rw "$ctl_root"
    umount "$ctl_root$folder"
    return $status
}
touch -d '5 minutes ago' "$ctl_root$folder/.ostrel.prom.0123456789abcdef.tmp" \
    "$ctl_root$folder/other.prom"
touch "$ctl_root$folder/.ostrel.prom.fedcba9876543210.tmp"
sandboxed "$start" || fail "the service's ExecStart failed: $start"
[ "$(stat -c '%U %a' "$ctl_root$folder/ostrel.prom")" = "root 644" ] ||
    fail "ostrel.prom is not root's and readable by all: $(stat -c '%U %a' "$ctl_root$folder/ostrel.prom")"
grep -qx 'ostrel_controllers 0' "$ctl_root$folder/ostrel.prom" ||
    fail "ostrel.prom holds no ostrel_controllers 0"
echo "ExecStart as root in the sandbox wrote ostrel.prom ($(wc -l <"$ctl_root$folder/ostrel.prom") lines)"
sandboxed "$stop" || fail "the service's ExecStopPost failed: $stop"
left=$(find "$ctl_root$folder" -mindepth 1 -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')
[ "$left" = ".ostrel.prom.fedcba9876543210.tmp ostrel.prom other.prom " ] ||
    fail "after ExecStopPost the folder holds: $left"
echo "ExecStopPost removed the stale temporary file only"

in_root "$ctl_root" apt-get purge -y -q ostrelctl >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "ostrelctl could not be purged"; }
left=$(find "$ctl_root$folder" -mindepth 1 -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')
[ "$left" = "other.prom " ] || fail "after ostrelctl was purged the folder holds: $left"
[ "$(stat -c '%U:%G %a' "$ctl_root$folder")" = "$as_made" ] ||
    fail "$folder is $(stat -c '%U:%G %a' "$ctl_root$folder"), not $as_made as its package made it"
echo "$folder stayed $as_made throughout; purging ostrelctl removed its files only"
