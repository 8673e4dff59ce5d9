// Parsing of the text the kernel shows in sysfs. Pure: the caller reads the files.
// Everything here is device-controlled input and is taken apart defensively.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// The kernel's HID_ID line of a HID device's uevent: "HID_ID=0003:000004D8:00000002".
struct HidIdLine {
    std::uint32_t bus = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// The first HID_ID line of a uevent file. Nothing when there is none, or when it is
// not three hexadecimal fields or its ids do not fit in 16 bits.
std::optional<HidIdLine> parseHidId(std::string_view uevent);

// A sysfs attribute holding one hexadecimal number ("0110\n", as bcdDevice): 1 to 8
// digits and an optional trailing newline, nothing else.
std::optional<std::uint32_t> parseSysfsHex(std::string_view text);

// True when the uevent file holds exactly this line ("DEVTYPE=usb_device").
bool ueventHasLine(std::string_view uevent, std::string_view wanted);

// A decimal number as the kernel writes it in names: 1 to `maxDigits` digits (9 at most),
// without a leading zero but for "0" itself.
std::optional<std::uint32_t> parseSysfsDecimal(std::string_view text, std::size_t maxDigits);

// The port chain a USB device's sysfs folder is named after, "<bus>-<port>[.<port>]...":
// "1-1" on a root port, "1-1.4.2" behind two hubs. Nothing for any other name (a root hub
// "usb1", an interface "1-1:1.0"), for a leading zero, for a bus beyond 999 or a port
// beyond 255, or for more ports than USB's seven tiers allow.
std::optional<std::string> usbPortChain(std::string_view folderName);

// The process holding a whole-file lock (flock) on the file `major:minor:inode` (the
// numbers of its file system and its inode), from the text of /proc/locks. Waiters ("->")
// and record locks are passed by. Nothing when no line matches or the pid is no number.
std::optional<std::uint32_t> parseFlockHolder(std::string_view locks, std::uint32_t major,
                                              std::uint32_t minor, std::uint64_t inode);

// A sysfs string attribute to UTF-16: the single trailing newline the kernel appends
// is dropped; each invalid UTF-8 sequence becomes one U+FFFD (per maximal subpart).
std::u16string sysfsStringToUtf16(std::span<const std::uint8_t> bytes);

}  // namespace platform
