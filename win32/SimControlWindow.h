// The simulator's own window in ostrel-sim.exe: a small modeless dialog with the fields of
// sim::SimPanel, which drives the simulated controller the programmer talks to.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/SimPanel.h"

namespace win32 {

// Control ids of the window.
inline constexpr int SIM_MAJOR = 200;
inline constexpr int SIM_MINOR = 201;
inline constexpr int SIM_INPUT_VOLTAGE = 202;
inline constexpr int SIM_INPUT_COUNTS = 203;
inline constexpr int SIM_TEMPERATURE = 204;
inline constexpr int SIM_HISTORY_POSITION = 205;
inline constexpr int SIM_SEND_HISTORY = 206;
inline constexpr int SIM_UNPLUG = 207;
inline constexpr int SIM_MAJOR_NOTE = 208;

class SimControlWindow {
public:
    // Made hidden; it shows itself beside the window `anchor` names, once that one is on
    // screen.
    SimControlWindow(HINSTANCE instance, sim::SimulatedOstrel& controller,
                     std::function<HWND()> anchor);
    ~SimControlWindow();
    SimControlWindow(const SimControlWindow&) = delete;
    SimControlWindow& operator=(const SimControlWindow&) = delete;

    HWND hwnd() const { return m_hwnd; }

private:
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK messageFilter(int code, WPARAM wParam, LPARAM lParam);
    INT_PTR handleMessage(UINT message, WPARAM wParam);
    // Whether `hwnd` is this window or one of its controls.
    bool ownsWindow(HWND hwnd) const;
    void setKeyFilter(bool on);
    void initControls();
    void placeBesideAnchor();
    void showMajors();
    void showVolts();
    void showCounts();
    HWND control(int id) const;
    std::string text(int id) const;
    int number(int id) const;

    sim::SimPanel m_panel;
    std::function<HWND()> m_anchor;
    HWND m_hwnd = nullptr;
    std::vector<HWND> m_children;  // the controls, in tab order
    HHOOK m_filter = nullptr;
    bool m_ready = false;  // the controls hold their first values
};

}  // namespace win32
