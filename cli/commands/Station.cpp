// station: programs every controller plugged in from one profile, until Ctrl-C (the station
// itself is services/station).
#include "services/station/Station.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "cli/commands/Verb.h"
#include "cli/files/FileArguments.h"
#include "cli/help/HelpText.h"
#include "core/files/BackupFile.h"

namespace ctl {
namespace {

int commandStation(CommandContext& context, const StationOptions& options) {
    if (!context.global.device.empty()) {
        return fail(context, EXIT_USAGE,
                    "the station programs every controller plugged in: it takes no --device");
    }
    Backup profile;
    std::string content;
    if (!loadBackup(context, options.profile, profile, &content)) {
        return fail(context, EXIT_USAGE, "the station did not start; nothing was written");
    }
    return runStation(context, options, profile, content);
}

class StationCommand final : public Command {
public:
    explicit StationCommand(CLI::App& command) {
        command.footer(helpFooter({.value = true, .controller = true, .claims = true}));
        command.add_option("PROFILE", m_options.profile, "the backup file every unit gets")
            ->required()
            ->option_text("FILE");
        command
            .add_option("--log", m_options.log,
                        "append one JSON line per unit to FILE, on the disk before the unit's "
                        "PASS or FAIL shows")
            ->option_text("FILE");
        command.add_flag("--convert", m_options.convert,
                         "for a profile of the other firmware family: write the nearest values; "
                         "without it every such unit fails, nothing written");
        command.add_flag("--include-attached", m_options.includeAttached,
                         "also program the controllers attached when the station starts");
        command.add_flag("--factory-reset-first", m_options.factoryResetFirst,
                         "reset each unit to its factory values before programming it");
    }

    int run(CommandContext& context) override { return commandStation(context, m_options); }

private:
    StationOptions m_options;
};

}  // namespace

// It takes every controller plugged in by itself: --all is what it does anyway.
extern const Verb STATION{
    "station",
    "programs every controller plugged in from PROFILE and verifies it, one PASS or FAIL line "
    "a unit, until Ctrl-C",
    false,
    Claims::TheController,
    UnderAll::ItsOwnWay,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        return std::make_unique<StationCommand>(command);
    }};

}  // namespace ctl
