#include "cli/session/BackupPlan.h"

#include <ostream>
#include <utility>

namespace ctl {

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

}  // namespace ctl
