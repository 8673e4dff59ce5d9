#include "cli/commands/OptionChecks.h"

namespace ctl {

const CLI::Validator& decimalNumber() {
    static const CLI::Validator DECIMAL(
        [](std::string& text) -> std::string {
            const std::size_t point = text.find('.');
            const bool decimal =
                text.find_first_not_of("0123456789.") == std::string::npos &&
                (point == std::string::npos || text.find('.', point + 1) == std::string::npos) &&
                text.find_first_of("0123456789") != std::string::npos;
            if (!decimal) {
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

CLI::Validator notEmpty(const std::string& what) {
    return CLI::Validator(
        [what](std::string& text) { return text.empty() ? "an empty " + what : std::string(); }, "",
        "NONEMPTY");
}

}  // namespace ctl
