#include "qt/Cp1252.h"

#include <array>
#include <cstdint>

namespace qtui {
namespace {

// Bytes 0x80 to 0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> CP1252_HIGH_CONTROLS = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr char CP1252_REPLACEMENT = '?';

char16_t decodeByte(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return CP1252_HIGH_CONTROLS[static_cast<std::size_t>(byte - 0x80)];
    }
    return byte;
}

// The byte for a BMP character, or -1.
int encodeUnit(char16_t unit) {
    if (unit == 0) {
        return -1;
    }
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return unit;
    }
    for (std::size_t i = 0; i < CP1252_HIGH_CONTROLS.size(); ++i) {
        if (CP1252_HIGH_CONTROLS[i] == unit) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

}  // namespace

QString fromCp1252(const std::string& text) {
    QString result;
    result.reserve(static_cast<qsizetype>(text.size()));
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            break;
        }
        result.append(QChar(decodeByte(byte)));
    }
    return result;
}

std::string toCp1252(const QString& text) {
    std::string result;
    result.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text.at(i);
        if (unit.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;  // one character beyond the BMP, one '?'
            result.push_back(CP1252_REPLACEMENT);
            continue;
        }
        const int byte = encodeUnit(unit.unicode());
        result.push_back(byte < 0 ? CP1252_REPLACEMENT : static_cast<char>(byte));
    }
    return result;
}

}  // namespace qtui
