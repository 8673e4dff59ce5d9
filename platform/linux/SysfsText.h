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

// A sysfs string attribute to UTF-16: the single trailing newline the kernel appends
// is dropped; each invalid UTF-8 sequence becomes one U+FFFD (per maximal subpart).
std::u16string sysfsStringToUtf16(std::span<const std::uint8_t> bytes);

}  // namespace platform
