// The manual page against the parser it is written from, and --help's exit statuses.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cli/commandline/CommandLine.h"
#include "cli/help/ManPage.h"

namespace {

std::string collapsed(const std::string& text) {
    return std::regex_replace(text, std::regex("\\s+"), " ");
}

TEST(ManPage, RoffEscapeKeepsTextLiteral) {
    const struct {
        const char* text;
        const char* roff;
    } cases[] = {
        {"--dry-run", "\\-\\-dry\\-run"},
        {".TH at the start", "\\&.TH at the start"},
        {"'quoted", "\\&'quoted"},
        {"a\n.b\n'c", "a\n\\&.b\n\\&'c"},
        {"mid. dot's", "mid. dot's"},
        {"C:\\path", "C:\\epath"},
        {"[\xC2\xB0"
         "C]",
         "[\xC2\xB0"
         "C]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ctl::roffEscape(c.text), c.roff) << c.text;
    }
}

TEST(ManPage, ListsEveryCommandOptionAndExitStatusOfTheParser) {
    const ctl::CommandLine line;
    const std::string page = ctl::ostrelctlManPage(line.app, "9.8.7", "2030-01-01");
    EXPECT_EQ(page.find(".TH OSTRELCTL 1 \"2030-01-01\" \"Ostrel programmer 9.8.7\""),
              page.find(".TH"));
    for (const char* section :
         {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "COMMANDS", "PARAMETERS", "FILES",
          "\"EXIT STATUS\"", "EXAMPLES", "\"SEE ALSO\""}) {
        EXPECT_NE(page.find(std::string("\n.SH ") + section + "\n"), std::string::npos) << section;
    }
    const auto commands = line.app.get_subcommands({});
    ASSERT_GE(commands.size(), 8u);
    for (const CLI::App* command : commands) {
        const std::string name = ctl::roffEscape(command->get_name());
        if (command->get_group().empty()) {  // hidden: the build's, not the reader's
            EXPECT_EQ(page.find("\\fB" + name + "\\fR"), std::string::npos) << name;
            continue;
        }
        EXPECT_NE(page.find("[\\fIOPTIONS\\fR]\n\\fB" + name + "\\fR\n"), std::string::npos)
            << "synopsis of " << name;
        const std::size_t at = page.find("\n.SS " + name + "\n");
        ASSERT_NE(at, std::string::npos) << name;
        const std::string subsection = page.substr(at, page.find("\n.S", at + 1) - at);
        for (const CLI::Option* option : command->get_options()) {
            if (option == command->get_help_ptr() || option == command->get_help_all_ptr()) {
                continue;
            }
            const std::string shown =
                option->get_positional() ? option->get_name(true) : "--" + option->get_lnames()[0];
            EXPECT_NE(
                subsection.find(".TP\n\\f" + std::string(option->get_positional() ? "I" : "B") +
                                ctl::roffEscape(shown)),
                std::string::npos)
                << name << ' ' << shown;
        }
    }
    for (const CLI::Option* option : line.app.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            EXPECT_NE(page.find("\\fB" + ctl::roffEscape("--" + name) + "\\fR"), std::string::npos)
                << name;
        }
    }
    const std::string exitSection =
        page.substr(page.find(".SH \"EXIT STATUS\""),
                    page.find(".SH EXAMPLES") - page.find(".SH \"EXIT STATUS\""));
    const std::string help = collapsed(line.app.help());
    for (const ctl::ExitStatus& status : ctl::exitStatuses()) {
        EXPECT_NE(exitSection.find(".B " + std::to_string(status.code) + "\n"), std::string::npos)
            << status.code;
        EXPECT_NE(help.find(" " + std::to_string(status.code) + " " + status.meaning),
                  std::string::npos)
            << status.code;
    }
}

TEST(ManPage, HelpFooterLinesFitNinetyColumns) {
    const ctl::CommandLine line;
    const std::string footer = line.app.get_footer();
    std::size_t start = 0;
    while (start < footer.size()) {
        const std::size_t end = std::min(footer.find('\n', start), footer.size());
        EXPECT_LE(end - start, 90u) << footer.substr(start, end - start);
        start = end + 1;
    }
    EXPECT_NE(collapsed(footer).find(collapsed(ctl::PARAM_SYNTAX)), std::string::npos);
}

}  // namespace
