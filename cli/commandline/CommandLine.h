// The command line of ostrelctl: its commands and options, defined once for the parser, the
// --help texts and the manual page, so that none of them can tell another story.
#pragma once

#include <CLI/CLI.hpp>
#include <atomic>
#include <span>
#include <string>
#include <vector>

#include "cli/Ostrelctl.h"
#include "cli/commands/Commands.h"

namespace ctl {

struct ExitStatus {
    int code;
    const char* word;  // the result column of --all's summary
    const char* meaning;
};
// Every exit status the program may end with, in order.
std::span<const ExitStatus> exitStatuses();
// The exit statuses from worst to best: --all ends with the worst of its controllers'.
std::span<const int> worstExitOrder();
// The sentence of --help and the manual page on how --all chooses its exit status.
std::string allExitText();

// How a command's PARAM names a parameter, and which VALUE texts are taken.
extern const char* const PARAM_SYNTAX;
extern const char* const VALUE_SYNTAX;

// The parser with every command and the variables it fills.
class CommandLine {
public:
    CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // Parses the arguments and runs the command they name.
    int run(int argc, const char* const* argv, Console console, PlatformSource& platforms,
            const std::atomic<bool>& interrupted);
    // Whether the command run was status --watch, which ends when its reader goes.
    bool watching() const { return m_watching; }

    CLI::App app;

private:
    GlobalOptions global;
    StatusOptions status;
    bool listJson = false;
    bool devicesJson = false;
    std::vector<std::string> getParams;
    bool getAll = false;
    bool getJson = false;
    std::string setParam;
    std::string setValue;
    std::string backupFile;
    std::string restoreFile;
    RestoreOptions restore;
    std::string diffFile;
    DiffOptions diff;
    bool yes = false;
    std::string metricsOutput;
    std::string completionShell;
    bool m_watching = false;

    int runCommand(CommandContext& context);
    int runOnEvery(CommandContext& context);

    CLI::App* statusCommand = nullptr;
    CLI::App* listCommand = nullptr;
    CLI::App* devicesCommand = nullptr;
    CLI::App* getCommand = nullptr;
    CLI::App* setCommand = nullptr;
    CLI::App* backupCommand = nullptr;
    CLI::App* restoreCommand = nullptr;
    CLI::App* diffCommand = nullptr;
    CLI::App* resetCommand = nullptr;
    CLI::App* metricsCommand = nullptr;
    CLI::App* completionCommand = nullptr;
};

}  // namespace ctl
