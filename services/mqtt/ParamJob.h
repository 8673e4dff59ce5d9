// The jobs the parameters' and the profiles' decisions hand to the owner's worker, and what
// came of them.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "services/station/StationLines.h"

namespace ctl::mqtt {

struct ParamJob {
    enum class Kind { Read, Write, FactoryReset, Profile };
    Kind kind = Kind::Read;
    std::string location;
    std::string name;      // Write: the parameter's short name
    std::string value;     // Write: the payload, as set takes its VALUE; Profile: the profile
    std::string topic;     // Write, FactoryReset: the set topic it came from; Profile: its topic
    bool convert = false;  // Profile: across firmware families, the nearest values
};

struct ParamDone {
    ParamJob job;
    int code = 0;        // the exit status get or set ended with
    std::string said;    // the error stream's first line, as the command line says it
    std::string values;  // get --json's array of what was read (after a write, that one)
    std::optional<UnitResult> unit{};  // Profile: what came of it
    std::string time{};                // Profile: when it ended (UTC, milliseconds)
};

// What the parameters' and the profiles' decisions call on: the journal, a publication (its
// token, none when it could not be sent) and a job for the owner's worker.
struct ParamCalls {
    std::function<void(const std::string& line)> say;
    std::function<std::optional<int>(const std::string& topic, const std::string& payload,
                                     bool retained)>
        publish;
    std::function<void(ParamJob job)> run;
};

}  // namespace ctl::mqtt
