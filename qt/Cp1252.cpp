#include "qt/Cp1252.h"

#include "params/Cp1252.h"

namespace qtui {
namespace {

constexpr char CP1252_REPLACEMENT = '?';

}  // namespace

QString fromCp1252(const std::string& text) {
    QString result;
    result.reserve(static_cast<qsizetype>(text.size()));
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            break;
        }
        result.append(QChar(cp1252::toUnicode(byte)));
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
        const int byte = cp1252::fromUnicode(unit.unicode());
        result.push_back(byte < 0 ? CP1252_REPLACEMENT : static_cast<char>(byte));
    }
    return result;
}

}  // namespace qtui
