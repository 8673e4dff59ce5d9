// What discovery found about one device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/HidPlatform.h"

inline constexpr int DESCRIPTOR_STRING_SIZE = 256;  // bytes, terminating NUL included
inline constexpr const char* NOT_PRESENT_TEXT = "- not present -";
// A USB string descriptor holds at most 126 UTF-16 units: anything longer is no device's.
inline constexpr std::size_t USB_SERIAL_MAX_UNITS = 126;

class HIDDescriptor {
public:
    // One byte per character: the low byte of each UTF-16 unit of the device's string.
    char manufacturer[DESCRIPTOR_STRING_SIZE] = {};
    char product[DESCRIPTOR_STRING_SIZE] = {};
    std::uint16_t vendorId = 0xFFFF;
    std::uint16_t productId = 0xFFFF;
    // The device path the channel opens.
    std::string path;
    // Where the device is plugged (HidInterfaceSet::location); empty when unknown. Kept
    // for the command line's choice among several controllers; the window never uses it.
    std::string location;
    // The USB serial number string in UTF-8; empty when the device gives none, or none that
    // is clean text of at most USB_SERIAL_MAX_UNITS units (a control character, a lone
    // surrogate or a character the system could not decode makes it none).
    std::string serial;
    // The device's report byte lengths (report-id byte included).
    platform::HidCaps caps;
};
