// Conversion between a parameter's raw bytes and the text the user reads and types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "params/ParamTable.h"

struct EncodedValue {
    std::uint8_t high = 0;  // always 0 for one-byte rows
    std::uint8_t low = 0;
};

// The display text of a parameter value report's value bytes (byte 4, and byte 5 for
// two-byte rows). Never fails.
std::string decodeParamValue(const ParamDef& row, std::uint8_t first, std::uint8_t second);

// The raw bytes for the typed text, or nullopt when the text is refused.
std::optional<EncodedValue> encodeParamValue(const ParamDef& row, std::string_view text);

// The raw bytes for an engineering value (seconds for timers), scaled, rounded and limited
// exactly as encodeParamValue treats the number it reads from a text. For callers that read
// texts their own way; an action row gets its action value whatever `value` is.
EncodedValue encodeParamNumber(const ParamDef& row, double value);

// The number in the value field: of its first 8 characters, blanks, a sign, digits with an
// optional '.' fraction and an optional exponent (e, E, d or D). Reading stops at the first
// character that does not continue the number; no number at all reads as 0. No hexadecimal,
// inf or nan, and the decimal point is '.' whatever the locale. nullopt only for a range
// error: too large for a double, or nonzero but too small to be anything but zero.
std::optional<double> readParamNumber(std::string_view text);

// "%.2f" with halves rounded away from zero on the exact decimal expansion of the value
// (1.125f prints 1.13), independent of the C library's tie rule and locale.
std::string formatTwoDecimals(float value);

// A status report's voltage as the window shows it: the row's factor and the product are
// both rounded to single precision before printing, which decides the last digit (25 x
// 0.0766 shows 1.91, where doubles would give 1.92; 150 x 0.1123 shows 16.84).
std::string formatStatusVolts(const ParamDef& row, std::uint8_t raw);
