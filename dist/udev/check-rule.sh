#!/bin/sh
# Runs the udev rule through Debian's own udevadm against a made-up sysfs holding one
# hidraw node below a USB device, once per identity of that USB device: only the
# controller's ids together with its manufacturer and product strings may get the uaccess
# tag and the plugdev group fallback (group plugdev, mode 0660).
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

plugdev=$(getent group plugdev | cut -d: -f3)

# What udev does to hidraw0 when the USB device has vendor $1, product $2, manufacturer $3
# and product string $4: its tags, and the group and mode this rule sets, on one line.
access_for() {
    printf '%s\n' "$1" >"$fake/$usb/idVendor"
    printf '%s\n' "$2" >"$fake/$usb/idProduct"
    printf '%s\n' "$3" >"$fake/$usb/manufacturer"
    printf '%s\n' "$4" >"$fake/$usb/product"
    # udevadm refuses a /sys that is no sysfs unless told otherwise.
    # shellcheck disable=SC2016 # the inner shell expands them
    SYSTEMD_DEVICE_VERIFY_SYSFS=0 unshare -m sh -c '
        mount -t tmpfs none /run &&
        mount -t tmpfs none /etc/udev/rules.d &&
        cp "$1" /etc/udev/rules.d/70-ostrel.rules &&
        mount --bind "$2" /sys &&
        udevadm test --action=add /sys/class/hidraw/hidraw0 2>&1' sh "$rule" "$fake" |
        sed -n -e 's/^CURRENT_TAGS=\(.*\)/tags=\1/p' \
            -e 's/.*70-ostrel\.rules:[0-9]* GROUP \([0-9]*\)$/group=\1/p' \
            -e 's/.*70-ostrel\.rules:[0-9]* MODE \([0-7]*\)$/mode=\1/p' | tr '\n' ' '
}

status=0
# expect vendor product manufacturer product-string
while IFS='|' read -r expect vendor product manufacturer name; do
    access=$(access_for "$vendor" "$product" "$manufacturer" "$name")
    got=denied
    case "$access" in
        *:uaccess:*) got=uaccess ;;
    esac
    case "$access" in
        *"group=$plugdev mode=0660 "*) got="$got+plugdev" ;;
        *group=* | *mode=*) got="$got+other-group-or-mode" ;;
    esac
    case "$expect:$got" in
        granted:uaccess+plugdev | denied:denied) verdict=ok ;;
        *) verdict=FAIL status=1 ;;
    esac
    echo "$vendor:$product '$manufacturer' '$name' ($expect): $access-> $verdict"
done <<'CASES'
granted|04d8|0002|TAVREN INC|Ostrel PSU
granted|04d8|d001|TAVREN INC|Ostrel PSU
denied|04d8|0002|Other Maker|Other Product
denied|04d8|0002|TAVREN INC|Other PSU
denied|04d8|d001|Other Maker|Ostrel PSU
denied|04d8|0003|TAVREN INC|Ostrel PSU
denied|1234|0002|TAVREN INC|Ostrel PSU
CASES
exit $status
