// backup: every parameter, with the firmware version, into a JSON file; under --all one file
// a controller in a folder.
#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <set>

#include "cli/commands/OptionChecks.h"
#include "cli/commands/Verb.h"
#include "cli/files/FileArguments.h"
#include "cli/files/OutputFile.h"
#include "cli/help/HelpText.h"
#include "core/files/BackupFile.h"
#include "core/selection/Selection.h"
#include "core/session/Session.h"
#include "core/texts/OutsideText.h"
#include "device/HIDDescriptor.h"

namespace ctl {
namespace {

using Clock = std::chrono::steady_clock;

// Reads every value and lets the controller go before the output is opened.
int commandBackup(CommandContext& context, const std::string& file,
                  OutputName named = OutputName::User) {
    const auto started = Clock::now();
    std::size_t count = 0;
    BackupInfo info;
    std::string content;
    {
        Session session(context);
        if (const int code = session.start(); code != EXIT_OK) {
            return code;
        }
        std::vector<ReadValue> values;
        for (const int index : valueRows(session.table())) {
            ParamReport value;
            if (const int code = session.read(index, value); code != EXIT_OK) {
                context.console.err << "ostrelctl: no file was written\n";
                return code;
            }
            values.push_back({index, value.first, value.second});
        }
        info.status = session.status();
        info.takenAt = utcNow();
        info.durationMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
        count = values.size();
        content = backupJson(session.table(), info, values).dump(2) + "\n";
    }
    // The claim and the channel are gone before the output is opened: a FIFO that nobody
    // reads holds up this command only, never the controller.
    if (!writeOutput(context, file, content, named)) {
        return context.interrupted.load() ? EXIT_INTERRUPTED : EXIT_USAGE;
    }
    std::ostream& report = file == "-" ? context.console.err : context.console.out;
    report << count << " parameters of firmware " << firmwareText(info.status) << " saved to "
           << (file == "-" ? "standard output" : escapeControls(file)) << " in " << info.durationMs
           << " ms\n";
    return EXIT_OK;
}

class BackupCommand final : public Command {
public:
    explicit BackupCommand(CLI::App& command) {
        command
            .add_option("FILE", m_file,
                        "the file to write (- for standard output): a file is replaced whole or "
                        "left as it was; a symbolic link to a file or to nothing is refused; a "
                        "FIFO or a device is written straight; with --all an "
                        "existing folder, which gets one file ostrel-LOCATION.json a controller (a "
                        "link at such a name is replaced itself, anything there but a file or a "
                        "link to one refused)")
            ->required()
            ->check(notEmpty("file name"));
    }

    int run(CommandContext& context) override { return commandBackup(context, m_file); }

    int beforeAll(CommandContext& context, std::string&) override {
        std::error_code error;
        if (!std::filesystem::is_directory(filePath(m_file), error)) {
            return fail(context, EXIT_USAGE,
                        m_file +
                            ": not a folder; backup --all writes one file a controller "
                            "into an existing folder");
        }
        return EXIT_OK;
    }

    int runOnEach(CommandContext& own) override {
        const HIDDescriptor& target = *own.target;
        const std::string name =
            "ostrel-" + fileSafeLocation(target.location.empty() ? target.path : target.location) +
            ".json";
        {
            // Two locations that differ only in characters a file name cannot hold.
            std::lock_guard lock(m_namesMutex);
            if (!m_names.insert(name).second) {
                own.console.err << "ostrelctl: another controller's file is also named " << name
                                << "; nothing was written for this one\n";
                return static_cast<int>(EXIT_USAGE);
            }
        }
        // Joined as UTF-8: a char path on Windows would go through the ANSI code page.
        const std::u8string joined = (filePath(m_file) / name).u8string();
        return commandBackup(own, std::string(joined.begin(), joined.end()), OutputName::MadeUp);
    }

private:
    std::string m_file;
    std::mutex m_namesMutex;
    std::set<std::string> m_names;
};

}  // namespace

extern const Verb BACKUP{
    "backup",
    "saves every parameter, with the firmware version, to a JSON file",
    false,
    Claims::TheController,
    UnderAll::EachController,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        command.footer(helpFooter({.controller = true, .claims = true, .all = true}));
        return std::make_unique<BackupCommand>(command);
    }};

}  // namespace ctl
