#include "cli/Ostrelctl.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"

namespace ctl {
namespace {

constexpr ExitStatus EXIT_STATUSES[] = {
    {EXIT_OK, "success"},
    {EXIT_USAGE,
     "bad usage or bad input (arguments, files, a value the controller cannot take; "
     "cross-family restore without --convert)"},
    {EXIT_NO_DEVICE, "no controller found, or several (selection problems)"},
    {EXIT_LOST, "the controller was lost during the command"},
    {EXIT_TIMEOUT, "a read timed out, or a written value did not read back"},
    {5, "the controller is in use by another of our programs (claimed); --wait SECONDS waits"},
    {6, "the file and the controller differ (diff --exit-code)"},
};

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

// PARAM_SYNTAX and the exit statuses, as --help ends.
std::string helpFooter() {
    constexpr std::size_t width = 90;
    std::string footer = wrap(PARAM_SYNTAX, width, 0) + "\n\nExit status:";
    for (const ExitStatus& status : exitStatuses()) {
        footer += "\n  " + wrap(std::to_string(status.code) + "  " + status.meaning, width - 2, 5);
    }
    return footer;
}

}  // namespace

const char* const PARAM_SYNTAX =
    "PARAM is a parameter's name as \"ostrelctl list\" shows it (letter case ignored), its "
    "address (0x03), or its short name (delay-before-psu-startup); a part of the short name "
    "that fits only one parameter will do.";

std::span<const ExitStatus> exitStatuses() {
    return EXIT_STATUSES;
}

std::string ostrelctlVersion() {
    return std::string("ostrelctl ") + OSTREL_VERSION;
}

int runOstrelctl(int argc, const char* const* argv, Console console, PlatformSource& platforms,
                 const std::atomic<bool>& interrupted) {
    CommandLine line;
    return line.run(argc, argv, console, platforms, interrupted);
}

CommandLine::CommandLine()
    : app{"Reads and writes the parameters of an Ostrel power-supply controller attached "
          "over USB, shows its status, and saves, restores and compares its settings.",
          "ostrelctl"} {
    app.set_version_flag("--version", ostrelctlVersion());
    app.set_help_all_flag("--help-all",
                          "Print this help message with every command's options and exit");
    app.footer(helpFooter());
    app.require_subcommand(1);
    app.fallthrough();

    app.add_flag("--simulated", global.simulated,
                 "talk to a simulated controller instead of one on USB");
    app.add_option("--timeout", global.timeoutMs,
                   "how long one answer of the controller may take, retries included "
                   "(default 1000)")
        ->option_text("MS")
        ->check(CLI::Range(10, 600000));
    app.add_flag("--verbose", global.verbose, "show the device search's findings on stderr");

    statusCommand = app.add_subcommand(
        "status", "the controller's status: voltages, temperature, state, flags, firmware, mode");
    statusCommand->add_flag("--json", status.json, "as JSON (one object a line with --watch)");
    statusCommand->add_flag("--csv", status.csv, "as comma-separated values, with a header");
    statusCommand
        ->add_option("--watch", status.watchSeconds, "one status every SECONDS until Ctrl-C")
        ->option_text("SECONDS")
        ->check(CLI::Range(0.1, 86400.0));

    listCommand =
        app.add_subcommand("list", "the parameters: row, address, size, unit, description");
    listCommand->add_flag("--json", listJson, "as JSON");

    getCommand = app.add_subcommand("get", "reads parameters from the controller");
    getCommand->add_option("PARAM", getParams, "the parameters to read");
    getCommand->add_flag("--all", getAll, "every parameter but the factory reset action");
    getCommand->add_flag("--json", getJson, "as JSON");

    setCommand = app.add_subcommand(
        "set", "writes one parameter, reads it back and says whether the controller holds it");
    setCommand->add_option("PARAM", setParam, "the parameter")->required();
    setCommand
        ->add_option("VALUE", setValue,
                     "the value as the window takes it (5, 12.5, "
                     "01:30:00, Never)")
        ->required();

    backupCommand = app.add_subcommand(
        "backup", "saves every parameter, with the firmware version, to a JSON file");
    backupCommand->add_option("FILE", backupFile, "the file to write (- for standard output)")
        ->required();

    restoreCommand = app.add_subcommand(
        "restore", "writes a backup's values that differ from the controller's, and checks them");
    restoreCommand->add_option("FILE", restoreFile, "the backup file (- for standard input)")
        ->required();
    restoreCommand->add_flag("--dry-run", dryRun, "say what would be written; write nothing");

    diffCommand =
        app.add_subcommand("diff", "what differs between a backup file and the controller");
    diffCommand->add_option("FILE", diffFile, "the backup file (- for standard input)")->required();
    diffCommand->add_flag("--json", diffJson, "as JSON");

    resetCommand = app.add_subcommand(
        "factory-reset", "sets every parameter back to its factory value (A4 A0 FF 01 FF 00)");
    resetCommand->add_flag("--yes", yes, "do it");
}

int CommandLine::run(int argc, const char* const* argv, Console console, PlatformSource& platforms,
                     const std::atomic<bool>& interrupted) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error, console.out, console.err);
        return code == 0 ? EXIT_OK : EXIT_USAGE;
    }

    CommandContext context{console, platforms, global, interrupted};
    try {
        if (statusCommand->parsed()) {
            return commandStatus(context, status);
        }
        if (listCommand->parsed()) {
            return commandList(context, listJson);
        }
        if (getCommand->parsed()) {
            return commandGet(context, getParams, getAll, getJson);
        }
        if (setCommand->parsed()) {
            return commandSet(context, setParam, setValue);
        }
        if (backupCommand->parsed()) {
            return commandBackup(context, backupFile);
        }
        if (restoreCommand->parsed()) {
            return commandRestore(context, restoreFile, dryRun);
        }
        if (diffCommand->parsed()) {
            return commandDiff(context, diffFile, diffJson);
        }
        if (resetCommand->parsed()) {
            return commandFactoryReset(context, yes);
        }
    } catch (const std::exception& error) {
        console.err << "ostrelctl: " << error.what() << '\n';
        return EXIT_USAGE;
    }
    return EXIT_USAGE;
}

}  // namespace ctl
