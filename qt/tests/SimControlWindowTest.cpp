// ostrel-sim's second window drives the simulated controller.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <tuple>

#include "device/Wire.h"
#include "platform/sim/SimHidPlatform.h"
#include "qt/SimControlWindow.h"
#include "sim/SimPanel.h"
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

// The panel's behaviour is sim::SimPanel's (sim/tests); here, that the fields reach it and
// show what it holds.
TEST_F(SimControlWindowTest, FieldsDriveThePanelAndShowWhatItHolds) {
    auto* volts = find<QDoubleSpinBox>("inputVoltage");
    volts->setValue(12.0);
    EXPECT_EQ(measured().inputVoltage, 107);  // 12 V / 0.1123 V per count
    EXPECT_EQ(find<QLabel>("inputCounts")->text(), QStringLiteral("107 counts"));
    auto* major = find<QComboBox>("major");
    EXPECT_EQ(major->count(), 2);
    major->setCurrentIndex(1);  // 2.x
    EXPECT_EQ(m_controller.firmware().firmwareVersion() >> 4, 2);
    EXPECT_EQ(measured().inputVoltage, 77);             // the same 12.02 V at 0.1552 V per count
    EXPECT_EQ(volts->text().toStdString(), "11.95 V");  // what 77 counts stand for
    EXPECT_DOUBLE_EQ(volts->maximum(), 39.58);          // 255 counts
    EXPECT_EQ(find<QLabel>("inputCounts")->text(), QStringLiteral("77 counts"));
    // As the programmer keeps the 2.x scaling, 1.x is offered no more; the note says why.
    EXPECT_EQ(major->count(), 1);
    EXPECT_EQ(major->currentText().toStdString(), "2.x");
    EXPECT_EQ(find<QLabel>("majorNote")->text().toStdString(), sim::SimPanel::MAJOR_NOTE);
    find<QSpinBox>("minor")->setValue(15);
    EXPECT_EQ(m_controller.firmware().firmwareVersion(), 0x2F);
    for (const int degrees : {-128, 127}) {
        find<QSpinBox>("temperature")->setValue(degrees);
        EXPECT_EQ(measured().temperature, degrees);
    }
}

// Typed volts go to the nearest count, and once typed (Enter) the field shows the volts that
// count stands for, the programmer's figure; an arrow step is one count.
TEST_F(SimControlWindowTest, TypedVoltsShowWhatTheCountsStandFor) {
    auto* volts = find<QDoubleSpinBox>("inputVoltage");
    volts->selectAll();
    QTest::keyClicks(volts, QStringLiteral("11.50"));
    EXPECT_EQ(measured().inputVoltage, 102);  // while typing
    QTest::keyClick(volts, Qt::Key_Return);
    EXPECT_EQ(volts->text().toStdString(), "11.45 V");
    for (const auto& [key, counts, shown] : {std::tuple{Qt::Key_Up, 103, "11.57 V"},
                                             {Qt::Key_Down, 102, "11.45 V"},
                                             {Qt::Key_Down, 101, "11.34 V"}}) {
        QTest::keyClick(volts, key);
        EXPECT_EQ(measured().inputVoltage, counts);
        EXPECT_EQ(volts->text().toStdString(), shown);
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
