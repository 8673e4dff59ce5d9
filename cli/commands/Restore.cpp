// restore: a backup's values that differ from the controller's, written and read back; the
// whole file is checked first, and nothing is written when any entry is refused.
#include <CLI/CLI.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands/OptionChecks.h"
#include "cli/commands/Verb.h"
#include "cli/files/FileArguments.h"
#include "cli/help/HelpText.h"
#include "core/files/BackupFile.h"
#include "core/names/ParamNames.h"
#include "core/session/BackupPlan.h"
#include "core/session/Session.h"
#include "params/StrictValue.h"

namespace ctl {
namespace {

// The restore's summary, and how to finish one that stopped part way.
void printSummary(std::ostream& out, std::size_t unchanged,
                  const std::vector<std::string>& verified, const std::vector<std::string>& failed,
                  const std::vector<std::string>& notWritten, bool stopped) {
    out << "Restore: " << unchanged << " unchanged, " << verified.size()
        << " written and verified, " << failed.size() << " failed";
    if (!notWritten.empty()) {
        out << ", " << notWritten.size() << " not written";
    }
    out << '\n';
    printLists(out, "restore", stopped ? verified : std::vector<std::string>{}, failed, notWritten);
}

int commandRestore(CommandContext& context, const std::string& file,
                   const RestoreOptions& options) {
    Backup backup;
    if (!loadBackup(context, file, backup)) {
        context.console.err << "ostrelctl: nothing was written\n";
        return EXIT_USAGE;
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        context.console.err << "ostrelctl: nothing was written\n";
        return code;
    }
    Restored result;
    int code = writeBackup(context, session, backup, options, result);
    if (code != EXIT_OK && result.stoppedAt.empty()) {
        return code;  // refused before the first write
    }
    std::ostream& out = context.console.out;
    if (options.dryRun) {
        out << "Dry run: " << result.unchanged << " unchanged, " << result.notWritten.size()
            << " would be written; nothing was written\n";
        return EXIT_OK;
    }
    // Ctrl-C between two writes, or during the last one: the user asked to stop.
    if (code == EXIT_OK && (result.interrupted || context.interrupted.load())) {
        code = EXIT_INTERRUPTED;
    }
    printSummary(out, result.unchanged, result.verified, result.failed, result.notWritten,
                 code != EXIT_OK);
    if (context.tally != nullptr) {
        context.tally->counted = true;
        context.tally->written = static_cast<int>(result.verified.size() + result.failed.size());
        context.tally->verified = static_cast<int>(result.verified.size());
        context.tally->failed = static_cast<int>(result.failed.size() + result.notWritten.size());
    }
    if ((code == EXIT_OK || code == EXIT_INTERRUPTED) && !result.failed.empty()) {
        return fail(context, EXIT_TIMEOUT,
                    std::to_string(result.failed.size()) + " written values did not read back");
    }
    return code == EXIT_INTERRUPTED ? interruptedAfterWriting(context) : code;
}

class RestoreCommand final : public Command {
public:
    explicit RestoreCommand(CLI::App& command) {
        command.add_option("FILE", m_file, "the backup file (- or a pipe for standard input)")
            ->required()
            ->check(notEmpty("file name"));
        m_options.stopOnInterrupt = true;
        command.add_flag("--dry-run", m_options.dryRun, "say what would be written; write nothing");
        command.add_flag(
            "--convert", m_options.convert,
            "for a file from the other firmware family (1.x and 2.x measure voltages "
            "differently): write the nearest values this controller can hold; without it such a "
            "restore lists every value that cannot be held exactly and writes nothing");
    }

    int run(CommandContext& context) override { return commandRestore(context, m_file, m_options); }
    // The file is read and checked once, before any controller is opened.
    int beforeAll(CommandContext& context, std::string& input) override {
        return readBackupText(context, m_file, input) ? EXIT_OK : EXIT_USAGE;
    }
    int runOnEach(CommandContext& own) override { return commandRestore(own, "-", m_options); }

private:
    std::string m_file;
    RestoreOptions m_options;
};

}  // namespace

extern const Verb RESTORE{
    "restore",
    "writes a backup's values that differ from the controller's, and checks them; the "
    "whole file is checked first, and nothing is written when any entry is refused",
    false,
    Claims::TheController,
    UnderAll::EachController,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        command.footer(
            helpFooter({.value = true, .controller = true, .claims = true, .all = true}));
        return std::make_unique<RestoreCommand>(command);
    }};

}  // namespace ctl
