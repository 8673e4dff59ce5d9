#!/bin/sh
# Runs the udev rule through Debian's own udevadm against a made-up sysfs holding one
# hidraw node below a USB device, once per product id: the controller's ids must get
# the uaccess tag, another id must not.
#   check-rule.sh RULE_FILE
# Needs root (a private mount namespace hides the made-up sysfs and the rule from the
# machine); exits 77 (skipped) where that or udevadm is missing.
set -eu

rule=$(realpath "$1")
if ! command -v udevadm >/dev/null 2>&1 || ! command -v unshare >/dev/null 2>&1 ||
    [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    echo "skipped: needs root, unshare and udevadm (Debian package udev)"
    exit 77
fi

fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT

usb=devices/pci0000:00/0000:00:14.0/usb1/1-1
hid=$usb/1-1:1.0/0003:04D8:0002.0001
mkdir -p "$fake/bus/usb" "$fake/bus/hid" "$fake/class/hidraw" "$fake/$hid/hidraw/hidraw0"
printf 'DEVTYPE=usb_device\n' >"$fake/$usb/uevent"
printf '04d8\n' >"$fake/$usb/idVendor"
ln -s ../../../../../bus/usb "$fake/$usb/subsystem"
printf 'DEVTYPE=usb_interface\n' >"$fake/$usb/1-1:1.0/uevent"
ln -s ../../../../../../bus/usb "$fake/$usb/1-1:1.0/subsystem"
printf 'HID_ID=0003:000004D8:00000002\n' >"$fake/$hid/uevent"
ln -s ../../../../../../../bus/hid "$fake/$hid/subsystem"
printf 'MAJOR=244\nMINOR=0\nDEVNAME=hidraw0\n' >"$fake/$hid/hidraw/hidraw0/uevent"
printf '244:0\n' >"$fake/$hid/hidraw/hidraw0/dev"
ln -s ../../../../../../../../../class/hidraw "$fake/$hid/hidraw/hidraw0/subsystem"
ln -s ../../../0003:04D8:0002.0001 "$fake/$hid/hidraw/hidraw0/device"
ln -s "../../$hid/hidraw/hidraw0" "$fake/class/hidraw/hidraw0"

# The tags udev gives hidraw0 when the USB device has product id $1.
tags_for() {
    printf '%s\n' "$1" >"$fake/$usb/idProduct"
    # udevadm refuses a /sys that is no sysfs unless told otherwise.
    SYSTEMD_DEVICE_VERIFY_SYSFS=0 unshare -m sh -c '
        mount -t tmpfs none /run &&
        mount -t tmpfs none /etc/udev/rules.d &&
        cp "$1" /etc/udev/rules.d/ &&
        mount --bind "$2" /sys &&
        udevadm test --action=add /sys/class/hidraw/hidraw0 2>&1' sh "$rule" "$fake" |
        sed -n 's/^CURRENT_TAGS=//p'
}

status=0
for id in 0002 d001 0003; do
    tags=$(tags_for "$id")
    case "$id:$tags" in
        0003:*:uaccess:*) verdict="FAIL (a foreign device got uaccess)" status=1 ;;
        0003:*) verdict=ok ;;
        *:*:uaccess:*) verdict=ok ;;
        *) verdict="FAIL (no uaccess)" status=1 ;;
    esac
    echo "04d8:$id tags '$tags': $verdict"
done
exit $status
