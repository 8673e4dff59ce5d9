// The command line of ostrelctl, built from the table of verbs: the options that go before
// the command and each verb's own, defined once for the parser, the --help texts, the manual
// page and the completions, so that none of them can tell another story.
#pragma once

#include <CLI/CLI.hpp>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands/Verb.h"
#include "cli/help/HelpText.h"
#include "core/context/Context.h"
#include "core/context/ExitStatus.h"

namespace ctl {

class CommandLine final : public Program {
public:
    // Which verbs' options the constructor defines: every one (the manual page, the tests), or
    // only the one the command line names, once the parser meets it (the program, whose start
    // then pays for one verb's; --help-all and the completions define the others then).
    enum class Definitions { Every, Named };

    explicit CommandLine(Definitions definitions = Definitions::Every);
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // Parses the arguments and runs the command they name.
    int run(int argc, const char* const* argv, Console console, PlatformSource& platforms,
            const std::atomic<bool>& interrupted);
    // Whether the command run ends when its reader goes (status --watch).
    bool watching() const { return m_watching; }

    // The parser with every verb's options defined.
    const CLI::App& everyOption() override;

    CLI::App app;

private:
    struct Entry {
        const Verb* verb;
        CLI::App* command;
        std::unique_ptr<Command> values;
    };

    void define(Entry& entry);
    // What to say of a first word that is no command, naming the nearest; empty when the
    // first word is a command or there is none.
    std::string unknownCommand(int argc, const char* const* argv) const;
    int runOnEvery(Entry& entry, CommandContext& context);

    GlobalOptions m_global;
    std::string m_simulated;  // --simulated's text
    std::string m_trace;      // --simulated-trace's
    std::vector<Entry> m_entries;
    bool m_watching = false;
};

}  // namespace ctl
