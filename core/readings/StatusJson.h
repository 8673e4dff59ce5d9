// The status of a controller as `status --json` and every other reader of the same figures
// (the MQTT state) give it: the fields of STATUS_FIELDS under their keys, one builder.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "core/context/Context.h"
#include "core/readings/Reading.h"
#include "core/session/Session.h"
#include "device/Wire.h"

namespace ctl {

struct StatusJsonParts {
    std::string time;   // "time" when not empty
    bool texts = true;  // the caption and every field's text beside its number (KEYText)
};

// caption, firmware, mode, time, then each field as a number under its key (and with
// `texts` its text under KEYText): the volts as the text shows them, the others the
// report's byte.
nlohmann::ordered_json statusJson(const StatusReport& status, const StatusTexts& texts,
                                  const StatusJsonParts& parts);
// As `status --json` prints it: stamped with the time now, or not.
nlohmann::ordered_json statusJson(const StatusReport& status, const StatusTexts& texts,
                                  bool stamped);

}  // namespace ctl
