#include "sim/Trace.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <type_traits>
#include <utility>

#include "params/ParamTable.h"
#include "sim/Seconds.h"

namespace sim {
namespace {

struct FieldDef {
    std::string_view name;
    int low;
    int high;
    int (*get)(const Measurements&);
    void (*put)(Measurements&, int);
};

template <auto Member>
int getField(const Measurements& m) {
    return m.*Member;
}

template <auto Member>
void putField(Measurements& m, int value) {
    using Byte = std::remove_cvref_t<decltype(m.*Member)>;
    m.*Member = static_cast<Byte>(value);
}

template <auto Member>
constexpr FieldDef field(std::string_view name) {
    using Byte = std::remove_cvref_t<decltype(Measurements{}.*Member)>;
    return {name, std::is_signed_v<Byte> ? -128 : 0, std::is_signed_v<Byte> ? 127 : 255,
            &getField<Member>, &putField<Member>};
}

// In the order of TraceField.
constexpr std::array<FieldDef, TRACE_FIELD_COUNT> FIELDS{{
    field<&Measurements::inputVoltage>("input"),
    field<&Measurements::ignitionVoltage>("ignition"),
    field<&Measurements::rail3V>("rail3"),
    field<&Measurements::rail5V>("rail5"),
    field<&Measurements::rail12V>("rail12"),
    field<&Measurements::temperature>("temperature"),
    field<&Measurements::state>("state"),
    field<&Measurements::mode>("mode"),
    field<&Measurements::voltageFlags>("voltage-flags"),
    field<&Measurements::statusFlags1>("status-flags1"),
    field<&Measurements::timerFlags>("timer-flags"),
    field<&Measurements::statusFlags2>("status-flags2"),
    field<&Measurements::inputFlags>("input-flags"),
    field<&Measurements::outputFlags>("output-flags"),
}};

const FieldDef& def(TraceField f) {
    return FIELDS[static_cast<std::size_t>(f)];
}

constexpr std::size_t QUOTED_MAX = 40;  // of a word quoted in an error

std::string quoted(std::string_view word) {
    std::string text(1, '"');
    text.append(word.substr(0, QUOTED_MAX));
    text += word.size() > QUOTED_MAX ? "...\"" : "\"";
    return text;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The words of a line, split at blanks.
std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> result;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        const std::size_t begin = i;
        while (i < line.size() && !isBlank(line[i])) {
            ++i;
        }
        if (i > begin) {
            result.push_back(line.substr(begin, i - begin));
        }
    }
    return result;
}

// A whole number in decimal, written without a leading zero or plus sign, from low to high.
std::optional<int> wholeNumber(std::string_view text, int low, int high) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits.front() == '0') ||
        (negative && digits == "0")) {
        return std::nullopt;
    }
    int value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    value = negative ? -value : value;
    return value >= low && value <= high ? std::optional<int>(value) : std::nullopt;
}

// One FIELD=VALUE into `step`; false after saying what is wrong with it.
bool readValue(std::string_view word, TraceStep& step, std::string& error) {
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos) {
        error = quoted(word) + " is no FIELD=VALUE";
        if (word.front() == '#') {
            error += " (a comment has a line of its own)";
        }
        return false;
    }
    const std::string_view name = word.substr(0, equals);
    const std::string_view text = word.substr(equals + 1);
    for (std::size_t i = 0; i < FIELDS.size(); ++i) {
        const FieldDef& f = FIELDS[i];
        if (f.name != name) {
            continue;
        }
        const auto which = static_cast<TraceField>(i);
        if (step.sets(which)) {
            error = "the field " + quoted(name) + " is named twice";
            return false;
        }
        const std::optional<int> value = wholeNumber(text, f.low, f.high);
        if (!value) {
            error = "the value " + quoted(text) + " of " + std::string(name) +
                    " is no whole number from " + std::to_string(f.low) + " to " +
                    std::to_string(f.high);
            return false;
        }
        step.set(which, *value);
        return true;
    }
    error = "the field " + quoted(name) + " is none of " + traceFieldNames();
    return false;
}

}  // namespace

std::string_view traceFieldName(TraceField field) {
    return def(field).name;
}

std::string traceFieldNames() {
    std::string text;
    for (const FieldDef& f : FIELDS) {
        text += (text.empty() ? "" : ", ") + std::string(f.name);
    }
    return text;
}

bool TraceStep::sets(TraceField field) const {
    return (fields >> static_cast<unsigned>(field) & 1U) != 0;
}

std::int16_t TraceStep::value(TraceField field) const {
    return values[static_cast<std::size_t>(field)];
}

void TraceStep::set(TraceField field, int value) {
    fields = static_cast<std::uint16_t>(fields | 1U << static_cast<unsigned>(field));
    values[static_cast<std::size_t>(field)] = static_cast<std::int16_t>(value);
}

Measurements applyStep(const TraceStep& step, Measurements measurements) {
    for (std::size_t i = 0; i < FIELDS.size(); ++i) {
        if (step.sets(static_cast<TraceField>(i))) {
            FIELDS[i].put(measurements, step.values[i]);
        }
    }
    return measurements;
}

int fieldValue(const Measurements& measurements, TraceField field) {
    return def(field).get(measurements);
}

std::optional<Trace> parseTrace(std::string_view text, std::string& error) {
    if (text.size() > TRACE_MAX_BYTES) {
        error = "the trace is longer than " + std::to_string(TRACE_MAX_BYTES) + " bytes";
        return std::nullopt;
    }
    Trace trace;
    bool ended = false;  // a line of a time alone was read: the last one
    std::size_t endLine = 0;
    std::size_t lastLine = 0;  // of values or a time
    std::size_t number = 0;
    for (std::size_t begin = 0; begin < text.size();) {
        std::size_t end = text.find('\n', begin);
        end = end == std::string_view::npos ? text.size() : end;
        std::string_view line = text.substr(begin, end - begin);
        begin = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);  // a file written on Windows
        }
        const std::vector<std::string_view> parts = words(line);
        if (parts.empty() || parts.front().front() == '#') {
            continue;
        }
        lastLine = number;
        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why;
            return std::nullopt;
        };
        if (ended) {
            return fail("comes after line " + std::to_string(endLine) +
                        ", which holds a time alone: only the last line, the end of the trace, "
                        "does");
        }
        const std::optional<std::chrono::milliseconds> at =
            readSeconds(parts.front(), TRACE_MAX_LENGTH);
        if (!at) {
            return fail("the time " + quoted(parts.front()) + " is no seconds from 0 to " +
                        secondsText(TRACE_MAX_LENGTH) + " as a decimal number with at most " +
                        std::to_string(SECONDS_DECIMALS) + " decimals, such as 2 or 0.25");
        }
        if (trace.steps.empty() && *at != std::chrono::milliseconds(0)) {
            return fail("the first line is at " + secondsText(*at) + " s: a trace starts at 0");
        }
        if (!trace.steps.empty() && *at <= trace.steps.back().at) {
            return fail("the time " + secondsText(*at) + " s is not later than " +
                        secondsText(trace.steps.back().at) + " s, the line before's");
        }
        if (parts.size() == 1) {
            if (trace.steps.empty()) {
                return fail("holds a time alone, and no values come before it");
            }
            trace.length = *at;
            ended = true;
            endLine = number;
            continue;
        }
        TraceStep step;
        step.at = *at;
        for (std::size_t i = 1; i < parts.size(); ++i) {
            std::string why;
            if (!readValue(parts[i], step, why)) {
                return fail(why);
            }
        }
        trace.steps.push_back(step);
    }
    if (trace.steps.empty()) {
        error = "the trace has no lines: write SECONDS FIELD=VALUE ... lines, and its length last";
        return std::nullopt;
    }
    if (!ended) {
        error = "line " + std::to_string(lastLine) +
                ": the trace has no end: its last line holds the trace's length alone, a time "
                "later than the last values'";
        return std::nullopt;
    }
    return trace;
}

namespace {

// Counts of `volts` on the row whose factor the status panel borrows, under `version`.
int counts(double volts, int row, std::uint8_t version) {
    ParamTable table;
    table.applyFirmwareVersion(version);
    const double value = std::round(volts / table.row(row).factor);
    return static_cast<int>(std::fmin(std::fmax(value, 0.0), 255.0));
}

// Raw draws only: the standard's distributions may differ between libraries, the engine's
// numbers do not.
class Draws {
public:
    int below(int n) { return static_cast<int>(m_engine() % static_cast<unsigned>(n)); }
    int from(int low, int high) { return low + below(high - low + 1); }

private:
    std::mt19937 m_engine{20240611U};
};

constexpr int REST_TEMPERATURE = 25;

std::optional<Trace> parkedTrace(std::uint8_t version) {
    using std::chrono::seconds;
    const std::array<std::pair<TraceField, int>, 6> rest{{
        {TraceField::Input, counts(12.6, ROW_INPUT_VOLTAGE, version)},
        {TraceField::Ignition, 0},
        {TraceField::Rail3, counts(3.3, ROW_RAIL_3V, version)},
        {TraceField::Rail5, counts(5.0, ROW_RAIL_5V, version)},
        {TraceField::Rail12, counts(12.0, ROW_RAIL_12V, version)},
        {TraceField::Temperature, REST_TEMPERATURE},
    }};
    constexpr int LENGTH = 600;
    Draws draws;
    Trace trace;
    trace.length = seconds(LENGTH);
    std::array<int, rest.size()> due{};  // each measurement's next change, in seconds
    std::array<int, rest.size()> now{};
    for (int second = 0; second < LENGTH; ++second) {
        TraceStep step;
        step.at = seconds(second);
        for (std::size_t i = 0; i < rest.size(); ++i) {
            if (due[i] != second) {
                continue;
            }
            // A count up or down from rest, or back to it: never the value it has.
            const auto [which, counted] = rest[i];
            if (second == 0) {
                now[i] = counted;
            } else {
                int next = now[i];
                while (next == now[i]) {
                    next = std::max(counted + draws.from(-1, 1), 0);
                }
                now[i] = next;
            }
            step.set(which, now[i]);
            due[i] = second + draws.from(2, 6);
        }
        if (step.fields != 0) {
            trace.steps.push_back(step);
        }
    }
    return trace;
}

std::optional<Trace> drivingTrace(std::uint8_t version) {
    using std::chrono::seconds;
    constexpr int LENGTH = 3600;
    constexpr int WARMING = 1800;
    constexpr int WARM_TEMPERATURE = 45;
    const int input = counts(14.2, ROW_INPUT_VOLTAGE, version);
    const int ignition = counts(14.0, ROW_IGNITION_VOLTAGE, version);
    Draws draws;
    Trace trace;
    trace.length = seconds(LENGTH);
    for (int second = 0; second < LENGTH; ++second) {
        TraceStep step;
        step.at = seconds(second);
        step.set(TraceField::Input, input + draws.from(-2, 2));
        step.set(TraceField::Ignition, ignition + draws.from(-1, 1));
        if (second == 0) {
            step.set(TraceField::Rail3, counts(3.3, ROW_RAIL_3V, version));
            step.set(TraceField::Rail5, counts(5.0, ROW_RAIL_5V, version));
            step.set(TraceField::Rail12, counts(12.0, ROW_RAIL_12V, version));
        }
        if (second <= WARMING) {
            // Whole degrees: a step each time the straight rise passes one.
            step.set(TraceField::Temperature,
                     REST_TEMPERATURE + (WARM_TEMPERATURE - REST_TEMPERATURE) * second / WARMING);
        }
        trace.steps.push_back(step);
    }
    return trace;
}

}  // namespace

std::optional<Trace> builtinTrace(std::string_view name, std::uint8_t version) {
    if (name == BUILTIN_TRACES[0]) {
        return parkedTrace(version);
    }
    if (name == BUILTIN_TRACES[1]) {
        return drivingTrace(version);
    }
    return std::nullopt;
}

}  // namespace sim
