// A trace: the measurements of a simulated controller over time, replayed in a loop, so that
// a program that reads controllers for hours (the MQTT publisher, the metrics) meets the
// readings of a parked vehicle or a driving one rather than numbers that never move.
//
// Written as text, one line a moment:
//
//     # comments and blank lines are left out; a comment has a line of its own
//     0     input=112 ignition=0 temperature=25
//     2.5   input=113
//     4     input=112 temperature=26
//     6
//
// Each line is SECONDS after the start (as in plug plans: digits, at most three decimals),
// then FIELD=VALUE words: the measurement's raw count as the status report carries it, a
// whole number in decimal within its byte (0 to 255; temperature and state -128 to 127).
// The first line is at 0 seconds, every line later than the one before, and the last line
// holds its time alone: the trace's length. At that time the trace starts again from its
// first line, and so on for ever. A value holds until a line changes it, across the loop
// too; a measurement the trace never names keeps the controller's own value.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/OstrelFirmware.h"

namespace sim {

// The measurements a trace can set, in the order of a status report.
enum class TraceField : std::uint8_t {
    Input,
    Ignition,
    Rail3,
    Rail5,
    Rail12,
    Temperature,
    State,
    Mode,
    VoltageFlags,
    StatusFlags1,
    TimerFlags,
    StatusFlags2,
    InputFlags,
    OutputFlags,
};
inline constexpr std::size_t TRACE_FIELD_COUNT = 14;

// The name a trace writes a field with: "input", "rail12", "voltage-flags".
std::string_view traceFieldName(TraceField field);
// Every field's name, in order, separated by ", ".
std::string traceFieldNames();

// The largest trace text read (its lines at most, with comments), and the longest trace.
inline constexpr std::size_t TRACE_MAX_BYTES = 1024 * 1024;
inline constexpr std::chrono::milliseconds TRACE_MAX_LENGTH = std::chrono::hours(24);

// One line: the fields it sets (bit 1 << field) and their values.
struct TraceStep {
    std::chrono::milliseconds at{0};
    std::uint16_t fields = 0;
    std::array<std::int16_t, TRACE_FIELD_COUNT> values{};

    bool sets(TraceField field) const;
    std::int16_t value(TraceField field) const;
    void set(TraceField field, int value);
    bool operator==(const TraceStep&) const = default;
};

struct Trace {
    std::vector<TraceStep> steps;         // the first at 0, in time order, each setting something
    std::chrono::milliseconds length{0};  // later than the last step: where the loop starts over
};

// `measurements` with the fields `step` sets taken from it.
Measurements applyStep(const TraceStep& step, Measurements measurements);
// The raw count a field has in `measurements`.
int fieldValue(const Measurements& measurements, TraceField field);

// The trace `text` holds, or nothing with `error` saying which line is wrong and why
// ("line 4: ..."): a text beyond TRACE_MAX_BYTES, a line that is not SECONDS FIELD=VALUE ...,
// a time that is not plain decimal seconds up to a day or not later than the line before, a
// first line not at 0, an unknown field, a field named twice on a line, a value that is not
// a whole number within the field's byte, a comment after values, a line of a time alone
// before the last, a last line with values, no lines at all.
std::optional<Trace> parseTrace(std::string_view text, std::string& error);

// The names of the built-in traces, "parked" and "driving".
inline constexpr std::array<std::string_view, 2> BUILTIN_TRACES{"parked", "driving"};

// A built-in trace by name, in the counts of firmware `version` (major in the high nibble:
// the volts per count differ between 1.x and 2.x); nothing for another name. Made the same
// on every run (a fixed seed):
// - parked: engine off (ignition 0 V), the battery at rest at 12.6 V, the rails at 3.3, 5
//   and 12 V and 25 degrees, each of them a count up or down, or back, at random every two
//   to six seconds; ten minutes long.
// - driving: engine on, the battery charged at 14.2 V with the alternator's ripple of up
//   to two counts each second (ignition at 14.0 V, up to one count), the rails steady, the
//   temperature rising from 25 to 45 degrees over the first half hour and steady the
//   second; an hour long, then it starts again cold.
std::optional<Trace> builtinTrace(std::string_view name, std::uint8_t version);

}  // namespace sim
