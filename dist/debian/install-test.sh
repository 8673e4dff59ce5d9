#!/usr/bin/env bash
# Installs each built package with apt into its own copy of a bare Debian root
# (minbase-root.sh), as an operator would on a host without a screen, and prints how many
# packages and megabytes each pulls in (without recommends, and how many packages apt's
# recommends would add). In the root of ostrelctl it then installs
# prometheus-node-exporter after it and runs the metrics service as its unit says:
# ExecStart as root without capabilities or network, with everything read-only but the
# textfile folder; then the unit's ExecStopPost, which must remove a stale temporary file
# and nothing else; then removes ostrelctl. node_exporter's folder must stay as its package
# made it throughout. Last, in a root of its own that boots systemd, the package's life
# with the MQTT service running: install, remove, purge, install again, purge.
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
init=
cgroup=
cleanup() {
    stop_systemd
    for root in "${roots[@]}"; do
        umount -R "$root" 2>/dev/null || true
    done
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

# Ends the systemd booted below, and everything of its PID namespace, and removes its cgroup.
stop_systemd() {
    [ -n "$init" ] || return 0
    kill -KILL "$init" 2>/dev/null || true
    wait 2>/dev/null || true
    init=
    local deadline=$((SECONDS + 30))
    while [ -n "$cgroup" ] && [ -d "$cgroup" ] &&
        ! find "$cgroup" -depth -type d -exec rmdir {} + 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || { echo "cannot remove the cgroup $cgroup" >&2; break; }
        sleep 0.1
    done
}

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

# The package's life under a real systemd, as on a host: installed, the MQTT service started
# as shipped (it must fail once and stay failed), then configured with a credential and
# enabled with the timer, running; removed (nothing of ours may run), purged (nothing may stay
# enabled or behind), installed again (disabled), and purged once more straight from running.
# systemd boots as the first process of a PID namespace in a root of its own, in a cgroup of
# the test's (its namespace's root), as a container's init; apt runs inside, so that the
# maintainer scripts see a running systemd.
cgroup2=$(awk '$3 == "cgroup2" { print $2; exit }' /proc/mounts)
[ -n "$cgroup2" ] || fail "no cgroup2 hierarchy to boot systemd in"
life_start=$SECONDS
new_root lifecycle
life=$root
apt_install "$life" --no-install-recommends systemd || fail "apt-get could not install systemd"
# As on a host: nothing forbids the maintainer scripts' start and stop.
rm -f "$life/usr/sbin/policy-rc.d"
cp "${debs[0]}" "$life/root/"
ctl_deb=/root/$(basename "${debs[0]}")

boot_systemd() {
    local root=$1
    mount -t proc proc "$root/proc"
    mount -t sysfs -o ro sysfs "$root/sys"
    mount -t cgroup2 cgroup2 "$root/sys/fs/cgroup"
    mount -t tmpfs tmpfs "$root/run"
    mount -t tmpfs tmpfs "$root/tmp"
    mount --rbind /dev "$root/dev"
    # As systemd makes it on a host, but leaves to a container's manager: mounts made in a
    # unit's namespace (its credentials) reach the others.
    mount --make-rshared "$root"
    exec chroot "$root" env -i container=ostrel-install-test /lib/systemd/systemd --system
}
export -f boot_systemd
cgroup=$cgroup2/ostrel-install-test.$$
mkdir "$cgroup"
# shellcheck disable=SC2016
bash -c 'echo $$ >"$1/cgroup.procs" && exec unshare --pid --fork --mount --cgroup --uts --ipc \
    --propagation private -- bash -c "boot_systemd \"\$0\"" "$2"' bash "$cgroup" "$life" \
    >"$work/boot.log" 2>&1 &
booting=$!
# Its socket, seen through its own root, once it listens (and so has entered the root).
deadline=$((SECONDS + 30))
until init=$(pgrep -P "$booting") && [ -S "/proc/$init/root/run/systemd/private" ]; do
    [ "$SECONDS" -lt "$deadline" ] || { cat "$work/boot.log" >&2; fail "systemd did not come up"; }
    sleep 0.1
done
in_sd() {
    nsenter -t "$init" -m -p -r -w env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 "$@"
}
booted=$(in_sd timeout 60 systemctl is-system-running --wait) || true
[ "$booted" = running ] || fail "systemd in the root is $booted: $(in_sd systemctl --failed --no-legend)"
echo "systemd $(in_sd systemctl --version | head -n 1 | cut -d ' ' -f 2) booted in the root"

life_apt() {
    in_sd apt-get -y -q -o Dpkg::Options::=--force-unsafe-io "$@" >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log" >&2; fail "apt-get $* failed"; }
}
# A unit's property once it holds one of the values given, within 30 s.
await() {
    local unit=$1 property=$2 value
    shift 2
    local deadline=$((SECONDS + 30))
    while value=$(in_sd systemctl show -P "$property" "$unit") && ! [[ " $* " == *" $value "* ]]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "$unit: $property stayed $value, not $*"
        sleep 0.1
    done
    echo "$value"
}
# Our programs running in the root, deleted ones too.
# shellcheck disable=SC2016
ours() {
    in_sd sh -c 'for p in /proc/[0-9]*; do readlink "$p/exe"; done' 2>/dev/null |
        grep -E '/usr/bin/ostrelctl|/usr/libexec/ostrel/' || true
}
# What of ours is left in the root: unit links, the helper's records, state, configuration.
leftovers() {
    find "$life/etc/systemd/system" "$life/var/lib/systemd/deb-systemd-helper-enabled" \
        -name '*ostrel*' 2>/dev/null
    for path in /var/lib/private/ostrel-mqtt /var/lib/ostrel-mqtt /etc/ostrel /etc/credstore; do
        if [ -e "$life$path" ] || [ -L "$life$path" ]; then echo "$path"; fi
    done
}
disabled() {
    for unit in ostrel-mqtt.service ostrel-metrics.timer; do
        said=$(in_sd systemctl is-enabled "$unit") || true
        [ "$said" = disabled ] || fail "$1: $unit is $said, not disabled"
        said=$(in_sd systemctl is-active "$unit") || true
        [ "$said" = inactive ] || fail "$1: $unit is $said, not inactive"
    done
    [ -z "$(ours)" ] || fail "$1: running still: $(ours)"
}
# Configured with a password from the credential store and enabled with the timer: running,
# its buffer in DynamicUser's private folder.
run_configured() {
    printf 'broker = mqtt://127.0.0.1:1\nclient_id = lifecycle\npassword_file = ostrel-mqtt-password\n' \
        >"$life/etc/ostrel/mqtt.conf"
    (umask 077 && echo secret >"$life/etc/credstore/ostrel-mqtt-password")
    in_sd systemctl reset-failed
    in_sd systemctl enable --quiet --now ostrel-mqtt.service ostrel-metrics.timer
    await ostrel-mqtt.service SubState running >/dev/null
    local deadline=$((SECONDS + 30))
    until [ -L "$life/var/lib/ostrel-mqtt" ] && [ -f "$life/var/lib/private/ostrel-mqtt/readings.sqlite" ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the running service made no buffer in" \
            "/var/lib/private/ostrel-mqtt: $(ls -A "$life/var/lib/private" 2>&1)," \
            "$(in_sd journalctl -q -o cat -u ostrel-mqtt.service | tail -n 5)"
        sleep 0.1
    done
    [ -n "$(ours)" ] || fail "the enabled service runs no program of ours"
}

life_apt install --no-install-recommends "$ctl_deb"
[ "$(stat -c '%U %a' "$life/etc/credstore")" = "root 700" ] ||
    fail "/etc/credstore is $(stat -c '%U %a' "$life/etc/credstore" 2>&1), not root's 700"
# shellcheck disable=SC2016
in_sd dpkg-query -W -f '${Conffiles}\n' ostrelctl | grep -q '^ /etc/ostrel/mqtt.conf ' ||
    fail "/etc/ostrel/mqtt.conf is no conffile of ostrelctl"
disabled "installed"
# As shipped the configuration has no broker: one line, status 1, and no restart.
in_sd systemctl start ostrel-mqtt.service
await ostrel-mqtt.service SubState failed auto-restart >/dev/null
said=$(for property in ActiveState NRestarts ExecMainStatus; do
    in_sd systemctl show -P "$property" ostrel-mqtt.service
done | paste -sd ' ')
[ "$said" = "failed 0 1" ] || fail "the service started unconfigured is (state, restarts, status) $said"
# The journal has the program's line once journald has read it from the stream.
deadline=$((SECONDS + 30))
until said=$(in_sd journalctl -q -o cat -u ostrel-mqtt.service | grep '^ostrelctl'); do
    [ "$SECONDS" -lt "$deadline" ] || fail "the service started unconfigured said nothing"
    sleep 0.1
done
[ "$said" = "ostrelctl: /etc/ostrel/mqtt.conf: broker: missing (broker = mqtt://HOST:PORT or mqtts://HOST:PORT)" ] ||
    fail "the service started unconfigured said: $said"
echo "started as shipped, the service said once and stayed failed: $said"

run_configured
# Installed over itself, as an upgrade does: the publisher then runs the new program.
before=$(in_sd systemctl show -P MainPID ostrel-mqtt.service)
in_sd dpkg -i "$ctl_deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "dpkg -i failed"; }
await ostrel-mqtt.service SubState running >/dev/null
if [ "$(in_sd systemctl show -P MainPID ostrel-mqtt.service)" = "$before" ] || ours | grep -q deleted
then
    fail "after an upgrade the publisher (pid $before before) runs $(ours)"
fi
life_apt remove ostrelctl
[ -z "$(ours)" ] || fail "after remove, running still: $(ours)"
for unit in ostrel-mqtt.service ostrel-metrics.timer; do
    said=$(in_sd systemctl is-active "$unit") || true
    [ "$said" = inactive ] || fail "after remove, $unit is $said"
done
[ -f "$life/var/lib/private/ostrel-mqtt/readings.sqlite" ] || fail "remove took the buffer"
life_apt purge ostrelctl
[ -z "$(leftovers)" ] || fail "after purge, left: $(leftovers | paste -sd ' ')"
echo "running: restarted by an upgrade; removed: stopped, buffer kept; purged: nothing enabled or left"
life_apt install --no-install-recommends "$ctl_deb"
disabled "installed after purge"
run_configured
life_apt purge ostrelctl
[ -z "$(ours)" ] || fail "purged while running, running still: $(ours)"
[ -z "$(leftovers)" ] || fail "purged while running, left: $(leftovers | paste -sd ' ')"
echo "installed again: disabled; purged while running: stopped, nothing enabled or left"
stop_systemd
echo "the package's life under systemd took $((SECONDS - life_start)) s"
