// station: programs every controller plugged in from one profile, until Ctrl-C (the station
// itself is services/station).
#include "services/station/Station.h"

#include <CLI/CLI.hpp>
#include <cstddef>
#include <memory>
#include <string>

#include "cli/commands/IgnoredSigpipe.h"
#include "cli/commands/Verb.h"
#include "cli/files/FileArguments.h"
#include "cli/help/HelpText.h"
#include "core/files/BackupFile.h"

namespace ctl {
namespace {

int commandStation(CommandContext& context, const StationOptions& options, bool logGiven) {
    if (!context.global.device.empty()) {
        return fail(context, EXIT_USAGE,
                    "the station programs every controller plugged in: it takes no --device");
    }
    if (logGiven && options.log.empty()) {
        // An unset $LOG: a station without its log would be a surprise.
        return fail(context, EXIT_USAGE,
                    "--log: an empty name; the station did not start (leave --log out to run "
                    "without a log)");
    }
    if (options.label == LABELS_FROM_INPUT && options.profile == "-") {
        return fail(context, EXIT_USAGE,
                    "--label -: the standard input gives the profile already; the station did "
                    "not start");
    }
    Backup profile;
    std::string content;
    if (!loadBackup(context, options.profile, profile, &content)) {
        return fail(context, EXIT_USAGE, "the station did not start; nothing was written");
    }
    const IgnoredSigpipe closedOutput;
    return runStation(context, options, profile, content);
}

class StationCommand final : public Command {
public:
    explicit StationCommand(CLI::App& command) {
        command.footer(helpFooter({.value = true, .controller = true, .claims = true}));
        command.add_option("PROFILE", m_options.profile, "the backup file every unit gets")
            ->required()
            ->option_text("FILE");
        m_log = command
                    .add_option("--log", m_options.log,
                                "append to FILE one JSON line at the start, one per unit (on "
                                "the disk before its PASS or FAIL shows) and one at the end")
                    ->option_text("FILE");
        command
            .add_option("--station-id", m_options.stationId,
                        "the station's name in each line of the log (default: the host's name)")
            ->option_text("ID");
        command
            .add_option("--label", m_options.label,
                        "LABEL into each unit's line of the log; - (a scanner): each unit, in "
                        "the order they arrive, waits for a line of the standard input, at most "
                        "200 bytes of text (else it fails, nothing written); the end of the "
                        "input ends the station once every line has had its unit")
            ->option_text("LABEL");
        command
            .add_option("--count", m_options.count,
                        "end once N units have ended (passed or failed); more are left alone")
            ->option_text("N")
            ->check(CLI::Range(std::size_t{1}, std::size_t{1000000}));
        command.add_flag("--convert", m_options.convert,
                         "for a profile of the other firmware family: write the nearest values; "
                         "without it every such unit fails, nothing written");
        command.add_flag("--include-attached", m_options.includeAttached,
                         "also program the controllers attached when the station starts");
        command.add_flag("--factory-reset-first", m_options.factoryResetFirst,
                         "reset each unit to its factory values before programming it");
    }

    int run(CommandContext& context) override {
        return commandStation(context, m_options, m_log->count() > 0);
    }

private:
    StationOptions m_options;
    CLI::Option* m_log = nullptr;
};

}  // namespace

// It takes every controller plugged in by itself: --all is what it does anyway.
extern const Verb STATION{
    "station",
    "programs every controller plugged in from PROFILE and verifies it, one PASS or FAIL line "
    "a unit, until Ctrl-C; exit status 0 when the last unit on every port passed",
    false,
    Claims::TheController,
    UnderAll::ItsOwnWay,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        return std::make_unique<StationCommand>(command);
    }};

}  // namespace ctl
