#include "cli/help/HelpText.h"

#include "cli/context/ExitStatus.h"

namespace ctl {
namespace {

// `text` broken at spaces into lines of at most `width` characters, each line after the
// first indented by `indent` spaces; CLI11 prints a footer as it stands.
std::string wrap(const std::string& text, std::size_t width, std::size_t indent) {
    std::string wrapped;
    std::size_t lineStart = 0;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find(' ', begin);
        end = end == std::string::npos ? text.size() : end;
        const std::string word = text.substr(begin, end - begin);
        if (wrapped.size() > lineStart && wrapped.size() - lineStart + 1 + word.size() > width) {
            wrapped += '\n';
            lineStart = wrapped.size();
            wrapped.append(indent, ' ');
        } else if (wrapped.size() > lineStart) {
            wrapped += ' ';
        }
        wrapped += word;
        begin = end + 1;
    }
    return wrapped;
}

}  // namespace

const char* const PARAM_SYNTAX =
    "PARAM is a parameter's name as \"ostrelctl list\" shows it (letter case ignored), its "
    "address (0x03), or its short name (delay-before-psu-startup); a part of the short name "
    "that fits only one parameter will do.";

const char* const VALUE_SYNTAX =
    "A VALUE (of set, or the text of a backup entry without a raw value) is taken only when it "
    "is wholly one number in the parameter's unit (for the timers hh:mm:ss or Never) that the "
    "parameter can hold: abc, an empty text, 12,5, 0x10, inf or 300 for a parameter of 0 to 255 "
    "are refused, before the controller is opened when no firmware takes them. A value between "
    "two steps is stored as the codec rounds it, and ostrelctl says so (12.5 [V] is stored as "
    "12.47 [V]). A backup's raw values are restored as they stand to the same firmware family; "
    "to the other (1.x and 2.x measure voltages differently) only with --convert. Every exit "
    "status but 0 comes with a line on standard error that says why.";

std::string ostrelctlVersion() {
    return std::string("ostrelctl ") + OSTREL_VERSION;
}

std::string helpFooter() {
    constexpr std::size_t width = 90;
    std::string footer =
        wrap(PARAM_SYNTAX, width, 0) + "\n\n" + wrap(VALUE_SYNTAX, width, 0) + "\n\nExit status:";
    for (const ExitStatus& status : exitStatuses()) {
        footer += "\n  " + wrap(std::to_string(status.code) + "  " + status.meaning, width - 2, 5);
    }
    footer += "\n\n" + wrap(allExitText(), width, 0);
    return footer;
}

}  // namespace ctl
