#include "cli/Ostrelctl.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <set>
#include <streambuf>
#include <string>
#include <vector>

#include "app/OutsideText.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Completion.h"
#include "cli/Selection.h"

namespace ctl {
namespace {

// Seconds and milliseconds are taken as digits with at most one decimal point: the number
// reader behind the options would also take nan, inf, 1e999 and 0x10, and read 010 as octal,
// so leading zeros go before it sees the text.
const CLI::Validator DECIMAL(
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

// `what`, given as an empty text, is refused by name rather than taken as not given.
CLI::Validator notEmpty(const std::string& what) {
    return CLI::Validator(
        [what](std::string& text) { return text.empty() ? "an empty " + what : std::string(); }, "",
        "NONEMPTY");
}

constexpr ExitStatus EXIT_STATUSES[] = {
    {EXIT_OK, "ok", "success"},
    {EXIT_USAGE, "bad input",
     "bad usage or bad input (arguments, files, a value the controller cannot take; "
     "cross-family restore without --convert)"},
    {EXIT_NO_DEVICE, "no device",
     "no controller found, or several without --device or --all; --device naming no "
     "controller, or two; the chosen controller gone or replugged before it was opened"},
    {EXIT_LOST, "lost", "the controller was lost during the command"},
    {EXIT_TIMEOUT, "timeout",
     "a read timed out, a write was refused by the system, or a written value "
     "did not read back"},
    {EXIT_CLAIMED, "claimed",
     "the controller is in use by another of our programs (the window or another ostrelctl); "
     "--wait SECONDS waits for it, and only status runs beside them"},
    {EXIT_DIFFERS, "differs", "the file and the controller differ (diff --exit-code)"},
    {EXIT_INTERRUPTED, "interrupted",
     "stopped by Ctrl-C or SIGTERM after the write in progress and its read-back, with what "
     "was and was not written listed (a second one ends at once; status --watch ends with 0)"},
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
    std::string footer =
        wrap(PARAM_SYNTAX, width, 0) + "\n\n" + wrap(VALUE_SYNTAX, width, 0) + "\n\nExit status:";
    for (const ExitStatus& status : exitStatuses()) {
        footer += "\n  " + wrap(std::to_string(status.code) + "  " + status.meaning, width - 2, 5);
    }
    footer += "\n\n" + wrap(allExitText(), width, 0);
    return footer;
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

std::span<const ExitStatus> exitStatuses() {
    return EXIT_STATUSES;
}

std::string allExitText() {
    std::string order;
    for (const int code : worstExitOrder()) {
        order += (order.empty() ? "" : ", ") + std::to_string(code);
    }
    return "With --all the exit status is the worst of the controllers' statuses, from worst to "
           "best: " +
           order +
           " (a controller that may be left part-written first, then one stopped part way by "
           "Ctrl-C, one that refused the work, one never reached, a difference found).";
}

std::string ostrelctlVersion() {
    return std::string("ostrelctl ") + OSTREL_VERSION;
}

namespace {

// Counts what passes to the error stream, so that no failure ends without a word.
class CountingBuffer final : public std::streambuf {
public:
    explicit CountingBuffer(std::streambuf* target) : m_target(target) {}
    std::size_t count() const { return m_count; }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) {
            return traits_type::not_eof(c);
        }
        ++m_count;
        return m_target->sputc(traits_type::to_char_type(c));
    }
    std::streamsize xsputn(const char* text, std::streamsize n) override {
        m_count += static_cast<std::size_t>(n);
        return m_target->sputn(text, n);
    }
    int sync() override { return m_target->pubsync(); }

private:
    std::streambuf* m_target;
    std::size_t m_count = 0;
};

}  // namespace

int runOstrelctl(int argc, const char* const* argv, Console console, PlatformSource& platforms,
                 const std::atomic<bool>& interrupted) {
    CountingBuffer counted(console.err.rdbuf());
    std::ostream err(&counted);
    bool watching = false;
    int code = EXIT_USAGE;
    try {
        CommandLine line;
        code = line.run(argc, argv, {console.in, console.out, err, console.diagnostics}, platforms,
                        interrupted);
        watching = line.watching();
    } catch (const std::exception& error) {
        err << "ostrelctl: " << escapeControls(error.what()) << '\n';
    } catch (...) {
        err << "ostrelctl: an unexpected error\n";
    }
    // Output nobody could read is a failure, but for --watch, which ends when its reader goes.
    console.out.flush();
    if (!console.out && !watching && code == EXIT_OK) {
        err << "ostrelctl: the standard output cannot be written\n";
        code = EXIT_USAGE;
    }
    if (code != EXIT_OK && counted.count() == 0) {
        err << "ostrelctl: failed with exit status " << code << '\n';
    }
    err.flush();
    return code;
}

CommandLine::CommandLine()
    : app{"Reads and writes the parameters of an Ostrel power-supply controller attached "
          "over USB, shows its status, and saves, restores and compares its settings.",
          "ostrelctl"} {
    app.set_version_flag("--version", ostrelctlVersion());
    app.set_help_all_flag("--help-all",
                          "Print this help message with every command's options and exit");
    app.footer(helpFooter());
    // One line, as every other failure says why.
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return "ostrelctl: " + escapeControls(error.what()) + " (--help shows the usage)\n";
    });
    app.require_subcommand(1);
    app.fallthrough();

    app.add_flag("--simulated{1}", global.simulated,
                 "talk to N simulated controllers (default 1, at most 16) at the locations "
                 "sim-1, sim-2, ... instead of those on USB")
        ->option_text("[=N]")
        ->check(CLI::Range(1, 16));
    auto* device = app.add_option("--device", global.device,
                                  "the controller to work on: its location as \"ostrelctl "
                                  "devices\" prints it (1-1.4.2), or its device path; needed "
                                  "when several are attached");
    device->option_text("SELECTOR")->check(notEmpty("selector: give a location or a device path"));
    app.add_flag("--all", global.all,
                 "status, get, set, backup, restore, diff and factory-reset on every attached "
                 "controller at once, output grouped by location, then a summary table")
        ->excludes(device);
    app.add_option("--timeout", global.timeoutMs,
                   "how long one answer of the controller may take, retries included "
                   "(default 1000)")
        ->option_text("MS")
        ->transform(DECIMAL)
        ->check(CLI::Range(10, 600000));
    app.add_flag("--verbose", global.verbose, "show the device search's findings on stderr");
    app.add_option("--wait", global.waitSeconds,
                   "wait up to SECONDS while the window or another ostrelctl holds the "
                   "controller (default 0: exit 5 at once)")
        ->option_text("SECONDS")
        ->transform(DECIMAL)
        ->check(CLI::Range(0.0, 86400.0));

    statusCommand = app.add_subcommand(
        "status", "the controller's status: voltages, temperature, state, flags, firmware, mode");
    statusCommand->add_flag("--json", status.json, "as JSON (one object a line with --watch)");
    statusCommand->add_flag("--csv", status.csv, "as comma-separated values, with a header");
    statusCommand
        ->add_option("--watch", status.watchSeconds, "one status every SECONDS until Ctrl-C")
        ->option_text("SECONDS")
        ->transform(DECIMAL)
        ->check(CLI::Range(0.1, 86400.0));

    listCommand =
        app.add_subcommand("list", "the parameters: row, address, size, unit, description");
    listCommand->add_flag("--json", listJson, "as JSON");

    devicesCommand = app.add_subcommand(
        "devices",
        "every attached controller: location, device path, product id, firmware and mode "
        "(\"no answer\" when it gives no status)");
    devicesCommand->add_flag("--json", devicesJson, "as JSON");

    getCommand = app.add_subcommand("get", "reads parameters from the controller");
    getCommand->add_option("PARAM", getParams, "the parameters to read");
    getCommand->add_flag("--all", getAll, "every parameter but the factory reset action");
    getCommand->add_flag("--json", getJson, "as JSON");

    setCommand = app.add_subcommand(
        "set", "writes one parameter, reads it back and says whether the controller holds it");
    setCommand->add_option("PARAM", setParam, "the parameter")->required();
    setCommand
        ->add_option("VALUE", setValue,
                     "the value in the parameter's unit (5, 12.5, -20; for the timers hh:mm:ss "
                     "or Never); a value that starts with - is a value, never an option")
        ->required();
    // After PARAM everything is the value: "set min-temp -5" and "set min-temp -hot" alike.
    setCommand->positionals_at_end();

    backupCommand = app.add_subcommand(
        "backup", "saves every parameter, with the firmware version, to a JSON file");
    backupCommand
        ->add_option("FILE", backupFile,
                     "the file to write (- for standard output): a file is replaced whole or "
                     "left as it was; a FIFO or a device is written straight; with --all an "
                     "existing folder, which gets one file ostrel-LOCATION.json a controller (a "
                     "link at such a name is replaced itself, anything there but a file or a "
                     "link to one refused)")
        ->required()
        ->check(notEmpty("file name"));

    restoreCommand = app.add_subcommand(
        "restore",
        "writes a backup's values that differ from the controller's, and checks them; the "
        "whole file is checked first, and nothing is written when any entry is refused");
    restoreCommand
        ->add_option("FILE", restoreFile, "the backup file (- or a pipe for standard input)")
        ->required()
        ->check(notEmpty("file name"));
    restoreCommand->add_flag("--dry-run", restore.dryRun,
                             "say what would be written; write nothing");
    restoreCommand->add_flag(
        "--convert", restore.convert,
        "for a file from the other firmware family (1.x and 2.x measure voltages differently): "
        "write the nearest values this controller can hold; without it such a restore lists "
        "every value that cannot be held exactly and writes nothing");

    diffCommand =
        app.add_subcommand("diff", "what differs between a backup file and the controller");
    diffCommand->add_option("FILE", diffFile, "the backup file (- or a pipe for standard input)")
        ->required()
        ->check(notEmpty("file name"));
    diffCommand->add_flag("--json", diff.json, "as JSON");
    diffCommand->add_flag("--exit-code", diff.exitCode,
                          "exit with status 6 when a value differs (0 when none does)");

    resetCommand = app.add_subcommand(
        "factory-reset", "sets every parameter back to its factory value (A4 A0 FF 01 FF 00)");
    resetCommand->add_flag("--yes", yes, "do it");

    metricsCommand = app.add_subcommand(
        "metrics",
        "the status of every controller found, in the Prometheus text format (for "
        "node_exporter's or windows_exporter's textfile collector); a controller that does not "
        "answer is ostrel_up 0 and the run still succeeds");
    metricsCommand
        ->add_option("--output", metricsOutput,
                     "write to FILE, replaced whole in one step (default: standard output)")
        ->option_text("FILE")
        ->check(notEmpty("file name"));

    // For the package's build, which installs the scripts: hidden from --help and the manual.
    completionCommand =
        app.add_subcommand("completion", "the shell completion script of SHELL")->group("");
    completionCommand->add_option("SHELL", completionShell, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "fish"}));
}

namespace {

int refuse(CommandContext& context, const std::string& message) {
    context.console.err << "ostrelctl: " << escapeControls(message) << '\n';
    return EXIT_USAGE;
}

}  // namespace

int CommandLine::run(int argc, const char* const* argv, Console console, PlatformSource& platforms,
                     const std::atomic<bool>& interrupted) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error, console.out, console.err);
        return code == 0 ? EXIT_OK : EXIT_USAGE;
    }

    m_watching = statusCommand->parsed() && status.watchSeconds > 0;
    CommandContext context{console, platforms, global, interrupted};
    // metrics takes every controller by default and reads each once; it needs no --all.
    if (global.all && !metricsCommand->parsed()) {
        return runOnEvery(context);
    }
    if (devicesCommand->parsed() && !global.device.empty()) {
        return refuse(context, "devices lists every controller: it takes no --device");
    }
    return runCommand(context);
}

int CommandLine::runCommand(CommandContext& context) {
    if (statusCommand->parsed()) {
        return commandStatus(context, status);
    }
    if (listCommand->parsed()) {
        return commandList(context, listJson);
    }
    if (devicesCommand->parsed()) {
        return commandDevices(context, devicesJson);
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
        return commandRestore(context, restoreFile, restore);
    }
    if (diffCommand->parsed()) {
        return commandDiff(context, diffFile, diff);
    }
    if (resetCommand->parsed()) {
        return commandFactoryReset(context, yes);
    }
    if (metricsCommand->parsed()) {
        return commandMetrics(context, metricsOutput);
    }
    if (completionCommand->parsed()) {
        context.console.out << completionScript(app, completionShell).value_or("");
        return EXIT_OK;
    }
    return EXIT_USAGE;
}

int CommandLine::runOnEvery(CommandContext& context) {
    if (listCommand->parsed() || devicesCommand->parsed()) {
        return refuse(context,
                      "--all works with status, get, set, backup, restore, diff and "
                      "factory-reset");
    }
    if (m_watching) {
        return refuse(context, "status --watch works on one controller, not --all");
    }
    // Refused once, before any controller is opened, rather than once a controller.
    if (resetCommand->parsed() && !yes) {
        return commandFactoryReset(context, false);
    }
    if (getCommand->parsed() && getAll == !getParams.empty()) {
        return commandGet(context, getParams, getAll, getJson);
    }
    // A file for every controller is read and checked once, before any controller is opened.
    std::string input;
    const std::string* file = restoreCommand->parsed() ? &restoreFile
                              : diffCommand->parsed()  ? &diffFile
                                                       : nullptr;
    if (file != nullptr && !readBackupText(context, *file, input)) {
        return EXIT_USAGE;
    }
    if (backupCommand->parsed()) {
        std::error_code error;
        if (!std::filesystem::is_directory(backupFile, error)) {
            return refuse(context, backupFile +
                                       ": not a folder; backup --all writes one file a controller "
                                       "into an existing folder");
        }
    }
    const bool asJson = (statusCommand->parsed() && status.json) ||
                        (getCommand->parsed() && getJson) || (diffCommand->parsed() && diff.json);
    std::mutex namesMutex;
    std::set<std::string> names;
    return runOnAll(context, asJson, input, [&](CommandContext& own) {
        if (backupCommand->parsed()) {
            const HIDDescriptor& target = *own.target;
            const std::string name =
                "ostrel-" +
                fileSafeLocation(target.location.empty() ? target.path : target.location) + ".json";
            {
                // Two locations that differ only in characters a file name cannot hold.
                std::lock_guard lock(namesMutex);
                if (!names.insert(name).second) {
                    own.console.err << "ostrelctl: another controller's file is also named " << name
                                    << "; nothing was written for this one\n";
                    return static_cast<int>(EXIT_USAGE);
                }
            }
            return commandBackup(own, (std::filesystem::path(backupFile) / name).string(),
                                 OutputName::MadeUp);
        }
        if (restoreCommand->parsed()) {
            return commandRestore(own, "-", restore);
        }
        if (diffCommand->parsed()) {
            return commandDiff(own, "-", diff);
        }
        return runCommand(own);
    });
}

}  // namespace ctl
