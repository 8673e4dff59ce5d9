// --all: one command on every attached controller at once.
#pragma once

#include <functional>
#include <string>

#include "core/context/Context.h"

namespace ctl {

// How --all puts the controllers' outputs together: each under a heading of its location;
// one JSON array of objects keyed by location; one CSV table with the location first.
enum class AllOutput { Grouped, Json, Csv };

// Runs `command` on every attached controller at once, each on its own thread, channel and
// table with the controller as context.target and its output kept apart; prints their
// outputs as `output` says, in location order, then the summary table (on stderr unless
// Grouped, so that standard output stays one document). Returns worstExit() of their exit
// codes. `input`: what "-" reads for each of them (a backup file read once beforehand).
int runOnAll(CommandContext& context, AllOutput output, const std::string& input,
             const std::function<int(CommandContext&)>& command);

}  // namespace ctl
