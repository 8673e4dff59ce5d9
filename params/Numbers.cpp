#include "params/Numbers.h"

#include <charconv>
#include <limits>
#include <system_error>

namespace numbers {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t digitsFrom(std::string_view text, std::size_t i) {
    std::size_t n = 0;
    while (i + n < text.size() && isDigit(text[i + n])) {
        ++n;
    }
    return n;
}

}  // namespace

std::optional<double> readDecimal(std::string_view text, const DecimalForm& form) {
    std::size_t i = 0;
    bool negative = false;
    if (form.sign && i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    const std::size_t whole = digitsFrom(text, i);
    i += whole;
    bool point = false;
    std::size_t fraction = 0;
    if (i < text.size() && text[i] == '.') {
        point = true;
        fraction = digitsFrom(text, i + 1);
        i += 1 + fraction;
    }
    if (whole + fraction == 0 ||
        (form.digitsAroundDot && (whole == 0 || (point && fraction == 0))) ||
        (form.maxDigits != 0 && (whole > form.maxDigits || fraction > form.maxDigits))) {
        return std::nullopt;
    }
    if (form.exponent && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        const std::size_t exponent = digitsFrom(text, j);
        if (exponent == 0) {
            return std::nullopt;
        }
        i = j + exponent;
    }
    if (i != text.size()) {
        return std::nullopt;
    }
    // from_chars rounds correctly and ignores the locale; the form above is all it sees.
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data() + start, text.data() + i, value);
    if (error == std::errc::result_out_of_range) {
        value = std::numeric_limits<double>::infinity();
    } else if (error != std::errc{} || end != text.data() + i) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<std::uint32_t> readWhole(std::string_view text, std::uint32_t low,
                                       std::uint32_t high) {
    char highText[16];
    const std::size_t maxDigits = static_cast<std::size_t>(
        std::to_chars(highText, highText + sizeof highText, high).ptr - highText);
    if (text.empty() || text.size() > maxDigits || digitsFrom(text, 0) != text.size()) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace numbers
