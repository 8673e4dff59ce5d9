// One controller programmed from a profile, as the station programs each unit: written as
// restore writes (only what differs, each write read back), then every parameter of the
// profile read back once more and compared with it. The station and the MQTT publisher's
// fleet profiles both program this way.
#pragma once

#include <atomic>
#include <functional>
#include <sstream>
#include <string>

#include "core/context/Context.h"
#include "core/files/BackupFile.h"
#include "services/station/StationLines.h"

namespace ctl {

struct ProgramOptions {
    bool convert = false;            // across firmware families: the nearest values
    bool factoryResetFirst = false;  // a factory reset before the profile
    // What asks for `convert`, in the reason of a unit that could not hold a value exactly.
    std::string convertOption = "--convert";
};

// Programs the controller `own` selects from `profile`; `err` is own's error stream, whose
// first failure is a failed unit's reason. `stopping` is the context's
// interruption as the caller sets it; `stoppedBy` says what set it ("Ctrl-C"), for a unit
// stopped part way.
UnitResult programUnit(CommandContext& own, const std::ostringstream& err, const Backup& profile,
                       const ProgramOptions& options, const std::atomic<bool>& stopping,
                       const std::function<std::string()>& stoppedBy);

}  // namespace ctl
