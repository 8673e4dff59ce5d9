// The status of every attached controller in the Prometheus text exposition format 0.0.4,
// for node_exporter's textfile collector (Linux) or windows_exporter's (Windows).
#pragma once

#include <string>
#include <vector>

#include "core/context/Context.h"
#include "core/readings/Reading.h"

namespace ctl {

// The exposition: ostrel_controllers (how many were found), and per reading ostrel_up and,
// for an answered one only, its figures: the firmware, the status fields of STATUS_FIELDS by
// their families in the table's order, the mode, and each bit of the flag registers. Every
// family has its HELP and TYPE lines; every series but ostrel_controllers carries the
// location; no timestamps.
std::string formatMetrics(const std::vector<Reading>& readings);

// The controllers --device names (one), or by default every controller the search finds,
// none included; each opened on a channel of its own and asked for one status within the
// context's timeout, a reading each. EXIT_OK, or the exit code of a --device that names no
// controller, after saying why.
int gatherReadings(CommandContext& context, std::vector<Reading>& readings);

}  // namespace ctl
