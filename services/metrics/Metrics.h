// The status of every attached controller in the Prometheus text exposition format 0.0.4,
// for node_exporter's textfile collector (Linux) or windows_exporter's (Windows).
#pragma once

#include <string>
#include <vector>

#include "core/context/Context.h"
#include "core/texts/StatusText.h"
#include "device/Wire.h"

namespace ctl {

// One controller found by the search, and what it answered.
struct Reading {
    std::string location;   // where it is plugged (its device path when that is unknown)
    bool answered = false;  // false: found, but no status came; nothing else of it is told
    StatusReport status;    // the answer
    StatusView texts;       // the status texts of the answer, with the firmware's factors
};

// The exposition: ostrel_controllers (how many were found), and per reading ostrel_up and,
// for an answered one only, its figures: the firmware, the status fields of STATUS_FIELDS by
// their families in the table's order, the mode, and each bit of the flag registers. Every
// family has its HELP and TYPE lines; every series but ostrel_controllers carries the
// location; no timestamps.
std::string formatMetrics(const std::vector<Reading>& readings);

// The controllers --device names (one), or by default every controller the search finds,
// none included; each opened on a channel of its own and asked for one status within the
// context's timeout. EXIT_OK, or the exit code of a --device that names no controller, after
// saying why.
int gatherReadings(CommandContext& context, std::vector<Reading>& readings);

}  // namespace ctl
