// What discovery found about one device.
#pragma once

#include <cstdint>
#include <string>

#include "platform/HidPlatform.h"

inline constexpr int DESCRIPTOR_STRING_SIZE = 256;  // bytes, terminating NUL included
inline constexpr const char* NOT_PRESENT_TEXT = "- not present -";

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
    // The device's report byte lengths (report-id byte included).
    platform::HidCaps caps;
};
