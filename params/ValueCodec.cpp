#include "params/ValueCodec.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>

namespace {

// Only the first 8 characters of a typed number count.
constexpr std::size_t PARAM_NUMBER_CHARS = 8;
constexpr std::size_t PARAM_TIME_CHARS = 8;
constexpr std::uint32_t PARAM_TIME_NEVER = 65535;
constexpr int PARAM_TIME_MAX_HOURS = 17;
constexpr int PARAM_TIME_MAX_MINUTES = 59;
constexpr int PARAM_ACTION_VALUE = 255;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view text, std::string_view word) {
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(),
                      [](char a, char b) { return asciiLower(a) == asciiLower(b); });
}

// Half up for positive values; negative ones only ever truncate toward zero.
double roundHalfUp(double x) {
    double n = std::trunc(x);
    if (x - n >= 0.5) {
        n += 1.0;
    }
    return n;
}

// Truncation to "%d" range; never converts a value the integer cannot hold.
int truncToInt(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    constexpr double LOW = std::numeric_limits<int>::min();
    constexpr double HIGH = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(std::trunc(x), LOW, HIGH));
}

std::uint32_t truncToUnsigned(double x) {
    if (!(x > 0.0)) {
        return 0;
    }
    constexpr double HIGH = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(std::min(std::trunc(x), HIGH));
}

// Single precision as IEEE rounding gives it, without converting a value beyond float's
// range (which C++ leaves undefined).
float toSingle(double x) {
    constexpr double FLOAT_MAX = std::numeric_limits<float>::max();
    constexpr double FLOAT_OVERFLOW = 0x1.ffffffp127;  // halfway from FLT_MAX to 2^128
    if (std::isnan(x)) {
        return std::signbit(x) ? -std::numeric_limits<float>::quiet_NaN()
                               : std::numeric_limits<float>::quiet_NaN();
    }
    const double magnitude = std::fabs(x);
    if (magnitude >= FLOAT_OVERFLOW) {
        return std::signbit(x) ? -std::numeric_limits<float>::infinity()
                               : std::numeric_limits<float>::infinity();
    }
    if (magnitude > FLOAT_MAX) {
        return static_cast<float>(std::copysign(FLOAT_MAX, x));
    }
    return static_cast<float>(x);
}

// Decimal digits of mantissa * 2^shift, exactly (at most 2^128, 39 digits).
std::string shiftedToDecimal(std::uint32_t mantissa, int shift) {
    constexpr std::uint32_t LIMB_BASE = 1000000000;
    std::array<std::uint32_t, 5> limbs{mantissa};  // base 10^9, least significant first
    std::size_t used = 1;
    for (int i = 0; i < shift; ++i) {
        std::uint32_t carry = 0;
        for (std::size_t k = 0; k < used; ++k) {
            std::uint32_t doubled = limbs[k] * 2 + carry;
            carry = doubled >= LIMB_BASE ? 1 : 0;
            limbs[k] = doubled - carry * LIMB_BASE;
        }
        if (carry != 0) {
            limbs[used++] = carry;
        }
    }
    std::string text = std::to_string(limbs[used - 1]);
    for (std::size_t k = used - 1; k-- > 0;) {
        std::array<char, 16> part{};
        std::snprintf(part.data(), part.size(), "%09u", limbs[k]);
        text += part.data();
    }
    return text;
}

std::string twoDigits(std::uint64_t value) {
    return {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

// A two-character piece of hh:mm:ss: blanks, a sign, digits up to the first non-digit.
int readTimePiece(std::string_view piece) {
    std::size_t i = 0;
    while (i < piece.size() && isBlank(piece[i])) {
        ++i;
    }
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
        negative = piece[i] == '-';
        ++i;
    }
    int value = 0;
    while (i < piece.size() && isDigit(piece[i])) {
        value = value * 10 + (piece[i] - '0');
        ++i;
    }
    return negative ? -value : value;
}

std::optional<double> readTime(std::string_view text) {
    if (equalsIgnoringCase(text, "never")) {
        return PARAM_TIME_NEVER;
    }
    if (text.size() != PARAM_TIME_CHARS || text[2] != ':' || text[5] != ':') {
        return std::nullopt;
    }
    const int hours = readTimePiece(text.substr(0, 2));
    const int minutes = readTimePiece(text.substr(3, 2));
    const int seconds = readTimePiece(text.substr(6, 2));
    if (hours < 0 || minutes < 0 || seconds < 0 || hours > PARAM_TIME_MAX_HOURS ||
        minutes > PARAM_TIME_MAX_MINUTES || seconds > PARAM_TIME_MAX_MINUTES) {
        return std::nullopt;
    }
    return hours * 3600 + minutes * 60 + seconds;
}

EncodedValue toBytes(std::uint32_t bits, bool oneByte) {
    if (oneByte) {
        return {0, static_cast<std::uint8_t>(bits & 0xFF)};
    }
    return {static_cast<std::uint8_t>((bits >> 8) & 0xFF), static_cast<std::uint8_t>(bits & 0xFF)};
}

// Scaling, rounding and limits shared by every kind but the signed-magnitude one. The
// limits are applied while the value is still a double, however large it is.
EncodedValue encodeScaled(const ParamDef& row, double value) {
    const bool oneByte = row.size == 1;
    double x = value / row.factor;
    if (row.kind == PK_TEMPERATURE) {
        if (std::isnan(x)) {
            x = 0.0;
        }
        const double low = oneByte ? -128.0 : -32768.0;
        const double high = oneByte ? 127.0 : 32767.0;
        const auto n = static_cast<std::int32_t>(std::clamp(roundHalfUp(x), low, high));
        return toBytes(static_cast<std::uint32_t>(n), oneByte);  // two's complement
    }
    if (!(x >= 0.0)) {  // negative, or not a number at all
        x = 0.0;
    }
    const double high = oneByte ? 255.0 : 65535.0;
    return toBytes(static_cast<std::uint32_t>(std::min(roundHalfUp(x), high)), oneByte);
}

// The sign bit, and the magnitude of `number` (a negative one counts as 0) limited to 127.
EncodedValue signedMagnitudeBytes(const ParamDef& row, bool negative, double number) {
    double x = number / row.factor;
    if (!(x >= 0.0)) {
        x = 0.0;
    }
    auto magnitude = static_cast<std::uint8_t>(std::min(roundHalfUp(x), 127.0));
    if (negative) {
        magnitude = static_cast<std::uint8_t>(magnitude | 0x80);
    }
    return EncodedValue{0, magnitude};
}

std::optional<EncodedValue> encodeSignedMagnitude(const ParamDef& row, std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    const bool negative = text.front() == '-';
    if (negative) {
        text.remove_prefix(1);
    }
    const std::optional<double> number = readParamNumber(text);
    if (!number) {
        return std::nullopt;
    }
    return signedMagnitudeBytes(row, negative, *number);
}

}  // namespace

std::optional<double> readParamNumber(std::string_view text) {
    text = text.substr(0, std::min(text.size(), PARAM_NUMBER_CHARS));
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    // The number in the one form the converter is given: digits[.digits][e[sign]digits].
    std::string canonical;
    int digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        canonical += text[i++];
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        canonical += text[i++];
        while (i < text.size() && isDigit(text[i])) {
            canonical += text[i++];
            ++digits;
        }
    }
    if (digits == 0) {
        return 0.0;  // no number at all reads as 0
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            exponent += text[j++];
        }
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j])) {
                exponent += text[j++];
            }
            canonical += exponent;
        }
        // Otherwise the marker does not continue the number and the rest is ignored.
    }

    // from_chars rounds correctly, ignores the locale and tells overflow and underflow to
    // zero apart from small but representable results.
    double value = 0.0;
    const auto [end, error] =
        std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
    if (error == std::errc::result_out_of_range) {
        return std::nullopt;
    }
    if (error != std::errc{} || end != canonical.data() + canonical.size()) {
        return std::nullopt;  // cannot happen for the form built above; never guess
    }
    return negative ? -value : value;
}

std::string formatTwoDecimals(float value) {
    if (std::isnan(value)) {
        return std::signbit(value) ? "-nan" : "nan";
    }
    std::string text = std::signbit(value) ? "-" : "";
    if (std::isinf(value)) {
        return text + "inf";
    }
    // value = mantissa * 2^exponent exactly.
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const std::uint32_t biased = (bits >> 23) & 0xFF;
    std::uint32_t mantissa = bits & 0x7FFFFF;
    int exponent = -149;
    if (biased != 0) {
        mantissa |= 0x800000;
        exponent = static_cast<int>(biased) - 150;
    }
    if (exponent >= 0) {
        return text + shiftedToDecimal(mantissa, exponent) + ".00";
    }
    // Hundredths rounded half up: floor(m * 100 / 2^s + 1/2), all in integers. Beyond
    // s = 40 the value is below 2^-17 and rounds to 0.
    const int shift = -exponent;
    std::uint64_t hundredths = 0;
    if (shift <= 40) {
        const std::uint64_t scaled = std::uint64_t{mantissa} * 200 + (std::uint64_t{1} << shift);
        hundredths = scaled >> (shift + 1);
    }
    return text + std::to_string(hundredths / 100) + "." + twoDigits(hundredths % 100);
}

std::string formatStatusVolts(const ParamDef& row, std::uint8_t raw) {
    const float factor = static_cast<float>(row.factor);
    return formatTwoDecimals(factor * static_cast<float>(raw));
}

std::string decodeParamValue(const ParamDef& row, std::uint8_t first, std::uint8_t second) {
    const bool oneByte = row.size == 1;
    const std::uint32_t raw = oneByte ? first : first * 256u + second;
    const double x = raw * row.factor;
    switch (row.kind) {
        case PK_VOLTAGE:
            return formatTwoDecimals(toSingle(x));
        case PK_TIME: {
            const std::uint32_t s = truncToUnsigned(x);
            if (s == PARAM_TIME_NEVER) {
                return "Never";
            }
            std::array<char, 32> text{};
            std::snprintf(text.data(), text.size(), "%02u:%02u:%02u", s / 3600, (s / 60) % 60,
                          s % 60);
            return text.data();
        }
        case PK_SIGNED_MAG: {
            const double y = (first & 0x7F) * row.factor;
            const std::string magnitude = formatTwoDecimals(toSingle(y));
            return (first & 0x80) != 0 ? "-" + magnitude : magnitude;
        }
        case PK_TEMPERATURE: {
            // NOLINTNEXTLINE(bugprone-signed-char-misuse): the byte is a signed temperature.
            const int high = static_cast<std::int8_t>(first);
            const int value = oneByte ? high : high * 256 + second;
            return std::to_string(truncToInt(value * row.factor));
        }
        case PK_ACTION:
            return "-";
        case PK_NUMBER:
        default:
            return std::to_string(truncToInt(x));
    }
}

std::optional<EncodedValue> encodeParamValue(const ParamDef& row, std::string_view text) {
    std::optional<double> value;
    switch (row.kind) {
        case PK_ACTION:
            value = PARAM_ACTION_VALUE;
            break;
        case PK_TIME:
            value = readTime(text);
            break;
        case PK_SIGNED_MAG:
            return encodeSignedMagnitude(row, text);
        case PK_NUMBER:
        case PK_VOLTAGE:
        case PK_TEMPERATURE:
        default:
            value = readParamNumber(text);
            break;
    }
    if (!value) {
        return std::nullopt;
    }
    return encodeScaled(row, *value);
}

EncodedValue encodeParamNumber(const ParamDef& row, double value) {
    switch (row.kind) {
        case PK_ACTION:
            return encodeScaled(row, PARAM_ACTION_VALUE);
        case PK_SIGNED_MAG:
            return signedMagnitudeBytes(row, std::signbit(value), std::fabs(value));
        case PK_NUMBER:
        case PK_VOLTAGE:
        case PK_TIME:
        case PK_TEMPERATURE:
        default:
            return encodeScaled(row, value);
    }
}
