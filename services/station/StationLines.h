// What the station says of a unit: its line of the log (JSON, whole facts) and its line at
// the bench (short, padded, escaped, cut to the terminal), and the log's start and end lines.
#pragma once

#include <cstddef>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/context/Context.h"
#include "device/Wire.h"

namespace ctl {

// What became of one unit.
struct UnitResult {
    int code = EXIT_OK;    // the exit status restore would have given it
    std::string firmware;  // empty: it never answered
    std::size_t written = 0;
    std::size_t verified = 0;
    // The parameters it does not hold, each with why, in the profile's order.
    std::vector<std::pair<std::string, std::string>> failed;
    std::string reason;          // empty when it passed
    std::string readbackSha256;  // empty: the verify did not read every value back
    double seconds = 0;
    bool passed() const { return reason.empty(); }
};

// What every line of one run of the station carries.
struct StationHeader {
    std::string station;  // --station-id, or the host's name
    std::string host;
    std::string profile;  // the profile's path as given
    std::string profileSha256;
};

// This machine's name; "unknown" when it has none to give.
std::string hostName();

// The SHA-256 of the values the verify read back, as lowercase hex: for each parameter in
// the profile's order its address byte, then its value bytes as the controller sent them
// (one, or two high byte first).
std::string readbackDigest(const std::vector<std::pair<int, ParamReport>>& sizedValues);

// The first fields of every line: seq, time (UTC, milliseconds), event, station, host,
// profile, profileSha256.
nlohmann::ordered_json lineHead(std::size_t seq, const char* event, const StationHeader& header);

// One unit's line of the log after its head; `serial` empty: null, the unit gives none;
// `label` none: null, its label never came.
void unitFields(nlohmann::ordered_json& line, const std::string& location,
                const std::string& serial, int productId, const std::optional<std::string>& label,
                const UnitResult& result);

// What came of a unit, its part of the line: result (PASS or FAIL), written,
// verified, failed, failedParameters, failedReasons, reason, seconds, readbackSha256.
void resultFields(nlohmann::ordered_json& line, const UnitResult& result);

// The count at the end: units by result, and the last result of each port.
std::string countText(std::size_t passed, std::size_t failed,
                      const std::map<std::string, int>& lastOfPort);

// A unit's line at the bench: the location padded to `pad` columns, the word (coloured when
// `colour`), the text escaped and cut so that the whole fits `width` columns (0: no limit);
// `tail` is never cut.
std::string benchLine(const std::string& location, std::size_t pad, const char* word,
                      const char* colour, const std::string& text, const std::string& tail,
                      int width);

// Any other line at the bench (the start line): escaped and cut to `width` columns (0: no
// limit); the whole of it is in the log.
std::string fitLine(const std::string& text, int width);

}  // namespace ctl
