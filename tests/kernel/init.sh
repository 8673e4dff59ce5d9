#!/bin/busybox sh
# shellcheck shell=dash
# /init of the harness's initramfs: mounts the kernel's file systems, loads the USB and HID
# modules, runs the test binary and prints a result line that the host script looks for,
# then powers the machine off. Whatever goes wrong, it ends in a result line and poweroff.
export PATH=/bin
export OSTREL_KERNEL_HARNESS_GUEST=1
/bin/busybox --install -s /bin

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

token=none
capture=no
boot=1
# The host stops the guest at its limit; the guest stops the tests a little before.
test_timeout=160
scenario=""
[ ! -f /etc/ostrel-scenario ] || IFS= read -r scenario </etc/ostrel-scenario
# shellcheck disable=SC2013 # the command line is words, not lines
for word in $(cat /proc/cmdline); do
    case $word in
    ostrel.token=*) token=${word#ostrel.token=} ;;
    ostrel.capture=1) capture=yes ;;
    ostrel.boot=*) boot=${word#ostrel.boot=} ;;
    ostrel.timeout=*) test_timeout=${word#ostrel.timeout=} ;;
    esac
done

finish() {
    # Kernel messages must not split the result line.
    echo 1 >/proc/sys/kernel/printk
    echo "OSTREL-HARNESS-RESULT $token $1"
    sync
    poweroff -f
    sleep 60
}

read -r uptime _ </proc/uptime
echo "ostrel-harness: guest userspace up after $uptime s (boot $boot)"

# One module a line: file name, then its parameters.
while read -r module args; do
    [ -n "$module" ] || continue
    # shellcheck disable=SC2086 # each argument its own word
    if ! insmod "/lib/modules/$module" $args; then
        echo "ostrel-harness: insmod $module $args failed"
        finish FAIL
    fi
done </etc/ostrel-modules

if ! mount -t configfs none /sys/kernel/config; then
    echo "ostrel-harness: cannot mount configfs"
    finish FAIL
fi

if [ "$capture" = yes ]; then
    mkdir -p /capture
    export OSTREL_CAPTURE_DIR=/capture
fi

# A scenario runs in the host's own root file system: shared read-only, a tmpfs overlay on
# top for whatever the programs write, and the kernel's file systems mounted inside.
run_scenario() {
    mkdir -p /host /layer /newroot
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /host ||
        return 1
    mount -t tmpfs -o size=512m tmpfs /layer || return 1
    mkdir -p /layer/upper /layer/work
    mount -t overlay overlay -o lowerdir=/host,upperdir=/layer/upper,workdir=/layer/work /newroot ||
        return 1
    mount -t proc proc /newroot/proc
    mount -t sysfs sysfs /newroot/sys
    mount -t configfs none /newroot/sys/kernel/config
    mount -t devtmpfs devtmpfs /newroot/dev
    mkdir -p /newroot/dev/shm /newroot/dev/pts
    mount -t tmpfs tmpfs /newroot/dev/shm
    mount -t devpts devpts /newroot/dev/pts
    mount -t tmpfs tmpfs /newroot/tmp
    mount -t tmpfs tmpfs /newroot/run
    mkdir -p /newroot/run/ostrel-out
    mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 ostrelout /newroot/run/ostrel-out ||
        return 1
    # The source tree and the builds at fixed paths, whatever their names on the host and
    # even where they lie under the host's /tmp, which the tmpfs above hides.
    while read -r tag; do
        mkdir -p "/newroot/ostrel/$tag"
        mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose "$tag" \
            "/newroot/ostrel/$tag" || return 1
    done </etc/ostrel-shares
    winbuild=""
    wineprefix=""
    if grep -qx winbuild /etc/ostrel-shares; then
        winbuild=/ostrel/winbuild
        wineprefix=/ostrel/wineprefix
    fi
    disk=""
    [ ! -f /etc/ostrel-disk ] || IFS= read -r disk </etc/ostrel-disk
    read -r uptime _ </proc/uptime
    echo "ostrel-harness: host root mounted after $uptime s; running $scenario"
    timeout -s KILL "$test_timeout" chroot /newroot /usr/bin/env -i \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        OSTREL_SOURCE=/ostrel/src OSTREL_BUILD=/ostrel/build \
        OSTREL_BOOT="$boot" OSTREL_DISK="$disk" \
        OSTREL_WINDOWS_BUILD="$winbuild" OSTREL_WINE_PREFIX="$wineprefix" \
        OSTREL_OUT=/run/ostrel-out /bin/bash "/ostrel/src/$scenario"
}

if [ -n "$scenario" ]; then
    run_scenario
    rc=$?
    read -r uptime _ </proc/uptime
    echo "ostrel-harness: scenario ended after $uptime s with exit code $rc"
    sync
    if [ "$rc" -eq 0 ]; then
        finish PASS
    fi
    finish FAIL
fi

read -r uptime _ </proc/uptime
echo "ostrel-harness: modules loaded after $uptime s; running the tests"

# The guest's own limit, below the host's, so that a hung test still ends in a result line.
timeout -s KILL "$test_timeout" /ostrel-kernel-tests --gtest_color=no
rc=$?

read -r uptime _ </proc/uptime
echo "ostrel-harness: tests ended after $uptime s with exit code $rc"
[ "$rc" -ne 137 ] || echo "ostrel-harness: the tests did not end within $test_timeout s and were stopped"

if [ "$capture" = yes ]; then
    # Kernel messages must not get between the encoded lines.
    echo 1 >/proc/sys/kernel/printk
    echo "OSTREL-CAPTURE-BEGIN $token"
    tar -c -C /capture . | base64
    echo "OSTREL-CAPTURE-END $token"
fi

if [ "$rc" -eq 0 ]; then
    finish PASS
fi
finish FAIL
