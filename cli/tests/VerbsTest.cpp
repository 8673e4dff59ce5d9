// The table of verbs against what the program prints: a verb not hidden is in --help, the
// manual page and the completion scripts, its options in its own --help, in --help-all and
// in the completions (the program defines a verb's options only once it needs them), and
// --all names, runs or refuses it as its row says.
#include <regex>
#include <string>
#include <vector>

#include "cli/commandline/CommandLine.h"
#include "cli/commands/Verbs.h"
#include "cli/help/ManPage.h"
#include "cli/tests/CtlFixture.h"

namespace {

bool hasWord(const std::string& text, const std::string& word) {
    return std::regex_search(text, std::regex("(^|[\\s\"'(])" + word + "($|[\\s\"',)])"));
}

TEST_F(Ctl, EveryVerbIsWhereItsRowSaysItIs) {
    plug();
    const ctl::CommandLine line;
    const std::string page = ctl::ostrelctlManPage(line.app, "1", "2030-01-01");
    const RunResult help = run({"--help"});
    const RunResult helpAll = run({"--help-all"});
    ASSERT_EQ(help.code, 0);
    ASSERT_EQ(helpAll.code, 0);
    // "status, get, ... and factory-reset": the verbs the help of --all names.
    std::smatch all;
    ASSERT_TRUE(
        std::regex_search(help.out, all, std::regex("\n  --all [^\n]*  ([^\n]*?) on every")));
    const std::string allLine = all[1];
    std::vector<std::string> scripts;
    for (const char* shell : {"bash", "zsh", "fish"}) {
        const RunResult script = run({"completion", shell});
        ASSERT_EQ(script.code, 0) << shell;
        scripts.push_back(script.out);
    }

    for (const ctl::Verb* verb : ctl::verbs()) {
        const std::string name = verb->name;
        SCOPED_TRACE(name);
        const bool shown = !verb->hidden;
        EXPECT_EQ(help.out.find("\n  " + name + " ") != std::string::npos, shown);
        EXPECT_EQ(page.find("\n.SS " + ctl::roffEscape(name) + "\n") != std::string::npos, shown);
        const RunResult own = run({name, "--help"});
        EXPECT_EQ(own.code, 0);
        EXPECT_TRUE(own.out.starts_with(verb->summary)) << own.out;
        std::vector<std::string> words{"--all", name};
        const CLI::App& command = *line.app.get_subcommand(name);
        for (const CLI::Option* option : command.get_options()) {
            if (option == command.get_help_ptr() || option == command.get_help_all_ptr()) {
                continue;
            }
            if (option->get_positional() && option->get_required()) {
                words.push_back("bash");  // for completion SHELL; a file name elsewhere
            }
            for (const std::string& longName : option->get_lnames()) {
                EXPECT_TRUE(hasWord(own.out, "--" + longName)) << longName;
                EXPECT_EQ(hasWord(helpAll.out, "--" + longName), shown) << longName;
                for (const std::string& script : scripts) {
                    EXPECT_TRUE(!shown || script.find(longName) != std::string::npos) << longName;
                }
            }
        }
        for (const std::string& script : scripts) {
            EXPECT_TRUE(!shown || hasWord(script, name)) << script;
        }

        EXPECT_EQ(hasWord(allLine, name), verb->all == ctl::UnderAll::EachController) << allLine;
        if (verb->all == ctl::UnderAll::Refused) {
            const RunResult refused = run(words);
            EXPECT_EQ(refused.code, 1);
            EXPECT_EQ(refused.err, "ostrelctl: --all works with " + allLine + "\n");
        }
    }
    EXPECT_EQ(m_controllers.front()->device().writeCount(), 0u);
}

}  // namespace
