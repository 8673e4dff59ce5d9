#include "platform/windows/LocationText.h"

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
        if (equalsIgnoringCase(text.substr(at, part.size()), part)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool isUsbDeviceInstanceId(std::string_view instanceId) {
    const std::size_t first = instanceId.find('\\');
    if (first == std::string_view::npos ||
        !equalsIgnoringCase(instanceId.substr(0, first), "USB")) {
        return false;
    }
    const std::size_t second = instanceId.find('\\', first + 1);
    if (second == std::string_view::npos || second == first + 1 ||
        second + 1 == instanceId.size() ||
        instanceId.find('\\', second + 1) != std::string_view::npos) {
        return false;
    }
    return !containsIgnoringCase(instanceId.substr(first + 1, second - first - 1), "&MI_");
}

std::string locationFromRegistryText(std::span<const char16_t> units) {
    const auto end = std::find(units.begin(), units.end(), u'\0');
    auto begin = units.begin();
    auto last = end;
    while (begin != last && *begin == u' ') {
        ++begin;
    }
    while (last != begin && *(last - 1) == u' ') {
        --last;
    }
    const auto count = static_cast<std::size_t>(last - begin);
    if (count > WINDOWS_LOCATION_MAX_CHARS) {
        return {};
    }
    std::string location;
    location.reserve(count);
    for (auto unit = begin; unit != last; ++unit) {
        if (*unit < 0x20 || *unit > 0x7E) {
            return {};
        }
        location.push_back(static_cast<char>(*unit));
    }
    return location;
}

}  // namespace platform
