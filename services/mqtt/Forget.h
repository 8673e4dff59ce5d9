// What `ostrelctl mqtt --forget LOCATION` does: empties every retained topic this client has
// or may have had of one controller, so that Home Assistant removes its device for good.
#pragma once

#include <optional>
#include <string>

#include "core/context/Context.h"
#include "services/mqtt/MqttClient.h"
#include "services/mqtt/MqttConfig.h"

namespace ctl::mqtt {

// EXIT_OK once the broker acknowledged each, after saying so on the output; EXIT_TIMEOUT
// when it could not be reached or did not acknowledge them, EXIT_USAGE for a location that
// is none; each after one line.
int forgetController(CommandContext& context, const MqttConfig& config,
                     std::optional<std::string> password, const std::string& location,
                     const ClientFactory& make);

}  // namespace ctl::mqtt
