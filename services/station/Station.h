// The programming station: every controller plugged in is programmed from one profile and
// verified, one PASS or FAIL line a unit, until Ctrl-C.
#pragma once

#include <string>

#include "core/context/Context.h"
#include "core/files/BackupFile.h"

namespace ctl {

struct StationOptions {
    std::string profile;  // the profile's path, as the start line names it
    std::string log;      // empty: no log
    bool convert = false;
    bool includeAttached = false;
    bool factoryResetFirst = false;
};

// Runs until context.interrupted on `profile`, read from `content` (its digest goes into the
// log). Returns the exit status of the worst unit, as restore would have ended on it.
int runStation(CommandContext& context, const StationOptions& options, const Backup& profile,
               const std::string& content);

}  // namespace ctl
