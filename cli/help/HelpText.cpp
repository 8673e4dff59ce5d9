#include "cli/help/HelpText.h"

#include <sstream>

#include "core/context/Context.h"
#include "core/context/ExitStatus.h"

namespace ctl {
namespace {

// The columns of --help.
constexpr std::size_t HELP_WIDTH = 90;

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

std::string helpFooter(const FooterParts& parts) {
    constexpr std::size_t width = HELP_WIDTH;
    std::string footer;
    auto paragraph = [&footer](const std::string& text) {
        footer += (footer.empty() ? "" : "\n\n") + text;
    };
    if (parts.param) {
        paragraph(wrap(PARAM_SYNTAX, width, 0));
    }
    if (parts.value) {
        paragraph(wrap(VALUE_SYNTAX, width, 0));
    }
    std::string statuses = "Exit status:";
    for (const ExitStatus& status : exitStatuses()) {
        const bool shown = status.code == EXIT_OK || status.code == EXIT_USAGE ||
                           (status.code == EXIT_DIFFERS   ? parts.differs
                            : status.code == EXIT_CLAIMED ? parts.claims
                                                          : parts.controller);
        if (shown) {
            // The meanings in one column, also beside 130.
            std::string code = std::to_string(status.code);
            code.resize(3, ' ');
            statuses += "\n  " + wrap(code + "  " + status.meaning, width - 2, 7);
        }
    }
    paragraph(statuses);
    if (parts.all) {
        paragraph(wrap(allExitText(), width, 0));
    }
    return footer;
}

namespace {

class HelpFormatter final : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        if (positional) {
            return option->get_name(true, false);
        }
        std::string names;
        for (const std::string& name : option->get_snames()) {
            names += (names.empty() ? "-" : ", -") + name;
        }
        for (const std::string& name : option->get_lnames()) {
            names += (names.empty() ? "--" : ", --") + name;
        }
        return names;
    }

    // The value's placeholder alone: "[=N]" follows the name, as it is typed.
    std::string make_option_opts(const CLI::Option* option) const override {
        const std::string& text = option->get_option_text();
        if (option->get_positional() || text.empty()) {
            return {};
        }
        return text.starts_with("[=") ? text : " " + text;
    }

    // Descriptions broken at spaces to fit the footer's width, each line after the first
    // under the first (CLI11 indents after each line break); two columns are kept for
    // --help-all, which indents every command's part.
    std::string make_description(const CLI::App* app) const override {
        const std::string text = app->get_description();
        const std::size_t width = app->get_parent() == nullptr ? HELP_WIDTH : HELP_WIDTH - 2;
        return text.empty() ? text : wrap(text, width, 0) + "\n";
    }
    std::string make_option_desc(const CLI::Option* option) const override {
        return wrap(option->get_description(), HELP_WIDTH - 2 - column_width_, 0);
    }
    std::string make_subcommand(const CLI::App* command) const override {
        std::ostringstream out;
        CLI::detail::format_help(
            out, command->get_display_name(),
            wrap(command->get_description(), HELP_WIDTH - 2 - column_width_, 0), column_width_);
        return out.str();
    }

    // A command's help ends with the options it takes from the program, then its footer.
    std::string make_footer(const CLI::App* app) const override {
        const CLI::App* program = app->get_parent();
        if (program == nullptr) {
            return CLI::Formatter::make_footer(app);
        }
        std::vector<const CLI::Option*> globals =
            program->get_options([program](const CLI::Option* option) {
                return option->nonpositional() && option != program->get_help_ptr() &&
                       option != program->get_help_all_ptr() && option->get_name() != "--version";
            });
        std::string group =
            make_group("Options of every command (before or after it)", false, globals);
        if (group.starts_with('\n')) {
            group.erase(0, 1);
        }
        return group + "\n" + CLI::Formatter::make_footer(app);
    }
};

}  // namespace

std::shared_ptr<CLI::Formatter> helpFormatter() {
    auto formatter = std::make_shared<HelpFormatter>();
    formatter->label("SUBCOMMAND", "COMMAND");
    return formatter;
}

}  // namespace ctl
