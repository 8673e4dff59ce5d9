// A backup file against the controller of a session, as restore and diff both meet it: every
// entry planned with the controller's factors beside what the controller holds now.
#pragma once

#include <vector>

#include "cli/context/Context.h"
#include "cli/files/BackupFile.h"
#include "cli/session/Session.h"

namespace ctl {

// One entry of a restore or diff: the file's value planned for this controller, and what the
// controller holds now.
struct Planned {
    int row;
    PlannedValue value;
    ParamReport current;
};

// Plans every entry with the controller's factors and reads what it holds now. A text this
// controller cannot take is refused here, before anything is written.
int planEntries(CommandContext& context, Session& session, const Backup& backup,
                std::vector<Planned>& plan);

// Warns when the file comes from another firmware family than the controller runs.
void warnFirmware(CommandContext& context, const Backup& backup, const StatusReport& status);

}  // namespace ctl
