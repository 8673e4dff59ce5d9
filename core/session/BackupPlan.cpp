#include "core/session/BackupPlan.h"

#include <ostream>
#include <utility>

#include "core/names/ParamNames.h"
#include "params/StrictValue.h"

namespace ctl {
namespace {

// Across firmware families: every value this controller cannot hold exactly, with both
// values. Without --convert that refuses the whole restore.
int checkConversions(CommandContext& context, Session& session, const Backup& backup,
                     const std::vector<Planned>& plan, bool convert,
                     std::vector<std::string>& inexact) {
    for (const Planned& item : plan) {
        if (item.value.exact) {
            continue;
        }
        const ParamDef& row = session.table().row(item.row);
        inexact.push_back(utf8(row.name));
        const std::string line = utf8(row.name) + ": file " + withUnit(row, item.value.fileText) +
                                 ", nearest on this controller " +
                                 valueText(row, item.value.wanted);
        if (convert) {
            context.console.out << "converted " << line << '\n';
        } else {
            say(context, line);
        }
    }
    if (inexact.empty() || convert) {
        return EXIT_OK;
    }
    return fail(context, EXIT_USAGE,
                std::to_string(inexact.size()) + " values of firmware " +
                    std::to_string(backup.firmwareMajor) + "." +
                    std::to_string(backup.firmwareMinor) +
                    " cannot be held exactly by this controller (firmware " +
                    firmwareText(session.status()) +
                    "); nothing was written; --convert writes the nearest values");
}

}  // namespace

int planEntries(CommandContext& context, Session& session, const Backup& backup,
                std::vector<Planned>& plan) {
    const ParamTable file = backupTable(backup);
    bool refused = false;
    for (const BackupEntry& entry : backup.entries) {
        PlannedValue value = planValue(file, session.table(), entry);
        if (!value.taken) {
            fail(context, EXIT_USAGE, value.message);
            refused = true;
        }
        plan.push_back({entry.row, std::move(value), {}});
    }
    if (refused) {
        return EXIT_USAGE;
    }
    for (Planned& item : plan) {
        if (const int code = session.read(item.row, item.current); code != EXIT_OK) {
            return code;
        }
    }
    return EXIT_OK;
}

void warnFirmware(CommandContext& context, const Backup& backup, const StatusReport& status) {
    if (backup.firmwareMajor == status.major()) {
        return;
    }
    context.console.err << "ostrelctl: warning: the file comes from firmware "
                        << backup.firmwareMajor << "." << backup.firmwareMinor
                        << " and the controller runs " << firmwareText(status)
                        << "; values are converted where the two measure them differently\n";
}

int writeBackup(CommandContext& context, Session& session, const Backup& backup,
                const RestoreOptions& options, Restored& result) {
    warnFirmware(context, backup, session.status());
    std::vector<Planned> plan;
    if (const int code = planEntries(context, session, backup, plan); code != EXIT_OK) {
        context.console.err << "ostrelctl: nothing was written\n";
        return code;
    }
    if (const int code =
            checkConversions(context, session, backup, plan, options.convert, result.cannotHold);
        code != EXIT_OK) {
        return code;
    }

    std::ostream& out = context.console.out;
    int code = EXIT_OK;
    for (const Planned& item : plan) {
        const ParamDef& row = session.table().row(item.row);
        const std::string name = utf8(row.name);
        if (!item.value.message.empty()) {
            out << name << ": " << item.value.message << '\n';
        }
        if (holds(row, item.current, item.value.wanted)) {
            ++result.unchanged;
            continue;
        }
        if (options.dryRun) {
            out << "would write " << name << ": " << currentText(row, item.current) << " -> "
                << valueText(row, item.value.wanted) << '\n';
            result.notWritten.push_back(name);
            continue;
        }
        if (!result.interrupted && options.stopOnInterrupt && context.interrupted.load()) {
            result.interrupted = true;
        }
        if (code != EXIT_OK || result.interrupted) {
            result.notWritten.push_back(name);
            continue;
        }
        code = session.check(session.controller().write(row, item.value.wanted),
                             "the write of \"" + name + "\"");
        if (code != EXIT_OK) {
            result.stoppedAt = name;
            result.notWritten.push_back(name);
            continue;
        }
        ParamReport readBack;
        code = session.readBack(item.row, item.value.wanted, readBack);
        if (code != EXIT_OK) {
            result.stoppedAt = name;
            result.failed.push_back(name + " (written, not read back)");
            continue;
        }
        if (holds(row, readBack, item.value.wanted)) {
            // On record at once: a second Ctrl-C ends the program without the summary.
            out << "written " << name << ": " << currentText(row, item.current) << " -> "
                << currentText(row, readBack) << std::endl;
            result.verified.push_back(name);
        } else {
            result.failed.push_back(name + " (holds " + currentText(row, readBack) + ", not " +
                                    valueText(row, item.value.wanted) + ")");
        }
    }
    return code;
}

}  // namespace ctl
