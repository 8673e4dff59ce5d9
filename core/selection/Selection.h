// Which controllers a command works on: the one attached, the one --device names, or every
// one (--all). The controller has no serial number; what tells two apart across reboots is
// where each is plugged, so a selector is a location as "ostrelctl devices" prints it, or a
// device path, and never a position in a list, which changes with the enumeration order.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "device/HIDDescriptor.h"
#include "platform/HidPlatform.h"

namespace ctl {

struct Selection {
    int code = 0;         // EXIT_OK, or the exit code that `message` explains
    std::string message;  // one line, without the program's name; empty when code is 0
    // Lines that help the user choose (the controllers found, with several and no --device).
    std::vector<std::string> listing;
    // The chosen controllers in location order (a device of no location last, by path).
    std::vector<std::unique_ptr<HIDDescriptor>> chosen;
};

// `selector`: --device's text, empty when not given; `all`: --all. Without either, exactly
// one controller must be attached. Every failure comes with its exit code: EXIT_USAGE for
// --device with --all, EXIT_NO_DEVICE for none, several, a selector that names nothing, a
// device that is not a controller, or two controllers. Writes the device search's lines to
// `diagnostics` when not null. Opens no device for longer than discovery's probe.
Selection selectControllers(platform::HidPlatform& platform, const std::string& selector, bool all,
                            std::FILE* diagnostics);

// Every accepted controller in location order (as selectControllers orders them).
std::vector<std::unique_ptr<HIDDescriptor>> findControllers(platform::HidPlatform& platform,
                                                            std::FILE* diagnostics);

// "1-1.4.2", or "-" for a device of no known location; as printed, control bytes escaped.
std::string locationText(const HIDDescriptor& descriptor);

// `location` as a part of a file name: letters, digits, '.', '-' and '_' stay, every other
// byte becomes '_'; "-" (no location) is "unknown".
std::string fileSafeLocation(const std::string& location);

}  // namespace ctl
