// ostrel-sim's second window drives the simulated controller.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>
#include <vector>

#include "device/Wire.h"
#include "params/ParamTable.h"
#include "platform/sim/SimHidPlatform.h"
#include "qt/SimControlWindow.h"
#include "sim/SimulatedOstrel.h"

namespace {

class SimControlWindowTest : public ::testing::Test {
protected:
    template <typename T>
    T* find(const char* name) {
        T* widget = m_panel.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    sim::Measurements measured() { return m_controller.firmware().measurements(); }

    platform::SimHidPlatform m_hid;
    sim::SimulatedOstrel m_controller{m_hid};
    qtui::SimControlWindow m_panel{m_controller};
};

TEST_F(SimControlWindowTest, StartsFromTheControllersOwnState) {
    const sim::Measurements start = measured();
    EXPECT_EQ(find<QSpinBox>("temperature")->value(), start.temperature);
    EXPECT_NEAR(find<QDoubleSpinBox>("inputVoltage")->value(), start.inputVoltage * 0.1123, 0.006);
    const std::uint8_t version = m_controller.firmware().firmwareVersion();
    EXPECT_EQ(find<QComboBox>("major")->currentData().toInt(), version >> 4);
    EXPECT_EQ(find<QSpinBox>("minor")->value(), version & 0x0F);
    EXPECT_EQ(measured().inputVoltage, start.inputVoltage);  // opening changed nothing
}

TEST_F(SimControlWindowTest, VoltsBecomeCountsOfTheChosenFirmware) {
    find<QDoubleSpinBox>("inputVoltage")->setValue(12.0);
    EXPECT_EQ(measured().inputVoltage, 107);       // 12 V / 0.1123 V per count
    find<QComboBox>("major")->setCurrentIndex(1);  // 2.x
    EXPECT_EQ(m_controller.firmware().firmwareVersion() >> 4, 2);
    EXPECT_EQ(measured().inputVoltage, 77);  // the same 12 V at 0.1552 V per count
    find<QSpinBox>("minor")->setValue(15);
    EXPECT_EQ(m_controller.firmware().firmwareVersion(), 0x2F);
    find<QDoubleSpinBox>("inputVoltage")->setValue(1000.0);  // clamped to 255 counts
    EXPECT_EQ(measured().inputVoltage, 255);
}

TEST_F(SimControlWindowTest, SwitchingFirmwareKeepsTheVoltsOfEveryRail) {
    // Volts as the programmer shows them, with the factors of the firmware it reports.
    auto volts = [&] {
        ParamTable table;
        table.applyFirmwareVersion(m_controller.firmware().firmwareVersion());
        const sim::Measurements m = measured();
        return std::vector<double>{m.ignitionVoltage * table.row(ROW_IGNITION_VOLTAGE).factor,
                                   m.rail3V * table.row(ROW_RAIL_3V).factor,
                                   m.rail5V * table.row(ROW_RAIL_5V).factor,
                                   m.rail12V * table.row(ROW_RAIL_12V).factor};
    };
    const std::vector<double> before = volts();
    for (const int major : {2, 1}) {
        find<QComboBox>("major")->setCurrentIndex(major - 1);
        const std::vector<double> after = volts();
        for (std::size_t i = 0; i < before.size(); ++i) {
            // Rounded to the nearest count of each scaling on the way: 0.16 V at most.
            EXPECT_NEAR(after[i], before[i], 0.16) << "rail " << i << " at " << major << ".x";
        }
    }
}

TEST_F(SimControlWindowTest, TemperatureCoversTheSignedByte) {
    for (const int degrees : {-5, -128, 127, 0}) {
        find<QSpinBox>("temperature")->setValue(degrees);
        EXPECT_EQ(measured().temperature, degrees);
    }
}

TEST_F(SimControlWindowTest, SendsAHistoryReportMarkingTheChosenOffset) {
    const std::size_t before = m_controller.device().pendingInput();
    find<QSpinBox>("historyPosition")->setValue(5);
    find<QPushButton>("sendHistory")->click();
    EXPECT_EQ(m_controller.device().pendingInput(), before + 1);
}

TEST_F(SimControlWindowTest, UnplugsTheControllerForGood) {
    find<QPushButton>("unplug")->click();
    EXPECT_FALSE(m_controller.plugged());
    EXPECT_FALSE(find<QPushButton>("sendHistory")->isEnabled());
    EXPECT_FALSE(find<QDoubleSpinBox>("inputVoltage")->isEnabled());
}

}  // namespace
