// The programming station: every controller plugged in is programmed from one profile and
// verified, one PASS or FAIL line a unit and one line of its log, until Ctrl-C, a closed
// output or --count.
#pragma once

#include <cstddef>
#include <string>

#include "core/context/Context.h"
#include "core/files/BackupFile.h"

namespace ctl {

// --label's value that takes each unit's label from a line of the console's input.
inline constexpr const char* LABELS_FROM_INPUT = "-";

struct StationOptions {
    std::string profile;    // the profile's path, as the start line names it
    std::string log;        // empty: no log
    std::string stationId;  // empty: the host's name
    std::string label;      // into each unit's line of the log; LABELS_FROM_INPUT: a line each
    std::size_t count = 0;  // stop once so many units have ended; 0: no limit
    bool convert = false;
    bool includeAttached = false;
    bool factoryResetFirst = false;
};

// Runs until context.interrupted, a closed output or `options.count` units on `profile`,
// read from `content` (its digest goes into the log). Returns EXIT_OK when the last unit of
// every port passed, else the worst of those last units' exit statuses; EXIT_USAGE when the
// log could not be written.
int runStation(CommandContext& context, const StationOptions& options, const Backup& profile,
               const std::string& content);

}  // namespace ctl
