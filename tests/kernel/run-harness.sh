#!/usr/bin/env bash
# Boots Debian's kernel under QEMU with a busybox initramfs that holds the USB gadget and
# HID modules and the static end-to-end test binary, runs the binary in the guest and
# passes or fails on the result line the guest prints.
#
#   run-harness.sh --binary FILE [--work DIR] [--capture DIR] [--timeout SECONDS]
#   run-harness.sh --scenario SCRIPT --work DIR [--build DIR] [--disk MEGABYTES]
#                  [--timeout SECONDS]
#
#   --binary   the statically linked test binary to run in the guest
#   --scenario a bash script of this source tree run as root in the guest, chrooted into
#              this machine's own root file system (shared read-only over 9p, with a tmpfs
#              overlay on top), so that it can run the host's dynamically linked programs:
#              the window under Xvfb, udevd, a peer HID library. Its exit code is the
#              result. The source tree and the build folder are shared on their own at fixed
#              guest paths, $OSTREL_SOURCE and $OSTREL_BUILD, so that neither their names
#              nor the guest's tmpfs over /tmp and /run matter; a writable folder, whose
#              contents come back to DIR/out, is in $OSTREL_OUT.
#   --build    the build folder handed to the scenario (default: the current folder)
#   --windows-build  a cross-built Windows build folder, handed to the scenario as
#              $OSTREL_WINDOWS_BUILD, with a Wine prefix made here beforehand (Wine's HID bus
#              on udev, not SDL, so that it sees hidraw nodes) in $OSTREL_WINE_PREFIX
#   --disk     a disk of the guest's own: a new ext4 file system of that size, made here in
#              DIR/disk.ext4 and attached with virtio-blk, write-through (a write the guest
#              was told is done is in the image; one it was not told is not), its node in
#              $OSTREL_DISK. A scenario may end a boot with a power cut (power_cut in
#              scenarios/lib.sh): the guest is reset at once, and booted again on the same
#              disk with the next number in $OSTREL_BOOT (1 on the first boot).
#   --work     where the initramfs and the console log go (default: a folder beside FILE)
#   --capture  copy the sysfs files the binary captured in the guest into DIR
#   --timeout  hard limit for the whole guest run (default 180 s)
#
# The kernel comes from fetch-kernel.sh (downloaded once, then cached); OSTREL_KERNEL_DIR
# names an unpacked kernel package to use instead.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
binary=""
scenario=""
build=$PWD
windows_build=""
work=""
capture=""
limit=180
disk_megabytes=""

say() { echo "kernel-harness: $*"; }
die() {
    say "$*" >&2
    exit 1
}

while [ $# -gt 0 ]; do
    case $1 in
    --binary) binary=${2:?}; shift 2 ;;
    --scenario) scenario=${2:?}; shift 2 ;;
    --build) build=${2:?}; shift 2 ;;
    --windows-build) windows_build=${2:?}; shift 2 ;;
    --work) work=${2:?}; shift 2 ;;
    --capture) capture=${2:?}; shift 2 ;;
    --timeout) limit=${2:?}; shift 2 ;;
    --disk) disk_megabytes=${2:?}; shift 2 ;;
    *) die "unknown argument: $1 (see the top of $0)" ;;
    esac
done

if [ -n "$scenario" ]; then
    [ -z "$binary" ] || die "--binary and --scenario exclude each other"
    [ -f "$scenario" ] || die "the scenario $scenario is missing"
    [ -n "$work" ] || die "--scenario needs --work"
    scenario=$(cd "$(dirname "$scenario")" && pwd)/$(basename "$scenario")
    # The guest sees the source tree at a fixed path: the scenario is named inside it.
    case $scenario in
    "$source_dir"/*) scenario_in_tree=${scenario#"$source_dir"/} ;;
    *) die "the scenario $scenario is not in the source tree $source_dir, which is all the guest sees of the sources" ;;
    esac
    case $scenario_in_tree in
    *$'\n'*) die "the scenario's path holds a line break, which the guest cannot read back: $scenario" ;;
    esac
    if [ ! -x "$build/tests/kernel/ostrel-gadget" ]; then
        say "SKIP: no gadget program in $build (build the default preset first)"
        exit 77
    fi
    build=$(cd "$build" && pwd)
    [ -z "$windows_build" ] || windows_build=$(cd "$windows_build" && pwd)
else
    [ -n "$binary" ] || die "no --binary or --scenario given"
    [ -x "$binary" ] || die "the test binary $binary is missing or not executable"
fi
if ! [[ $limit =~ ^[0-9]+$ ]] || [ "$limit" -lt 30 ]; then
    die "--timeout must be a whole number of seconds, 30 or more"
fi
if [ -n "$disk_megabytes" ]; then
    [ -n "$scenario" ] || die "--disk needs --scenario"
    if ! [[ $disk_megabytes =~ ^[0-9]+$ ]] || [ "$disk_megabytes" -lt 8 ]; then
        die "--disk must be a whole number of megabytes, 8 or more"
    fi
    mkfs_ext4=$(PATH=$PATH:/usr/sbin:/sbin command -v mkfs.ext4 || true)
    [ -n "$mkfs_ext4" ] || die "mkfs.ext4 is missing (Debian package e2fsprogs; run scripts/install-deps.sh)"
fi
work=${work:-$(dirname "$binary")/kernel-harness}
mkdir -p "$work"

command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing (Debian package qemu-system-x86; run scripts/install-deps.sh)"
busybox=$(command -v busybox || true)
[ -n "$busybox" ] || die "busybox is missing (Debian package busybox-static; run scripts/install-deps.sh)"
file -L "$busybox" 2>/dev/null | grep -q 'statically linked' ||
    die "$busybox is not linked statically; install busybox-static (run scripts/install-deps.sh)"
[ -n "$scenario" ] || file -L "$binary" 2>/dev/null | grep -Eq 'statically linked|static-pie linked' ||
    die "$binary is not linked statically; the guest has no shared libraries"

start=$(date +%s.%N)
elapsed() { awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }

# The kernel.
if [ -n "${OSTREL_KERNEL_DIR:-}" ]; then
    kdir=$OSTREL_KERNEL_DIR
else
    kdir=$("$here/fetch-kernel.sh") || die "no kernel: fetching Debian's kernel package failed (see above)"
fi
vmlinuz=$(compgen -G "$kdir/boot/vmlinuz-*" | head -n 1) || true
[ -n "$vmlinuz" ] || die "no kernel image: $kdir/boot/vmlinuz-* is missing"
release=${vmlinuz##*/vmlinuz-}
moddir=$kdir/lib/modules/$release/kernel
[ -d "$moddir" ] || die "no modules for kernel $release: $moddir is missing"

# Modules in load order, with parameters. Four dummy UDCs give room for four gadgets at once
# (the station's three units and a device that only looks like one).
modules=(
    "usb-common"
    "usbcore"
    "udc-core"
    "dummy_hcd num=4"
    "configfs"
    "libcomposite"
    "usb_f_hid"
    "hid"
    "usbhid"
    "hid-generic"
)
# A scenario also mounts the host's root over 9p (virtio) with an overlay on top. Each
# module after the ones it depends on (their depends= fields; the package has no modules.dep).
if [ -n "$scenario" ]; then
    modules+=(
        "virtio_ring"
        "virtio"
        "virtio_pci_modern_dev"
        "virtio_pci_legacy_dev"
        "virtio_pci"
        "9pnet"
        "9pnet_virtio"
        "netfs"
        "fscache"
        "9p"
        "overlay"
    )
fi
# The disk: virtio-blk and ext4, whose checksums (crc32c) the crypto API looks up by name.
if [ -n "$disk_megabytes" ]; then
    modules+=(
        "virtio_blk"
        "crc16"
        "crc32c_generic"
        "mbcache"
        "jbd2"
        "ext4"
    )
fi

# The initramfs, rebuilt only when one of its inputs changed.
stage=$work/initramfs.d
rm -rf "$stage"
mkdir -p "$stage"/{bin,dev,proc,sys,etc,lib/modules,tmp}
cp "$busybox" "$stage/bin/busybox"
cp "$here/init.sh" "$stage/init"
chmod 755 "$stage/init"
[ -n "$scenario" ] || cp "$binary" "$stage/ostrel-kernel-tests"
: >"$stage/etc/ostrel-modules"
for entry in "${modules[@]}"; do
    read -r name args <<<"$entry"
    ko=$(find "$moddir" -name "$name.ko" -print -quit)
    if [ -z "$ko" ]; then
        compressed=$(find "$moddir" -name "$name.ko.*" -print -quit)
        [ -z "$compressed" ] || die "module $name is only there compressed ($compressed); busybox insmod needs the plain .ko"
        die "module $name.ko is missing from $moddir"
    fi
    cp "$ko" "$stage/lib/modules/"
    echo "$name.ko $args" >>"$stage/etc/ostrel-modules"
done
# What a scenario needs travels in files, not on the kernel command line, whose words end
# at spaces: the script's path in the source tree, and the 9p tags of the folders shared
# beside the host's root (each mounted at /ostrel/TAG in the guest).
if [ -n "$scenario" ]; then
    printf '%s\n' "$scenario_in_tree" >"$stage/etc/ostrel-scenario"
    printf '%s\n' src build ${windows_build:+winbuild wineprefix} >"$stage/etc/ostrel-shares"
    # Virtio-blk's first disk.
    [ -z "$disk_megabytes" ] || echo /dev/vda >"$stage/etc/ostrel-disk"
fi

initramfs=$work/initramfs.cpio
sum=$( (cd "$stage" && find . -type f | LC_ALL=C sort | xargs sha256sum) | sha256sum | cut -d' ' -f1)
if [ -f "$initramfs" ] && [ "$(cat "$initramfs.sha256" 2>/dev/null)" = "$sum" ]; then
    say "initramfs unchanged"
else
    (cd "$stage" && find . | LC_ALL=C sort | "$busybox" cpio -o -H newc 2>/dev/null) >"$initramfs.tmp" ||
        die "busybox cpio could not build the initramfs"
    mv "$initramfs.tmp" "$initramfs"
    echo "$sum" >"$initramfs.sha256"
    say "initramfs built ($(du -h "$initramfs" | cut -f1))"
fi

# share HOST-FOLDER TAG [rw]: a 9p share; QEMU's option syntax doubles commas in values.
share() {
    local access=readonly=on
    [ "${3:-}" != rw ] || access=readonly=off
    shares+=(-virtfs "local,path=${1//,/,,},mount_tag=$2,security_model=none,$access,multidevs=remap")
}

# Boot. The token ties the result line to this run.
token=$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')
append="console=ttyS0 quiet panic=-1 ostrel.token=$token"
[ -z "$capture" ] || append="$append ostrel.capture=1"
memory=512M
shares=()
if [ -n "$scenario" ]; then
    if [ -n "$windows_build" ]; then
        # Made here, where Wine runs at full speed; the guest copies it into its tmpfs.
        prefix=$work/wine-prefix
        wine=/usr/lib/wine/wine64
        [ -x "$wine" ] || die "Wine is missing (Debian package wine64; run scripts/install-deps.sh)"
        if [ ! -f "$prefix/system.reg" ]; then
            rm -rf "$prefix"
            WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
                "$wine" wineboot -i </dev/null >/dev/null 2>&1 || die "wineboot failed for $prefix"
            WINEPREFIX=$prefix WINEDEBUG=-all "$wine" reg add \
                'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD \
                /d 0 /f </dev/null >/dev/null 2>&1 || die "the Wine prefix's registry could not be set"
            WINEPREFIX=$prefix /usr/lib/wine/wineserver -w
        fi
    fi
    # The window, Xvfb and Wine need more room than the bare harness.
    memory=1536M
    out=$work/out
    rm -rf "$out"
    mkdir -p "$out"
    # multidevs=remap: the host root spans several file systems, whose inode numbers
    # would otherwise collide in the guest.
    share / hostroot
    share "$out" ostrelout rw
    share "$source_dir" src
    share "$build" build
    if [ -n "$windows_build" ]; then
        share "$windows_build" winbuild
        share "$prefix" wineprefix
    fi
fi
# The disk, new on every run.
drives=()
if [ -n "$disk_megabytes" ]; then
    disk=$work/disk.ext4
    rm -f "$disk"
    truncate -s "${disk_megabytes}M" "$disk"
    # The inode tables and the journal written here: the guest's lazy initialisation would
    # write beside the scenario.
    "$mkfs_ext4" -q -F -L ostrel-disk -E lazy_itable_init=0,lazy_journal_init=0 "$disk" ||
        die "mkfs.ext4 could not make the disk $disk"
    drives=(-drive "if=none,id=disk,format=raw,cache=writethrough,file=${disk//,/,,}"
        -device "virtio-blk-pci,drive=disk")
fi

log=$work/console.log
: >"$log"
say "booting $release under QEMU (TCG, limit ${limit} s; console log: $log)"
boot_start=$(date +%s.%N)
boot=1
while :; do
    # What is left of the limit for this boot; the guest stops the tests a little before the
    # host stops the guest.
    left=$(awk -v a="$boot_start" -v b="$(date +%s.%N)" -v l="$limit" 'BEGIN { printf "%d", l - (b - a) }')
    if [ "$boot" -gt 1 ] && [ "$left" -lt 30 ]; then
        qemu_rc=124
        break
    fi
    set +e
    timeout --kill-after=5 "$left" qemu-system-x86_64 -accel tcg -m "$memory" -nographic -no-reboot \
        -no-user-config -nodefaults -serial stdio -net none "${shares[@]}" "${drives[@]}" \
        -kernel "$vmlinuz" -initrd "$initramfs" \
        -append "$append ostrel.boot=$boot ostrel.timeout=$((left - 20))" </dev/null 2>&1 |
        tr -d '\r' | sed -u 's/\x1b\[[0-9;?]*[A-Za-z]//g; s/\x1bc//g' | tee -a "$log"
    status=("${PIPESTATUS[@]}")
    set -e
    qemu_rc=${status[0]}
    # The scenario cut the power (-no-reboot turns the guest's reset into QEMU's end): the
    # machine comes back on the same disk.
    if [ "$qemu_rc" -eq 0 ] && [ -f "$work/out/power-cut-$boot" ] &&
        ! grep -q "^OSTREL-HARNESS-RESULT $token " "$log"; then
        say "boot $boot ended in a power cut; booting again on the same disk"
        boot=$((boot + 1))
        continue
    fi
    break
done

guest_time=$(awk -v a="$boot_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
say "guest ran ${guest_time} s; whole run $(elapsed) s"

# What a failed run leaves for whoever looks into it.
evidence() {
    local shots=""
    [ -z "$scenario" ] || shots=$(find "$work/out" -name '*.png' 2>/dev/null | LC_ALL=C sort | tr '\n' ' ')
    echo "console log: $log${shots:+; screenshots: $shots}"
}

if [ "$qemu_rc" -eq 124 ] || [ "$qemu_rc" -eq 137 ]; then
    die "FAIL: the guest did not finish within ${limit} s and was stopped ($(evidence))"
fi

if [ -n "$capture" ]; then
    mkdir -p "$capture"
    sed -n "/^OSTREL-CAPTURE-BEGIN $token\$/,/^OSTREL-CAPTURE-END $token\$/p" "$log" |
        sed '1d;$d' | base64 -d | tar -x -C "$capture" ||
        die "FAIL: the captured sysfs files could not be extracted from the console log"
    say "captured sysfs files written to $capture"
fi

# The figures a scenario measured, repeated where CTest's log keeps them.
grep -a '^scenario: figure: ' "$log" | sed 's/^scenario: /kernel-harness: /' || true

if grep -qx "OSTREL-HARNESS-RESULT $token PASS" "$log"; then
    say "PASS"
    exit 0
fi
if grep -qx "OSTREL-HARNESS-RESULT $token FAIL" "$log"; then
    die "FAIL: the tests in the guest failed (see above; $(evidence))"
fi
die "FAIL: the guest ended without a result line (QEMU exit code $qemu_rc; kernel panic or crash, see above; $(evidence))"
