// The simulator panel's behaviour, as both windows of ostrel-sim show it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/texts/StatusText.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimPanel.h"
#include "sim/SimulatedOstrel.h"

namespace {

// The voltages as the programmer shows them for the controller's next status report.
StatusView shownBy(sim::SimulatedOstrel& controller) {
    const sim::Measurements m = controller.firmware().measurements();
    StatusReport status;
    status.inputVoltage = m.inputVoltage;
    status.ignitionVoltage = m.ignitionVoltage;
    status.rail3V = m.rail3V;
    status.rail5V = m.rail5V;
    status.rail12V = m.rail12V;
    status.version = controller.firmware().firmwareVersion();
    ParamTable table;
    table.applyFirmwareVersion(status.version);
    StatusView view;
    formatStatusFields(table, status, view);
    return view;
}

class SimPanelTest : public ::testing::Test {
protected:
    sim::Measurements measured() { return m_controller.firmware().measurements(); }
    std::uint8_t version() { return m_controller.firmware().firmwareVersion(); }
    StatusView shown() { return shownBy(m_controller); }

    platform::SimHidPlatform m_hid;
    sim::SimulatedOstrel m_controller{m_hid};
};

TEST_F(SimPanelTest, StartsFromTheControllersStateAndChangesNothing) {
    const sim::Measurements before = measured();
    const sim::SimPanel panel(m_controller);
    EXPECT_EQ(panel.major(), 1);
    EXPECT_EQ(panel.majorFirst(), 1);
    EXPECT_EQ(panel.minor(), 2);
    EXPECT_EQ(panel.temperature(), before.temperature);
    EXPECT_EQ(panel.inputVoltsText(), shown().m_voltageIn);  // the programmer's own figure
    EXPECT_EQ(panel.countsText(), std::to_string(before.inputVoltage) + " counts");
    EXPECT_EQ(measured().inputVoltage, before.inputVoltage);
    EXPECT_EQ(version(), 0x12);
    EXPECT_EQ(sim::SimPanel::majorText(2), "2.x");
}

TEST_F(SimPanelTest, FieldsBecomeTheControllersCountsWithinTheirRanges) {
    struct Case {
        int major;
        double volts;
        int counts;
        const char* shownVolts;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // The field shows what the counts stand for, not what was typed.
    for (const Case& c :
         {Case{1, 11.5, 102, "11.45"}, Case{1, 12.0, 107, "12.02"}, Case{2, 12.0, 77, "11.95"},
          Case{1, 1000.0, 255, "28.64"}, Case{2, 1000.0, 255, "39.58"}, Case{1, -3.0, 0, "0.00"},
          Case{1, nan, 0, "0.00"}}) {
        SCOPED_TRACE(std::to_string(c.major) + ".x " + std::to_string(c.volts));
        platform::SimHidPlatform hid;
        sim::SimulatedOstrel controller(hid);
        sim::SimPanel panel(controller);
        panel.setMajor(c.major);
        panel.setInputVolts(c.volts);
        EXPECT_EQ(controller.firmware().measurements().inputVoltage, c.counts);
        EXPECT_EQ(panel.countsText(), std::to_string(c.counts) + " counts");
        EXPECT_EQ(panel.inputVoltsText(), c.shownVolts);
    }

    sim::SimPanel panel(m_controller);
    for (const auto& [set, expected] : {std::pair{-5, -5}, {-300, -128}, {300, 127}}) {
        panel.setTemperature(set);
        EXPECT_EQ(measured().temperature, expected);
    }
    for (const auto& [set, expected] : {std::pair{15, 0x1F}, {16, 0x1F}, {-1, 0x10}}) {
        panel.setMinor(set);
        EXPECT_EQ(version(), expected);
    }
    // Text from a field: a number or nothing changes.
    EXPECT_TRUE(panel.setInputVoltsText("12"));
    EXPECT_EQ(measured().inputVoltage, 107);
    EXPECT_EQ(panel.inputVoltsText(), "12.02");
    for (const char* text : {"", "volts", "nan", "inf"}) {
        EXPECT_FALSE(panel.setInputVoltsText(text)) << text;
        EXPECT_EQ(measured().inputVoltage, 107) << text;
    }
}

// Every figure the field can show on either firmware is the programmer's, and a step of the
// field is one count.
TEST_F(SimPanelTest, FieldShowsTheProgrammersFigureForEveryCount) {
    for (const int major : {1, 2}) {
        platform::SimHidPlatform hid;
        sim::SimulatedOstrel controller(hid);
        sim::SimPanel panel(controller);
        panel.setMajor(major);
        for (int counts = 0; counts <= sim::SimPanel::COUNTS_LAST; ++counts) {
            panel.setInputVolts(counts * panel.inputVoltsStep());
            ASSERT_EQ(controller.firmware().measurements().inputVoltage, counts) << major;
            const std::string figure = shownBy(controller).m_voltageIn;
            ASSERT_EQ(panel.inputVoltsText(), figure) << major << ".x, " << counts;
            // What the field shows, typed back, is the same count.
            ASSERT_TRUE(panel.setInputVoltsText(figure));
            ASSERT_EQ(controller.firmware().measurements().inputVoltage, counts) << major;
        }
    }
}

TEST_F(SimPanelTest, AnotherFirmwareKeepsTheVoltsOfEveryRail) {
    sim::SimPanel panel(m_controller);
    const StatusView first = shown();
    panel.setMajor(2);
    EXPECT_EQ(version(), 0x22);  // the minor stays
    // What README.md promises the user sees on 2.x.
    const StatusView second = shown();
    EXPECT_EQ(second.m_ignition, "12.42");
    EXPECT_EQ(second.m_voltage3V, "3.32");
    EXPECT_EQ(second.m_voltage5V, "4.98");
    EXPECT_EQ(second.m_voltage12V, "12.00");
    // The input keeps its volts to the nearest count, and the field shows the new figure.
    EXPECT_EQ(panel.inputVoltsText(), second.m_voltageIn);
    EXPECT_NEAR(std::stod(second.m_voltageIn), std::stod(first.m_voltageIn), 0.08);
    // No way back, as the programmer's scaling has none: 1.x is offered no more.
    EXPECT_EQ(panel.majorFirst(), 2);
    for (const int major : {9, 1}) {
        panel.setMajor(major);
        EXPECT_EQ(version(), 0x22) << major;
        EXPECT_EQ(shown().m_ignition, "12.42") << major;
    }
    // A controller of 2.x from the start offers 2.x alone too.
    platform::SimHidPlatform hid;
    sim::SimulatedOstrel started(hid);
    started.firmware().setFirmwareVersion(0x21);
    EXPECT_EQ(sim::SimPanel(started).majorFirst(), 2);
}

TEST_F(SimPanelTest, HistoryMarksAnEntryOffsetAndUnplugIsForGood) {
    sim::SimPanel panel(m_controller);
    std::vector<int> marked;
    m_controller.firmware().setSink(
        [&](const sim::Report& report) { marked.push_back(report[HISTORY_AT_POSITION]); });
    for (const int asked : {5, 0, 99}) {
        panel.sendHistory(asked);
    }
    EXPECT_EQ(marked, (std::vector<int>{5, 2, 23}));  // within the entries
    panel.unplug();
    EXPECT_FALSE(m_controller.plugged());
}

}  // namespace
