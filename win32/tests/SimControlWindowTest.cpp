// ostrel-sim.exe's second window drives the simulated controller.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "platform/sim/SimHidPlatform.h"
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
    type(win32::SIM_INPUT_VOLTAGE, "12");
    EXPECT_EQ(measured().inputVoltage, 107);  // 12 V / 0.1123 V per count
    chooseMajor(1);                           // 2.x
    EXPECT_EQ(m_controller.firmware().firmwareVersion() >> 4, 2);
    EXPECT_EQ(measured().inputVoltage, 77);  // the same 12 V at 0.1552 V per count
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
