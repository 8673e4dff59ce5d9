// ostrel-sim.exe's second window drives the simulated controller.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/sim/SimHidPlatform.h"
#include "sim/SimPanel.h"
#include "sim/SimulatedOstrel.h"
#include "win32/SimControlWindow.h"

namespace {

class Win32SimControlWindowTest : public ::testing::Test {
protected:
    sim::Measurements measured() { return m_controller.firmware().measurements(); }
    void type(int id, const char* text) { SetDlgItemTextA(m_panel.hwnd(), id, text); }
    void chooseMajor(int index) {
        SendDlgItemMessageA(m_panel.hwnd(), win32::SIM_MAJOR, CB_SETCURSEL,
                            static_cast<WPARAM>(index), 0);
        SendMessageA(m_panel.hwnd(), WM_COMMAND, MAKEWPARAM(win32::SIM_MAJOR, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(GetDlgItem(m_panel.hwnd(), win32::SIM_MAJOR)));
    }
    void click(int id) { SendDlgItemMessageA(m_panel.hwnd(), id, BM_CLICK, 0, 0); }
    std::string text(int id) {
        char buffer[64] = {};
        GetDlgItemTextA(m_panel.hwnd(), id, buffer, sizeof buffer);
        return buffer;
    }
    // The focus leaving a field, as Tab or a click elsewhere makes it.
    void leave(int id) {
        SendMessageA(m_panel.hwnd(), WM_COMMAND, MAKEWPARAM(id, EN_KILLFOCUS),
                     reinterpret_cast<LPARAM>(GetDlgItem(m_panel.hwnd(), id)));
    }
    LRESULT majorsOffered() {
        return SendDlgItemMessageA(m_panel.hwnd(), win32::SIM_MAJOR, CB_GETCOUNT, 0, 0);
    }

    platform::SimHidPlatform m_hid;
    sim::SimulatedOstrel m_controller{m_hid};
    win32::SimControlWindow m_panel{GetModuleHandleA(nullptr), m_controller, nullptr};
};

TEST_F(Win32SimControlWindowTest, FieldsDriveVersionAndMeasurementsOfTheController) {
    ASSERT_NE(m_panel.hwnd(), nullptr);
    // Opening shows the controller's state and changes nothing.
    platform::SimHidPlatform otherHid;
    sim::SimulatedOstrel untouched(otherHid);
    EXPECT_EQ(measured().inputVoltage, untouched.firmware().measurements().inputVoltage);
    EXPECT_EQ(m_controller.firmware().firmwareVersion(), untouched.firmware().firmwareVersion());
    // Typed volts reach the controller as the nearest count while typed; done with, the
    // field shows what that count stands for, the programmer's figure.
    type(win32::SIM_INPUT_VOLTAGE, "11.50");
    EXPECT_EQ(measured().inputVoltage, 102);  // 11.5 V / 0.1123 V per count
    EXPECT_EQ(text(win32::SIM_INPUT_VOLTAGE), "11.50");
    leave(win32::SIM_INPUT_VOLTAGE);
    EXPECT_EQ(text(win32::SIM_INPUT_VOLTAGE), "11.45");
    EXPECT_EQ(text(win32::SIM_INPUT_COUNTS), "102 counts");
    type(win32::SIM_INPUT_VOLTAGE, "12");
    EXPECT_EQ(measured().inputVoltage, 107);
    EXPECT_EQ(majorsOffered(), 2);
    chooseMajor(1);  // 2.x
    EXPECT_EQ(m_controller.firmware().firmwareVersion() >> 4, 2);
    EXPECT_EQ(measured().inputVoltage, 77);  // the same 12.02 V at 0.1552 V per count
    EXPECT_EQ(text(win32::SIM_INPUT_VOLTAGE), "11.95");
    // As the programmer keeps the 2.x scaling, 1.x is offered no more; the note says why.
    EXPECT_EQ(majorsOffered(), 1);
    EXPECT_EQ(text(win32::SIM_MAJOR), "2.x");
    EXPECT_EQ(text(win32::SIM_MAJOR_NOTE), sim::SimPanel::MAJOR_NOTE);
    type(win32::SIM_MINOR, "15");
    EXPECT_EQ(m_controller.firmware().firmwareVersion(), 0x2F);
    type(win32::SIM_INPUT_VOLTAGE, "1000");  // clamped to 255 counts
    EXPECT_EQ(measured().inputVoltage, 255);
    for (const char* degrees : {"-128", "127", "-5"}) {
        type(win32::SIM_TEMPERATURE, degrees);
        EXPECT_EQ(measured().temperature, std::atoi(degrees));
    }

    const std::size_t pending = m_controller.device().pendingInput();
    click(win32::SIM_SEND_HISTORY);
    EXPECT_EQ(m_controller.device().pendingInput(), pending + 1);

    click(win32::SIM_UNPLUG);
    EXPECT_FALSE(m_controller.plugged());
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(m_panel.hwnd(), win32::SIM_SEND_HISTORY)));
}

}  // namespace
