// How a parameter is named on the command line and in backup files: its name as the list
// shows it (letter case ignored), its address ("0x03"), or its short name, derived from the
// name ("delay-before-psu-startup").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "params/Cp1252.h"
#include "params/ParamTable.h"

namespace ctl {

// Lower-case letters and digits of the name, every other run of characters one '-'.
std::string shortName(std::string_view name);

struct ParamMatch {
    int row = -1;                 // the offered row, or -1
    std::vector<int> candidates;  // when row is -1: close matches, best first
    bool ambiguous = false;       // several rows match the query equally
};

// An offered row by exact name, address or short name; failing that, the one offered row
// whose short name contains the query's, or whose words the query's words begin in order
// ("min-temp" for "minimum-temperature"). `query` is Windows-1252.
ParamMatch resolveParam(const ParamTable& table, std::string_view query);

// Only exact names, addresses and short names: what a backup file must use.
int resolveParamExactly(const ParamTable& table, std::string_view query);

// A Windows-1252 text of the table (a name, a unit, a description) as UTF-8, as every text
// leaves ostrelctl.
std::string utf8(const char* cp1252Text);

// Edits that make one text the other (insert, delete or change a character): how near a
// mistyped name or command is.
std::size_t editDistance(std::string_view a, std::string_view b);

// Names in a message: "A, B, C".
std::string joinNames(const std::vector<std::string>& names);

// A Windows-1252 text in double quotes, as UTF-8: how messages name a parameter.
using cp1252::quotedUtf8;

// "unknown parameter "x"; close matches: a, b" or "... matches several parameters: ...".
std::string describeMismatch(const ParamTable& table, std::string_view query,
                             const ParamMatch& match);

}  // namespace ctl
