// The readers of numbers typed by people: an option's seconds, a configuration file's values,
// a parameter's new value. Each reads a text wholly as one number of its form or refuses it,
// so that no reader of the standard library's meets inf, nan, 0x10, an octal 010, a decimal
// comma or a blank and makes something of it. Pure: no locale, no OS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace numbers {

// What a decimal may hold besides digits and at most one point.
struct DecimalForm {
    bool sign;              // a leading + or -
    bool exponent;          // e or E, an optional sign and digits, after the digits
    bool digitsAroundDot;   // a point needs digits on both sides: "5." and ".5" are refused
    std::size_t maxDigits;  // most digits before the point, and after it; 0: any
};

// Seconds and milliseconds of the command line's options: digits with at most one point.
inline constexpr DecimalForm PLAIN_DECIMAL{false, false, false, 0};
// A configuration file's numbers ("10", "0.5"): digits on both sides of a point, 12 at most.
inline constexpr DecimalForm CONFIG_DECIMAL{false, false, true, 12};
// A parameter's value, as typed or as a backup file holds it: [+-] digits [. digits]
// [e [+-] digits], or [+-] . digits.
inline constexpr DecimalForm SIGNED_DECIMAL{true, true, false, 0};

// `text` wholly as one number of `form`; nullopt when it is not one. A number beyond a
// double's range, or too small to be told from zero, reads as infinite with its sign, which
// every range refuses.
std::optional<double> readDecimal(std::string_view text, const DecimalForm& form);

// `text` wholly as digits (no sign, no blank, no point) standing for a number from `low` to
// `high`, with no more digits than `high` has ("08080" is no port); nullopt otherwise.
std::optional<std::uint32_t> readWhole(std::string_view text, std::uint32_t low,
                                       std::uint32_t high);

}  // namespace numbers
