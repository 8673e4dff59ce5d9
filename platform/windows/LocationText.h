// The texts the Windows backend reads to say where a device is plugged. Pure, without the
// Windows headers, so that its tests run natively as well as under Wine. What the
// configuration manager hands over is driver-written data and is checked before use.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace platform {

// Longest location kept, in characters; the configuration manager's own are far shorter.
inline constexpr std::size_t WINDOWS_LOCATION_MAX_CHARS = 200;

// True for the instance id of a USB device itself ("USB\VID_04D8&PID_0002\5&2C9A&0&2"):
// the enumerator USB and three parts, but not one function of a composite device
// ("USB\VID_04D8&PID_0002&MI_00\..."), whose location is no port.
bool isUsbDeviceInstanceId(std::string_view instanceId);

// A device's location information (REG_SZ, the UTF-16 units the call filled, perhaps
// without a terminator) as the location: up to the first NUL, blanks at both ends dropped.
// Empty when anything else is left: a character outside printable ASCII, or more than
// WINDOWS_LOCATION_MAX_CHARS of them.
std::string locationFromRegistryText(std::span<const char16_t> units);

}  // namespace platform
