#include "platform/linux/SysfsText.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace platform {

namespace {

constexpr char16_t UTF16_REPLACEMENT = 0xFFFD;

// Calls `visit` with each line of a uevent file, without its newline.
template <typename Visit>
bool forEachLine(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        if (visit(line)) {
            return true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return false;
}

// 1 to 8 hexadecimal digits, nothing else.
std::optional<std::uint32_t> parseHexField(std::string_view field) {
    if (field.empty() || field.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : field) {
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = (value << 4) | digit;
    }
    return value;
}

void appendCodePoint(std::u16string& out, std::uint32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// A number of the port chain: 1 to `max`, as the kernel writes it.
bool isChainNumber(std::string_view field, std::uint32_t max) {
    const auto value = parseSysfsDecimal(field, 3);
    return value && *value >= 1 && *value <= max;
}

}  // namespace

std::optional<std::uint32_t> parseSysfsDecimal(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > std::min<std::size_t>(maxDigits, 9) ||
        (text[0] == '0' && text.size() > 1)) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return value;
}

std::optional<std::string> usbPortChain(std::string_view folderName) {
    // Seven tiers: the root port and at most six hubs behind it.
    constexpr std::size_t MAX_PORTS = 7;
    const std::size_t dash = folderName.find('-');
    if (dash == std::string_view::npos || !isChainNumber(folderName.substr(0, dash), 999)) {
        return std::nullopt;
    }
    std::string_view ports = folderName.substr(dash + 1);
    for (std::size_t count = 1;; ++count) {
        const std::size_t dot = ports.find('.');
        if (count > MAX_PORTS || !isChainNumber(ports.substr(0, dot), 255)) {
            return std::nullopt;
        }
        if (dot == std::string_view::npos) {
            return std::string(folderName);
        }
        ports.remove_prefix(dot + 1);
    }
}

std::optional<HidIdLine> parseHidId(std::string_view uevent) {
    constexpr std::string_view key = "HID_ID=";
    std::optional<std::string_view> value;
    forEachLine(uevent, [&](std::string_view line) {
        if (line.substr(0, key.size()) == key) {
            value = line.substr(key.size());
            return true;
        }
        return false;
    });
    if (!value) {
        return std::nullopt;
    }
    const std::size_t first = value->find(':');
    const std::size_t second =
        first == std::string_view::npos ? first : value->find(':', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    const auto bus = parseHexField(value->substr(0, first));
    const auto vendor = parseHexField(value->substr(first + 1, second - first - 1));
    const auto product = parseHexField(value->substr(second + 1));
    if (!bus || !vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF) {
        return std::nullopt;
    }
    return HidIdLine{*bus, static_cast<std::uint16_t>(*vendor),
                     static_cast<std::uint16_t>(*product)};
}

std::optional<std::uint32_t> parseSysfsHex(std::string_view text) {
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    return parseHexField(text);
}

bool ueventHasLine(std::string_view uevent, std::string_view wanted) {
    return forEachLine(uevent, [&](std::string_view line) { return line == wanted; });
}

std::u16string sysfsStringToUtf16(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes = bytes.first(bytes.size() - 1);
    }
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        // Length and the allowed range of the second byte, which excludes overlong
        // forms, surrogates and code points above U+10FFFF.
        std::size_t length = 0;
        std::uint8_t low = 0x80;
        std::uint8_t high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) {
                low = 0xA0;
            } else if (lead == 0xED) {
                high = 0x9F;
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;
            }
        } else {
            out.push_back(UTF16_REPLACEMENT);
            ++i;
            continue;
        }
        std::uint32_t cp = lead & (0x7Fu >> length);
        std::size_t taken = 1;
        while (taken < length && i + taken < bytes.size()) {
            const std::uint8_t next = bytes[i + taken];
            if (next < low || next > high) {
                break;
            }
            cp = (cp << 6) | (next & 0x3Fu);
            ++taken;
            low = 0x80;
            high = 0xBF;
        }
        if (taken < length) {
            out.push_back(UTF16_REPLACEMENT);
        } else {
            appendCodePoint(out, cp);
        }
        i += taken;
    }
    return out;
}

namespace {

// A number that fills the whole field (no sign) and fits its type.
template <typename Number>
std::optional<Number> wholeNumber(std::string_view field, int base) {
    Number value{};
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value, base);
    if (field.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::uint32_t> parseFlockHolder(std::string_view locks, std::uint32_t major,
                                              std::uint32_t minor, std::uint64_t inode) {
    std::optional<std::uint32_t> holder;
    forEachLine(locks, [&](std::string_view line) {
        // "1: FLOCK  ADVISORY  WRITE 4242 00:05:123 0 EOF"; a waiter has "->" after "1:".
        std::array<std::string_view, 6> fields;
        for (std::string_view& field : fields) {
            const std::size_t start = std::min(line.find_first_not_of(' '), line.size());
            line.remove_prefix(start);
            field = line.substr(0, line.find(' '));
            line.remove_prefix(field.size());
        }
        const std::string_view id = fields[5];
        const std::size_t first = id.find(':');
        const std::size_t second = id.rfind(':');
        if (fields[1] != "FLOCK" || first == std::string_view::npos || first == second) {
            return false;
        }
        const auto pid = wholeNumber<std::uint32_t>(fields[4], 10);
        if (pid && wholeNumber<std::uint32_t>(id.substr(0, first), 16) == major &&
            wholeNumber<std::uint32_t>(id.substr(first + 1, second - first - 1), 16) == minor &&
            wholeNumber<std::uint64_t>(id.substr(second + 1), 10) == inode) {
            holder = pid;
            return true;
        }
        return false;
    });
    return holder;
}

}  // namespace platform
