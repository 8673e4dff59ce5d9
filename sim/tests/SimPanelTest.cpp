// The simulator panel's behaviour, as both windows of ostrel-sim show it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "app/StatusText.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimPanel.h"
#include "sim/SimulatedOstrel.h"

namespace {

class SimPanelTest : public ::testing::Test {
protected:
    sim::Measurements measured() { return m_controller.firmware().measurements(); }
    std::uint8_t version() { return m_controller.firmware().firmwareVersion(); }
    // The voltages as the programmer shows them for the controller's next status report.
    StatusView shown() {
        const sim::Measurements m = measured();
        StatusReport status;
        status.inputVoltage = m.inputVoltage;
        status.ignitionVoltage = m.ignitionVoltage;
        status.rail3V = m.rail3V;
        status.rail5V = m.rail5V;
        status.rail12V = m.rail12V;
        status.version = version();
        ParamTable table;
        table.applyFirmwareVersion(status.version);
        StatusView view;
        formatStatusFields(table, status, view);
        return view;
    }

    platform::SimHidPlatform m_hid;
    sim::SimulatedOstrel m_controller{m_hid};
};

TEST_F(SimPanelTest, StartsFromTheControllersStateAndChangesNothing) {
    const sim::Measurements before = measured();
    const sim::SimPanel panel(m_controller);
    EXPECT_EQ(panel.major(), 1);
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
    for (const Case& c :
         {Case{1, 12.0, 107, "12.00"}, Case{2, 12.0, 77, "12.00"}, Case{1, 1000.0, 255, "28.64"},
          Case{2, 1000.0, 255, "39.58"}, Case{1, -3.0, 0, "0.00"}, Case{1, nan, 0, "0.00"}}) {
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
    for (const char* text : {"", "volts", "nan", "inf"}) {
        EXPECT_FALSE(panel.setInputVoltsText(text)) << text;
        EXPECT_EQ(measured().inputVoltage, 107) << text;
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
    EXPECT_EQ(panel.inputVoltsText(), first.m_voltageIn);  // the field keeps its volts
    EXPECT_NEAR(std::stod(second.m_voltageIn), std::stod(first.m_voltageIn), 0.08);
    panel.setMajor(9);  // past the last: 2.x, nothing to convert
    EXPECT_EQ(shown().m_ignition, "12.42");
    // And back: each way rounds to the nearest count of the scaling, never further.
    panel.setMajor(1);
    const StatusView back = shown();
    for (const auto member : {&StatusView::m_ignition, &StatusView::m_voltage3V,
                              &StatusView::m_voltage5V, &StatusView::m_voltage12V}) {
        EXPECT_NEAR(std::stod(back.*member), std::stod(first.*member), 0.16) << first.*member;
    }
    // The input keeps its volts up to what the new scaling carries.
    panel.setMajor(2);
    panel.setInputVolts(39.0);
    panel.setMajor(1);
    EXPECT_EQ(panel.inputVoltsText(), "28.64");
    EXPECT_EQ(measured().inputVoltage, 255);
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
