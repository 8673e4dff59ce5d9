// One status question to several controllers at once, each on a thread, channel and
// parameter table of its own, so that a controller that does not answer costs its own
// timeout and nobody else's. Unclaimed, as a status question is: harmless to whoever holds
// a controller.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "core/readings/Reading.h"
#include "core/session/Controller.h"
#include "device/HIDDescriptor.h"
#include "device/Wire.h"
#include "params/ParamTable.h"
#include "platform/HidPlatform.h"

namespace ctl {

struct StatusAnswer {
    Controller::Found found = Controller::Found::Unopened;
    Outcome outcome = Outcome::Timeout;           // of the question, when found is One
    StatusReport status;                          // when answered()
    ParamTable table;                             // with the factors of the answer's firmware
    std::chrono::system_clock::time_point taken;  // when it answered or gave up
    bool answered() const { return found == Controller::Found::One && outcome == Outcome::Ok; }
    // The answer as a reading of the controller at `location`, with its texts when answered().
    Reading reading(std::string location) const;
};

// The answers of `controllers`, in their order, each asked on its own thread within
// `options.timeout`; returns once every one has answered or given up.
std::vector<StatusAnswer> askStatusOfAll(platform::HidPlatform& platform,
                                         const std::vector<const HIDDescriptor*>& controllers,
                                         const Controller::Options& options);

}  // namespace ctl
