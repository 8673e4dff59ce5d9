// restore: a backup's values that differ from the controller's, written and read back; the
// whole file is checked first, and nothing is written when any entry is refused.
#include <CLI/CLI.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "app/StrictValue.h"
#include "cli/commands/OptionChecks.h"
#include "cli/commands/Verb.h"
#include "cli/files/BackupFile.h"
#include "cli/files/FileArguments.h"
#include "cli/names/ParamNames.h"
#include "cli/session/BackupPlan.h"
#include "cli/session/Session.h"

namespace ctl {
namespace {

struct RestoreOptions {
    bool dryRun = false;
    bool convert = false;  // across firmware families: write the nearest values
};

// Across firmware families: every value this controller cannot hold exactly, with both
// values. Without --convert that refuses the whole restore.
int checkConversions(CommandContext& context, Session& session, const Backup& backup,
                     const std::vector<Planned>& plan, bool convert) {
    std::size_t inexact = 0;
    for (const Planned& item : plan) {
        if (item.value.exact) {
            continue;
        }
        ++inexact;
        const ParamDef& row = session.table().row(item.row);
        const std::string line = utf8(row.name) + ": file " + withUnit(row, item.value.fileText) +
                                 ", nearest on this controller " +
                                 valueText(row, item.value.wanted);
        if (convert) {
            context.console.out << "converted " << line << '\n';
        } else {
            say(context, line);
        }
    }
    if (inexact == 0 || convert) {
        return EXIT_OK;
    }
    return fail(context, EXIT_USAGE,
                std::to_string(inexact) + " values of firmware " +
                    std::to_string(backup.firmwareMajor) + "." +
                    std::to_string(backup.firmwareMinor) +
                    " cannot be held exactly by this controller (firmware " +
                    firmwareText(session.status()) +
                    "); nothing was written; --convert writes the nearest values");
}

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
    warnFirmware(context, backup, session.status());
    std::vector<Planned> plan;
    if (const int code = planEntries(context, session, backup, plan); code != EXIT_OK) {
        context.console.err << "ostrelctl: nothing was written\n";
        return code;
    }
    if (const int code = checkConversions(context, session, backup, plan, options.convert);
        code != EXIT_OK) {
        return code;
    }

    std::ostream& out = context.console.out;
    std::size_t unchanged = 0;
    std::vector<std::string> verified;
    std::vector<std::string> failed;
    std::vector<std::string> notWritten;
    int code = EXIT_OK;
    for (const Planned& item : plan) {
        const ParamDef& row = session.table().row(item.row);
        const std::string name = utf8(row.name);
        if (!item.value.message.empty()) {
            out << name << ": " << item.value.message << '\n';
        }
        if (holds(row, item.current, item.value.wanted)) {
            ++unchanged;
            continue;
        }
        if (options.dryRun) {
            out << "would write " << name << ": " << currentText(row, item.current) << " -> "
                << valueText(row, item.value.wanted) << '\n';
            notWritten.push_back(name);
            continue;
        }
        if (code == EXIT_OK && context.interrupted.load()) {
            code = EXIT_INTERRUPTED;
        }
        if (code != EXIT_OK) {
            notWritten.push_back(name);
            continue;
        }
        code = session.check(session.controller().write(row, item.value.wanted),
                             "the write of \"" + name + "\"");
        if (code != EXIT_OK) {
            notWritten.push_back(name);
            continue;
        }
        ParamReport readBack;
        code = session.readBack(item.row, item.value.wanted, readBack);
        if (code != EXIT_OK) {
            failed.push_back(name + " (written, not read back)");
            continue;
        }
        if (holds(row, readBack, item.value.wanted)) {
            // On record at once: a second Ctrl-C ends the program without the summary.
            out << "written " << name << ": " << currentText(row, item.current) << " -> "
                << currentText(row, readBack) << std::endl;
            verified.push_back(name);
        } else {
            failed.push_back(name + " (holds " + currentText(row, readBack) + ", not " +
                             valueText(row, item.value.wanted) + ")");
        }
    }

    if (options.dryRun) {
        out << "Dry run: " << unchanged << " unchanged, " << notWritten.size()
            << " would be written; nothing was written\n";
        return EXIT_OK;
    }
    // Ctrl-C during the last write counts too: the user asked to stop.
    if (code == EXIT_OK && context.interrupted.load()) {
        code = EXIT_INTERRUPTED;
    }
    printSummary(out, unchanged, verified, failed, notWritten, code != EXIT_OK);
    if (context.tally != nullptr) {
        context.tally->written = static_cast<int>(verified.size() + failed.size());
        context.tally->verified = static_cast<int>(verified.size());
        context.tally->failed = static_cast<int>(failed.size() + notWritten.size());
    }
    if ((code == EXIT_OK || code == EXIT_INTERRUPTED) && !failed.empty()) {
        return fail(context, EXIT_TIMEOUT,
                    std::to_string(failed.size()) + " written values did not read back");
    }
    return code == EXIT_INTERRUPTED ? interruptedAfterWriting(context) : code;
}

class RestoreCommand final : public Command {
public:
    explicit RestoreCommand(CLI::App& command) {
        command.add_option("FILE", m_file, "the backup file (- or a pipe for standard input)")
            ->required()
            ->check(notEmpty("file name"));
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
        return std::make_unique<RestoreCommand>(command);
    }};

}  // namespace ctl
