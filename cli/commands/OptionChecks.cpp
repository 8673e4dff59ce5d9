#include "cli/commands/OptionChecks.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

#include "params/Numbers.h"

namespace ctl {

const CLI::Validator& decimalNumber() {
    static const CLI::Validator DECIMAL(
        [](std::string& text) -> std::string {
            if (!numbers::readDecimal(text, numbers::PLAIN_DECIMAL)) {
                return "\"" + text + "\" is not a decimal number (digits with at most one point)";
            }
            std::size_t zeros = 0;  // all but the one before the point, or of 0 itself
            while (zeros + 1 < text.size() && text[zeros] == '0' && text[zeros + 1] != '.') {
                ++zeros;
            }
            text.erase(0, zeros);
            return {};
        },
        "", "DECIMAL");
    return DECIMAL;
}

CLI::Validator within(double low, double high, const std::string& unit, bool whole) {
    auto shown = [](double number) {
        char text[32];
        const auto end =
            std::to_chars(std::begin(text), std::end(text), number, std::chars_format::fixed).ptr;
        return std::string(text, end);
    };
    const std::string range = shown(low) + " to " + shown(high) + " " + unit;
    return CLI::Validator(
        [low, high, range, unit, whole](std::string& text) {
            if (whole && text.find('.') != std::string::npos) {
                return "\"" + text + "\" is not a whole number of " + unit;
            }
            const std::optional<double> number = numbers::readDecimal(text, numbers::PLAIN_DECIMAL);
            const bool inside = number && *number >= low && *number <= high;
            return inside ? std::string() : "\"" + text + "\" is outside " + range;
        },
        "", "WITHIN");
}

CLI::Validator oneOf(std::initializer_list<const char*> words) {
    std::vector<std::string> taken(words.begin(), words.end());
    std::string list;
    for (const std::string& word : taken) {
        list += (list.empty() ? "" : word == taken.back() ? " or " : ", ") + word;
    }
    return CLI::Validator(
        [taken, list](std::string& text) {
            return std::find(taken.begin(), taken.end(), text) != taken.end()
                       ? std::string()
                       : "\"" + text + "\" is none of " + list;
        },
        "", "ONEOF");
}

CLI::Validator notEmpty(const std::string& what) {
    return CLI::Validator(
        [what](std::string& text) { return text.empty() ? "an empty " + what : std::string(); }, "",
        "NONEMPTY");
}

}  // namespace ctl
