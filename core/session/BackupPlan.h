// A backup file against the controller of a session, as restore and diff both meet it: every
// entry planned with the controller's factors beside what the controller holds now.
#pragma once

#include <string>
#include <vector>

#include "core/context/Context.h"
#include "core/files/BackupFile.h"
#include "core/session/Session.h"

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

struct RestoreOptions {
    bool dryRun = false;
    bool convert = false;          // across firmware families: write the nearest values
    bool stopOnInterrupt = false;  // Ctrl-C stops between two writes
};

// What writing a backup to a controller came to.
struct Restored {
    std::size_t unchanged = 0;
    std::vector<std::string> verified;    // written and read back
    std::vector<std::string> failed;      // written and not read back as written, with why
    std::vector<std::string> notWritten;  // dry run, or after a failure or Ctrl-C
    // Across firmware families: what this controller cannot hold exactly; without
    // --convert nothing was written.
    std::vector<std::string> cannotHold;
    std::string stoppedAt;     // the parameter whose write or read back failed
    bool interrupted = false;  // Ctrl-C stopped it between two writes
};

// Writes the backup's values that differ from the session's controller, each read back;
// says each write on the output. Refuses everything before the first write when an entry is
// refused, or when a value cannot be held exactly without --convert. EXIT_OK, or the exit
// code after saying why; a value that did not read back is in `result.failed` only.
int writeBackup(CommandContext& context, Session& session, const Backup& backup,
                const RestoreOptions& options, Restored& result);

}  // namespace ctl
