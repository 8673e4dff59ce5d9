#include "params/Cp1252.h"

#include <array>
#include <cstddef>

namespace cp1252 {
namespace {

// Bytes 0x80 to 0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> HIGH_CONTROLS = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr char REPLACEMENT = '?';

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

char16_t toUnicode(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return HIGH_CONTROLS[static_cast<std::size_t>(byte - 0x80)];
    }
    return byte;
}

int fromUnicode(char32_t character) {
    if (character == 0) {
        return -1;
    }
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) {
        return static_cast<int>(character);
    }
    for (std::size_t i = 0; i < HIGH_CONTROLS.size(); ++i) {
        if (HIGH_CONTROLS[i] == character) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

std::string toUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            break;
        }
        appendUtf8(out, toUnicode(byte));
    }
    return out;
}

std::string fromUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            length = 1;
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            c = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            c = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            c = lead & 0x07u;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3Fu);
        }
        // Overlong forms do not count as the character they spell.
        if (valid && ((length == 2 && c < 0x80) || (length == 3 && c < 0x800) ||
                      (length == 4 && c < 0x10000))) {
            valid = false;
        }
        if (!valid) {
            out.push_back(REPLACEMENT);
            ++i;
            continue;
        }
        const int byte = fromUnicode(c);
        out.push_back(byte < 0 ? REPLACEMENT : static_cast<char>(byte));
        i += length;
    }
    return out;
}

std::string quotedUtf8(std::string_view text) {
    // Appended: "\"" + text draws a false -Wrestrict from GCC 12 at -O3 (the Windows build).
    std::string quoted = "\"";
    quoted += toUtf8(text);
    quoted += '"';
    return quoted;
}

}  // namespace cp1252
