// Traces: what is refused with which words, a trace replayed on a clock of the test's own as
// the controller reports it through the device library, and the built-in traces' readings.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "device/HIDDevice.h"
#include "device/HIDOstrel.h"
#include "params/ParamTable.h"
#include "sim/SimulatedOstrel.h"
#include "sim/Trace.h"
#include "sim/TraceRunner.h"
#include "tests/support/SimChannel.h"
#include "tests/support/WaitFor.h"

namespace {

using sim::TraceField;
using std::chrono::milliseconds;

TEST(Trace, RefusesABadTraceNamingTheLine) {
    struct Case {
        std::string text;
        const char* said;
    };
    const Case cases[] = {
        {"", "the trace has no lines"},
        {"# a comment\n\n   \n", "the trace has no lines"},
        {"0 input=5\n", "line 1: the trace has no end"},
        {"0 input=5\n# the end?\n\n", "line 1: the trace has no end"},
        {"1 input=5\n2\n", "line 1: the first line is at 1 s: a trace starts at 0"},
        {"0\n1\n", "line 1: holds a time alone, and no values come before it"},
        {"0 input=5\n0 input=6\n1\n", "line 2: the time 0 s is not later than 0 s"},
        {"0 input=5\n\n2 input=6\n1.5\n", "line 4: the time 1.5 s is not later than 2 s"},
        {"0 input=5\n1\n2 input=6\n3\n", "line 3: comes after line 2, which holds a time alone"},
        {"0 input=5 # warm\n1\n", "line 1: \"#\" is no FIELD=VALUE (a comment has a line"},
        {"0 input5\n1\n", "line 1: \"input5\" is no FIELD=VALUE"},
        {"0 voltage=5\n1\n", "the field \"voltage\" is none of input, ignition, rail3,"},
        {"0 =5\n1\n", "the field \"\" is none"},
        {"0 input=5 rail3=1 input=6\n1\n", "line 1: the field \"input\" is named twice"},
        {"0 input=256\n1\n", "the value \"256\" of input is no whole number from 0 to 255"},
        {"0 input=+5\n1\n", "the value \"+5\""},
        {"0 input=05\n1\n", "the value \"05\""},
        {"0 input=0x10\n1\n", "the value \"0x10\""},
        {"0 input=\n1\n", "the value \"\" of input"},
        {"0 input=1000000000000\n1\n", "the value \"1000000000000\""},
        {"0 temperature=128\n1\n", "of temperature is no whole number from -128 to 127"},
        {"0 temperature=-129\n1\n", "the value \"-129\" of temperature"},
        {"0 state=-0\n1\n", "the value \"-0\" of state"},
        {std::string("0 input=5\0\n1\n", 13), "the value \"5"},
        {"0 " + std::string(100, 'x') + "=1\n1\n",
         "\"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\""},
        // The reader of seconds is the plug plans': its own refusals are tested there.
        {"-1 input=5\n1\n", "line 1: the time \"-1\" is no seconds from 0 to 86400"},
        {"0 input=5\n1e3\n", "line 2: the time \"1e3\""},
        {"0 input=5\n0.0001\n", "at most 3 decimals"},
        {std::string(sim::TRACE_MAX_BYTES + 1, '#'), "longer than 1048576 bytes"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(sim::parseTrace(c.text, error)) << c.text;
        EXPECT_NE(error.find(c.said), std::string::npos) << c.text << "\n" << error;
    }
}

// The status the controller answers with, asked through the device library.
StatusReport askStatus(HIDOstrel& ostrel) {
    ostrel.sendCommand(CMD_STATUS);
    std::unique_ptr<HArray> report;
    EXPECT_TRUE(waitFor([&] { return (report = ostrel.popReport()) != nullptr; }));
    return report != nullptr ? decodeStatusReport(report->bytes()) : StatusReport{};
}

TEST(TraceRunner, ReplaysATraceInALoopOnTheCallersClock) {
    std::string error;
    const auto trace = sim::parseTrace(
        "# a cold controller warming\n"
        "0\tinput=100 temperature=-5 state=3\r\n"
        "\n"
        "1.5 input=113   voltage-flags=7\n"
        "   # the end comes at 4 s\n"
        "  3 temperature=-4 \n"
        "4\n",
        error);
    ASSERT_TRUE(trace) << error;
    EXPECT_EQ(trace->length, milliseconds(4000));

    platform::SimHidPlatform platform;
    platform.setRealSleep(false);
    sim::SimulatedOstrel first(platform);
    const sim::Measurements own = first.firmware().measurements();
    auto channel = openSimChannel(platform, first.device());
    HIDOstrel ostrel(channel.get());

    sim::TraceRunner runner(*trace);
    runner.add(first.firmware());
    struct Step {
        milliseconds elapsed;
        int lines;  // carried out by then; -1: not counted
        int input;
        int temperature;
        int voltageFlags;
    };
    const Step steps[] = {
        {milliseconds(0), 1, 100, -5, own.voltageFlags},
        {milliseconds(1499), 0, 100, -5, own.voltageFlags},
        {milliseconds(1500), 1, 113, -5, 7},
        {milliseconds(3999), 1, 113, -4, 7},
        // Round two: the first line again; what it does not name holds across the loop.
        {milliseconds(4000), 1, 100, -5, 7},
        {milliseconds(7000), 2, 113, -4, 7},
        // Four hours later in one step: where the trace is then, not every round between.
        {std::chrono::hours(4) + milliseconds(1500), -1, 113, -5, 7},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.elapsed.count());
        const std::size_t done = runner.applyUntil(step.elapsed);
        if (step.lines >= 0) {
            EXPECT_EQ(done, static_cast<std::size_t>(step.lines));
        }
        const StatusReport status = askStatus(ostrel);
        EXPECT_EQ(status.inputVoltage, step.input);
        EXPECT_EQ(status.temperature, step.temperature);
        EXPECT_EQ(status.voltageFlags, step.voltageFlags);
        EXPECT_EQ(status.state, 3);
        // A measurement the trace never names stays the controller's own.
        EXPECT_EQ(status.rail3V, own.rail3V);
    }

    // A controller that comes later takes the values in force at once, then the next line.
    sim::SimulatedOstrel second(platform);
    runner.add(second.firmware());
    EXPECT_EQ(second.firmware().measurements().inputVoltage, 113);
    EXPECT_EQ(second.firmware().measurements().temperature, -5);
    runner.applyUntil(std::chrono::hours(4) + milliseconds(3000));
    EXPECT_EQ(second.firmware().measurements().temperature, -4);
    EXPECT_EQ(first.firmware().measurements().temperature, -4);
}

TEST(TraceRunner, PlaysOnItsOwnClockUntilStopped) {
    std::string error;
    const auto trace = sim::parseTrace("0 input=90\n0.02 input=91\n0.04\n", error);
    ASSERT_TRUE(trace) << error;
    sim::OstrelFirmware firmware;
    sim::TraceRunner runner(*trace);
    runner.add(firmware);
    runner.start();
    // The first line is in when start() returns; the loop brings each value back.
    EXPECT_EQ(firmware.measurements().inputVoltage, 90);
    EXPECT_TRUE(waitFor([&] { return firmware.measurements().inputVoltage == 91; }));
    EXPECT_TRUE(waitFor([&] { return firmware.measurements().inputVoltage == 90; }));
    runner.stop();
}

// Every value each field takes over a whole round of a built-in trace, second by second.
std::map<TraceField, std::vector<int>> played(const sim::Trace& trace) {
    sim::OstrelFirmware firmware;
    sim::TraceRunner runner(trace);
    runner.add(firmware);
    std::map<TraceField, std::vector<int>> seen;
    for (milliseconds at{0}; at < trace.length; at += std::chrono::seconds(1)) {
        runner.applyUntil(at);
        for (std::size_t i = 0; i < sim::TRACE_FIELD_COUNT; ++i) {
            const auto field = static_cast<TraceField>(i);
            seen[field].push_back(sim::fieldValue(firmware.measurements(), field));
        }
    }
    return seen;
}

// The volts a count stands for on the row the status panel borrows, under `version`.
double volts(int counts, int row, std::uint8_t version) {
    ParamTable table;
    table.applyFirmwareVersion(version);
    return counts * table.row(row).factor;
}

TEST(BuiltinTraces, AParkedAndADrivingVehicleInTheCountsOfEitherFirmware) {
    EXPECT_FALSE(sim::builtinTrace("idle", 0x12));
    for (const std::uint8_t version : {std::uint8_t{0x12}, std::uint8_t{0x21}}) {
        SCOPED_TRACE(static_cast<int>(version));
        const auto parked = sim::builtinTrace("parked", version);
        ASSERT_TRUE(parked);
        EXPECT_EQ(parked->steps, sim::builtinTrace("parked", version)->steps);  // a fixed seed
        auto seen = played(*parked);
        const sim::TraceStep& rest = parked->steps.front();
        const struct {
            TraceField field;
            int row;  // -1: no volts
            double volts;
        } measured[] = {
            {TraceField::Input, ROW_INPUT_VOLTAGE, 12.6}, {TraceField::Ignition, -1, 0},
            {TraceField::Rail3, ROW_RAIL_3V, 3.3},        {TraceField::Rail5, ROW_RAIL_5V, 5.0},
            {TraceField::Rail12, ROW_RAIL_12V, 12.0},     {TraceField::Temperature, -1, 25},
        };
        for (const auto& m : measured) {
            SCOPED_TRACE(std::string(sim::traceFieldName(m.field)));
            const int at = rest.value(m.field);
            if (m.row >= 0) {
                EXPECT_NEAR(volts(at, m.row, version), m.volts, volts(1, m.row, version));
            } else {
                EXPECT_EQ(at, m.volts);
            }
            const std::vector<int>& values = seen[m.field];
            const auto [low, high] = std::minmax_element(values.begin(), values.end());
            EXPECT_GE(*low, std::max(at - 1, 0));
            EXPECT_LE(*high, at + 1);
            // It does jitter, every few seconds: never still for more than six.
            EXPECT_LT(*low, *high);
            std::size_t still = 0;
            for (std::size_t i = 1; i < values.size(); ++i) {
                still = values[i] == values[i - 1] ? still + 1 : 0;
                EXPECT_LE(still, 6u) << "at " << i << " s";
            }
        }
        for (const TraceField unnamed : {TraceField::State, TraceField::Mode,
                                         TraceField::VoltageFlags, TraceField::OutputFlags}) {
            EXPECT_FALSE(rest.sets(unnamed));
        }

        const auto driving = sim::builtinTrace("driving", version);
        ASSERT_TRUE(driving);
        seen = played(*driving);
        const std::vector<int>& input = seen[TraceField::Input];
        const auto [low, high] = std::minmax_element(input.begin(), input.end());
        EXPECT_NEAR(volts((*low + *high) / 2, ROW_INPUT_VOLTAGE, version), 14.2, 0.2);
        EXPECT_LE(*high - *low, 4);
        EXPECT_GT(*high - *low, 0);  // the alternator's ripple
        const std::vector<int>& temperature = seen[TraceField::Temperature];
        EXPECT_EQ(temperature.front(), 25);
        EXPECT_TRUE(std::is_sorted(temperature.begin(), temperature.end()));
        EXPECT_EQ(temperature[1800], 45);  // warm after half an hour, then steady
        EXPECT_EQ(temperature.back(), 45);
    }
}

}  // namespace
