#include "core/selection/Selection.h"

#include <algorithm>

#include "core/context/Context.h"
#include "core/texts/OutsideText.h"
#include "device/HIDDevices.h"

namespace ctl {
namespace {

#ifdef _WIN32
constexpr const char* NO_CONTROLLER =
    "no controller found (plugged in? --verbose shows the device search)";
#else
constexpr const char* NO_CONTROLLER =
    "no controller found (plugged in? may you open its /dev/hidraw node? --verbose shows the "
    "device search)";
#endif

// Whether a present HID interface that is no controller has `selector` as path or location.
bool namesOtherDevice(platform::HidPlatform& platform, const std::string& selector) {
    const std::unique_ptr<platform::HidInterfaceSet> set = platform.presentInterfaces();
    if (!set) {
        return false;
    }
    // A bound on a misbehaving system's count, as discovery has one.
    for (std::uint32_t index = 0; index < 4096; ++index) {
        if (set->interfaceAt(index) != platform::Status::Ok) {
            break;
        }
        std::size_t size = 0;
        if (set->pathSize(index, size) == platform::Status::Ok && size > 0 && size < 65536) {
            std::string path(size, '\0');
            if (set->path(index, path.data(), size) == platform::Status::Ok) {
                path.resize(path.find('\0') == std::string::npos ? size : path.find('\0'));
                if (path == selector) {
                    return true;
                }
            }
        }
        if (set->location(index) == selector) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string locationText(const HIDDescriptor& descriptor) {
    return descriptor.location.empty() ? "-" : escapeControls(descriptor.location);
}

std::string fileSafeLocation(const std::string& location) {
    if (location.empty() || location == "-") {
        return "unknown";
    }
    std::string safe = location;
    for (char& c : safe) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        c = kept ? c : '_';
    }
    // "." and ".." name folders, not files.
    if (safe.find_first_not_of('.') == std::string::npos) {
        safe.front() = '_';
    }
    return safe;
}

std::vector<std::unique_ptr<HIDDescriptor>> findControllers(platform::HidPlatform& platform,
                                                            std::FILE* diagnostics) {
    HIDDevices devices(platform, diagnostics);
    devices.logSearch(diagnostics);
    std::vector<std::unique_ptr<HIDDescriptor>> found = findAllOstrels(devices);
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        if (a->location.empty() != b->location.empty()) {
            return b->location.empty();
        }
        return a->location != b->location ? a->location < b->location : a->path < b->path;
    });
    return found;
}

Selection selectControllers(platform::HidPlatform& platform, const std::string& selector, bool all,
                            std::FILE* diagnostics) {
    Selection selection;
    auto refuse = [&](int code, std::string message) {
        selection.code = code;
        selection.message = std::move(message);
        selection.chosen.clear();
        return std::move(selection);
    };
    if (all && !selector.empty()) {
        return refuse(EXIT_USAGE, "--device and --all exclude each other: give one of them");
    }
    std::vector<std::unique_ptr<HIDDescriptor>> found = findControllers(platform, diagnostics);
    if (all) {
        if (found.empty()) {
            return refuse(EXIT_NO_DEVICE, std::string(NO_CONTROLLER) + "; --all needs one");
        }
        selection.chosen = std::move(found);
        return selection;
    }
    if (!selector.empty()) {
        for (auto& descriptor : found) {
            if (descriptor->location == selector || descriptor->path == selector) {
                selection.chosen.push_back(std::move(descriptor));
            }
        }
        if (selection.chosen.size() > 1) {
            return refuse(EXIT_NO_DEVICE, "--device " + selector + " matches " +
                                              std::to_string(selection.chosen.size()) +
                                              " controllers; give one's device path");
        }
        if (selection.chosen.empty()) {
            if (namesOtherDevice(platform, selector)) {
                return refuse(EXIT_NO_DEVICE, "--device " + selector +
                                                  " is not a controller (\"ostrelctl devices\" "
                                                  "lists the controllers)");
            }
            return refuse(EXIT_NO_DEVICE, "--device " + selector +
                                              ": no controller there (\"ostrelctl devices\" "
                                              "lists the controllers)");
        }
        return selection;
    }
    if (found.empty()) {
        return refuse(EXIT_NO_DEVICE, NO_CONTROLLER);
    }
    if (found.size() > 1) {
        // "before the command": after get, --all is get's own (every parameter).
        for (const auto& descriptor : found) {
            selection.listing.push_back(locationText(*descriptor) + "  " + descriptor->path);
        }
        return refuse(EXIT_NO_DEVICE,
                      std::to_string(found.size()) +
                          " controllers found; choose one with --device "
                          "LOCATION, or give --all before the command for every one");
    }
    selection.chosen = std::move(found);
    return selection;
}

}  // namespace ctl
