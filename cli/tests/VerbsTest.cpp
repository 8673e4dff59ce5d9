// The table of verbs against what the program prints: a verb not hidden is in --help, the
// manual page and the completion scripts, its options in its own --help, in --help-all and
// in the completions (the program defines a verb's options only once it needs them), and
// --all names, runs or refuses it as its row says.
#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commandline/CommandLine.h"
#include "cli/commands/Verbs.h"
#include "cli/help/HelpText.h"
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
    ASSERT_TRUE(std::regex_search(help.out, all, std::regex("\n  --all +([^\n]*?)\\s+on every")));
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
        std::string flat = own.out;  // the summary as wrapped to the help's width
        std::replace(flat.begin(), flat.end(), '\n', ' ');
        EXPECT_TRUE(flat.starts_with(verb->summary)) << own.out;
        std::vector<std::string> words{"--all", name};
        const CLI::App& command = *line.app.get_subcommand(name);
        for (const CLI::Option* option : command.get_options()) {
            if (option == command.get_help_ptr() || option == command.get_help_all_ptr()) {
                continue;
            }
            if (option->get_positional() && option->get_required()) {
                words.emplace_back("bash");  // for completion SHELL; a file name elsewhere
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

TEST_F(Ctl, EveryHelpIsForPeopleAndTellsOnlyWhatConcernsItsCommand) {
    const ctl::CommandLine line;
    // What each command's footer tells: how PARAM and VALUE are written, the exit statuses
    // of a command that talks to a controller (2 to 4, 130), 5 for one that claims it (as its
    // row says), 6, and the order under --all.
    struct Footer {
        const char* verb;
        bool param, value, controller, differs;
    };
    const std::vector<Footer> footers{{"status", false, false, true, false},
                                      {"list", false, false, false, false},
                                      {"devices", false, false, false, false},
                                      {"get", true, false, true, false},
                                      {"set", true, true, true, false},
                                      {"backup", false, false, true, false},
                                      {"restore", false, true, true, false},
                                      {"diff", false, true, true, true},
                                      {"factory-reset", false, false, true, false},
                                      {"station", false, true, true, false},
                                      {"metrics", false, false, false, false},
                                      {"mqtt", false, false, false, false},
                                      {"completion", false, false, false, false}};
    std::vector<std::string> globals;
    for (const CLI::Option* option : line.app.get_options()) {
        if (option->nonpositional() && option != line.app.get_help_ptr() &&
            option != line.app.get_help_all_ptr() && option->get_name() != "--version") {
            globals.push_back(option->get_lnames().front());
        }
    }
    ASSERT_GE(globals.size(), 7u);
    auto tellsFreely = [](const std::string& help) {
        for (const char* artefact :
             {"{", "Excludes", "Needs", "REQUIRED", " TEXT", " INT", "SUBCOMMAND"}) {
            EXPECT_EQ(help.find(artefact), std::string::npos) << artefact << " in\n" << help;
        }
        std::istringstream text(help);
        for (std::string shown; std::getline(text, shown);) {
            EXPECT_LE(shown.size(), 90u) << shown;
        }
    };
    tellsFreely(run({"--help-all"}).out);
    const RunResult program = run({"--help"});
    tellsFreely(program.out);
    EXPECT_NE(program.out.find("\n  --simulated[=N|PLAN]  "), std::string::npos) << program.out;
    EXPECT_NE(program.out.find(std::string(ctl::PARAM_SYNTAX).substr(0, 40)), std::string::npos);
    for (const ctl::Verb* verb : ctl::verbs()) {
        SCOPED_TRACE(verb->name);
        const auto footer = std::find_if(footers.begin(), footers.end(), [verb](const Footer& f) {
            return std::string(f.verb) == verb->name;
        });
        ASSERT_NE(footer, footers.end()) << "a new verb: say what its help's footer tells";
        const std::string help = run({verb->name, "--help"}).out;
        tellsFreely(help);
        for (const std::string& global : globals) {
            EXPECT_NE(help.find("\n  --" + global), std::string::npos) << global;
        }
        EXPECT_EQ(help.find("PARAM is a parameter") != std::string::npos, footer->param);
        EXPECT_EQ(help.find("A VALUE (of set") != std::string::npos, footer->value);
        EXPECT_EQ(help.find("\n  2    no controller found") != std::string::npos,
                  footer->controller);
        EXPECT_EQ(help.find("\n  6    the file and the controller differ") != std::string::npos,
                  footer->differs);
        EXPECT_EQ(help.find("\n  5    the controller is in use") != std::string::npos,
                  verb->claims == ctl::Claims::TheController);
        EXPECT_EQ(help.find("With --all the exit status") != std::string::npos,
                  verb->all == ctl::UnderAll::EachController);
        EXPECT_NE(help.find("\n  1    bad usage"), std::string::npos);
    }
}

TEST_F(Ctl, AWordThatIsNoCommandIsNamedWithTheNearestOne) {
    const std::string tail = " (--help lists the commands)\n";
    for (const auto& [args, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"staus"}, "\"staus\" is no command; did you mean \"status\"?"},
             {{"--timeout", "50", "lsit"}, "\"lsit\" is no command; did you mean \"list\"?"},
             {{"--simulated", "gte", "0x03"}, "\"gte\" is no command; did you mean \"get\"?"},
             {{"factory_reset"},
              "\"factory_reset\" is no command; did you mean \"factory-reset\"?"},
             {{"--device", "status", "xyzzy"}, "\"xyzzy\" is no command"},
             {{"completio"}, "\"completio\" is no command"},  // hidden: never offered
         }) {
        const RunResult result = run(args);
        EXPECT_EQ(result.code, 1) << args.back();
        EXPECT_EQ(result.err, std::string("ostrelctl: ").append(said).append(tail));
    }
}

// A slip in an option is named with the nearest option, and a word that only begins like -h
// is refused: CLI11 would read it as -h, show the help and end with 0, nothing written.
TEST_F(Ctl, AMistypedOptionIsNamedAndAWordLikeHIsNeverTheHelp) {
    sim::SimulatedOstrel& controller = plug();
    const std::string lookalike =
        "\" is no option: -h alone asks for the help, and a parameter whose name begins with "
        "\"-\" goes after \"--\"\n";
    for (const auto& [args, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"status", "--jsno"},
              "The following argument was not expected: --jsno; did you mean \"--json\"? (--help "
              "shows the usage)\n"},
             {{"--siumlated", "status"},
              "The following argument was not expected: --siumlated; did you mean "
              "\"--simulated\"? (--help shows the usage)\n"},
             {{"status", "--xyzzyq"},
              "The following argument was not expected: --xyzzyq (--help shows the usage)\n"},
             {{"set", "-h-5", "Never"}, "\"-h-5" + lookalike},
             {{"set", "-hard-off-mode-5", "Never"}, "\"-hard-off-mode-5" + lookalike},
             {{"get", "-h-5"}, "\"-h-5" + lookalike},
             {{"get", "min-temp", "--all"},
              "get takes parameter names or --all (every parameter), not both; --all before the "
              "command (ostrelctl --all get ...) reads every controller\n"},
         }) {
        const RunResult result = run(args);
        EXPECT_EQ(result.code, 1) << args.back();
        EXPECT_EQ(result.out, "") << args.back();
        EXPECT_EQ(result.err, "ostrelctl: " + said);
    }
    EXPECT_TRUE(frames(controller).empty());  // refused before anything was asked
    // After "--" the word is the parameter's name.
    const RunResult named = run({"set", "--", "-h-5", "Never"});
    EXPECT_EQ(named.code, 0) << named.err;
    EXPECT_NE(named.out.find("Hard-off MODE 5: Never"), std::string::npos) << named.out;
}

}  // namespace
