// get and set: parameters read, and one written and read back; for the command line and for
// the MQTT publisher, which runs them with streams of its own and publishes what they say.
#pragma once

#include <string>
#include <vector>

#include "core/context/Context.h"

namespace ctl {

// Reads the named parameters, or (all) every parameter but the factory reset action.
int commandGet(CommandContext& context, const std::vector<std::string>& params, bool all,
               bool json);
// Writes one parameter, reads it back and says whether the controller holds it.
int commandSet(CommandContext& context, const std::string& param, const std::string& value);

}  // namespace ctl
