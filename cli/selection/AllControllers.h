// --all: one command on every attached controller at once.
#pragma once

#include <functional>
#include <string>

#include "cli/context/Context.h"

namespace ctl {

// Runs `command` on every attached controller at once, each on its own thread, channel and
// table with the controller as context.target and its output kept apart; prints each one's
// output grouped under its location, in location order (an array of objects keyed by
// location when `json`), then the summary table. Returns worstExit() of their exit codes.
// `input`: what "-" reads for each of them (a backup file read once beforehand).
int runOnAll(CommandContext& context, bool json, const std::string& input,
             const std::function<int(CommandContext&)>& command);

}  // namespace ctl
