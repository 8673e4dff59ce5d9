#include "win32/SimControlWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "app/Resource.h"
#include "win32/DialogTemplateWriter.h"

namespace win32 {
namespace {

using sim::SimPanel;

constexpr int SIM_GAP_PIXELS = 16;
constexpr UINT_PTR SIM_PLACE_TIMER = 1;
constexpr UINT SIM_PLACE_PERIOD_MS = 50;

// Spin arrows glued to the field before them, writing plain numbers into it.
constexpr DWORD SPIN_STYLE =
    UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
constexpr DWORD NUMBER_STYLE = ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD LABEL_STYLE = SS_RIGHT | SS_CENTERIMAGE | SS_NOPREFIX;

ItemDefinition label(const char* text, short y) {
    return {LABEL_STYLE, -1, CLASS_STATIC, nullptr, text, 0, 10, y, 70, 12};
}
ItemDefinition group(const char* text, short y, short cy) {
    return {BS_GROUPBOX, -1, CLASS_BUTTON, nullptr, text, 0, 7, y, 146, cy};
}
ItemDefinition field(int id, short x, short y, short cx) {
    return {NUMBER_STYLE, id, CLASS_EDIT, nullptr, "", 0, x, y, cx, 12};
}
ItemDefinition spin() {
    return {SPIN_STYLE, -1, 0, UPDOWN_CLASSA, "", 0, 0, 0, 0, 0};
}
ItemDefinition button(int id, const char* text, short x, short y, short cx) {
    return {BS_PUSHBUTTON | WS_TABSTOP, id, CLASS_BUTTON, nullptr, text, 0, x, y, cx, 14};
}

DialogDefinition windowDefinition() {
    return {WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
            "Ostrel simulator",
            160,
            222,
            {
                group("Firmware", 4, 66),
                label("Major version:", 17),
                {CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, SIM_MAJOR, CLASS_COMBOBOX, nullptr, "",
                 0, 84, 16, 62, 60},
                label("Minor version:", 33),
                field(SIM_MINOR, 84, 33, 40),
                spin(),
                {SS_LEFT | SS_NOPREFIX, SIM_MAJOR_NOTE, CLASS_STATIC, nullptr, SimPanel::MAJOR_NOTE,
                 0, 14, 49, 132, 16},
                group("Measurements", 74, 64),
                label("Input voltage [V]:", 87),
                field(SIM_INPUT_VOLTAGE, 84, 87, 62),
                label("Sent as:", 103),
                {SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, SIM_INPUT_COUNTS, CLASS_STATIC, nullptr,
                 "", 0, 84, 103, 62, 12},
                label("Temperature [\xB0"
                      "C]:",
                      119),
                field(SIM_TEMPERATURE, 84, 119, 40),
                spin(),
                group("History report", 142, 52),
                label("Marked offset:", 157),
                field(SIM_HISTORY_POSITION, 84, 157, 30),
                spin(),
                button(SIM_SEND_HISTORY, "Send &history", 84, 174, 62),
                button(SIM_UNPLUG, "&Unplug the controller", 7, 200, 146),
            }};
}

// The one simulator window of the thread, for the message filter.
SimControlWindow* g_window = nullptr;
// Set while the filter hands a message to the dialog manager, which calls the filter again.
bool g_filtering = false;

void setNumberRange(HWND field, int low, int high, int value) {
    // The arrows are the window after their field.
    HWND spinControl = GetWindow(field, GW_HWNDNEXT);
    SendMessageA(spinControl, UDM_SETRANGE32, static_cast<WPARAM>(low), high);
    SendMessageA(spinControl, UDM_SETPOS32, 0, value);
    SetWindowTextA(field, std::to_string(value).c_str());
}

}  // namespace

SimControlWindow::SimControlWindow(HINSTANCE instance, sim::SimulatedOstrel& controller,
                                   std::function<HWND()> anchor)
    : m_panel(controller), m_anchor(std::move(anchor)) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    const DialogTemplateBuffer buffer(windowDefinition());
    m_hwnd = CreateDialogIndirectParamA(instance, buffer.get(), nullptr, &dialogProc,
                                        reinterpret_cast<LPARAM>(this));
}

SimControlWindow::~SimControlWindow() {
    setKeyFilter(false);
    if (m_hwnd != nullptr) {
        DestroyWindow(m_hwnd);
    }
}

void SimControlWindow::setKeyFilter(bool on) {
    // The programmer's modal loop knows only its own dialog: a message filter hands this
    // window's keys (Tab, Enter, mnemonics) to the dialog manager too. Only while this
    // window is active, the only time it gets keys: every hooked message costs Wine's
    // server three requests, which the idle programmer should not pay.
    if (on && m_filter == nullptr && g_window == nullptr) {
        m_filter = SetWindowsHookExA(WH_MSGFILTER, &messageFilter, nullptr, GetCurrentThreadId());
        g_window = m_filter != nullptr ? this : nullptr;
    } else if (!on && m_filter != nullptr) {
        UnhookWindowsHookEx(m_filter);
        m_filter = nullptr;
        g_window = nullptr;
    }
}

INT_PTR CALLBACK SimControlWindow::dialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    auto* self = reinterpret_cast<SimControlWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<SimControlWindow*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
    }
    if (self == nullptr) {
        return FALSE;
    }
    if (message == WM_NCDESTROY) {
        self->m_hwnd = nullptr;
        return FALSE;
    }
    return self->handleMessage(message, wParam);
}

LRESULT CALLBACK SimControlWindow::messageFilter(int code, WPARAM wParam, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const MSG*>(lParam);
    // The dialog manager calls this filter again from inside IsDialogMessageA: that inner
    // call, and every message of another window, passes straight on.
    if (code == MSGF_DIALOGBOX && !g_filtering && g_window != nullptr &&
        g_window->ownsWindow(msg->hwnd)) {
        g_filtering = true;
        const BOOL handled = IsDialogMessageA(g_window->m_hwnd, const_cast<MSG*>(msg));
        g_filtering = false;
        if (handled) {
            return TRUE;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool SimControlWindow::ownsWindow(HWND hwnd) const {
    return hwnd != nullptr && m_hwnd != nullptr &&
           (hwnd == m_hwnd ||
            std::find(m_children.begin(), m_children.end(), hwnd) != m_children.end());
}

INT_PTR SimControlWindow::handleMessage(UINT message, WPARAM wParam) {
    switch (message) {
        case WM_INITDIALOG:
            // The program's icon, both sizes: the simulator belongs to it, and a window
            // without a big icon gets the system's generic one in the task bar and Alt+Tab.
            SendMessageA(m_hwnd, WM_SETICON, ICON_BIG,
                         reinterpret_cast<LPARAM>(LoadIconA(GetModuleHandleA(nullptr),
                                                            MAKEINTRESOURCEA(IDR_MAINFRAME))));
            SendMessageA(
                m_hwnd, WM_SETICON, ICON_SMALL,
                reinterpret_cast<LPARAM>(LoadImageA(
                    GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED)));
            initControls();
            SetTimer(m_hwnd, SIM_PLACE_TIMER, SIM_PLACE_PERIOD_MS, nullptr);
            return TRUE;
        case WM_ACTIVATE:
            setKeyFilter(LOWORD(wParam) != WA_INACTIVE);
            return FALSE;
        case WM_TIMER:
            if (wParam == SIM_PLACE_TIMER) {
                placeBesideAnchor();
            }
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (!m_ready) {
                return FALSE;  // the first values being filled in
            }
            if (id == SIM_MAJOR && code == CBN_SELCHANGE) {
                const auto index = SendMessageA(control(SIM_MAJOR), CB_GETCURSEL, 0, 0);
                m_panel.setMajor(m_panel.majorFirst() +
                                 static_cast<int>(std::max<LRESULT>(index, 0)));
                showMajors();  // an older one may be offered no more
                showVolts();   // the same volts in the new scaling's counts
            } else if (id == SIM_MINOR && code == EN_CHANGE) {
                m_panel.setMinor(number(SIM_MINOR));
            } else if (id == SIM_INPUT_VOLTAGE && code == EN_CHANGE) {
                if (m_panel.setInputVoltsText(text(SIM_INPUT_VOLTAGE))) {
                    showCounts();
                }
            } else if ((id == SIM_INPUT_VOLTAGE && code == EN_KILLFOCUS) || id == IDOK) {
                // Typed volts done with (the focus gone, or Enter): the field shows what the
                // counts stand for.
                showVolts();
            } else if (id == SIM_TEMPERATURE && code == EN_CHANGE) {
                m_panel.setTemperature(number(SIM_TEMPERATURE));
            } else if (id == SIM_SEND_HISTORY && code == BN_CLICKED) {
                m_panel.sendHistory(number(SIM_HISTORY_POSITION));
            } else if (id == SIM_UNPLUG && code == BN_CLICKED) {
                m_panel.unplug();
                // Nothing to drive any more: the programmer sees the device gone and ends.
                for (HWND child : m_children) {
                    EnableWindow(child, FALSE);
                }
                SetWindowTextA(control(SIM_UNPLUG), "Unplugged");
            } else if (id == IDCANCEL) {
                ShowWindow(m_hwnd, SW_HIDE);  // Esc and the close box hide it; it lives on
            } else {
                return FALSE;
            }
            return TRUE;
        }
        default:
            return FALSE;
    }
}

void SimControlWindow::initControls() {
    // The handles once: the dialog's children never change.
    for (HWND child = GetWindow(m_hwnd, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        m_children.push_back(child);
    }
    showMajors();
    setNumberRange(control(SIM_MINOR), SimPanel::MINOR_FIRST, SimPanel::MINOR_LAST,
                   m_panel.minor());
    setNumberRange(control(SIM_TEMPERATURE), SimPanel::TEMPERATURE_FIRST,
                   SimPanel::TEMPERATURE_LAST, m_panel.temperature());
    setNumberRange(control(SIM_HISTORY_POSITION), SimPanel::HISTORY_FIRST, SimPanel::HISTORY_LAST,
                   SimPanel::HISTORY_FIRST);
    showVolts();
    m_ready = true;
}

void SimControlWindow::showMajors() {
    // Only the versions the panel still offers.
    HWND major = control(SIM_MAJOR);
    SendMessageA(major, CB_RESETCONTENT, 0, 0);
    for (int offered = m_panel.majorFirst(); offered <= SimPanel::MAJOR_LAST; ++offered) {
        SendMessageA(major, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(SimPanel::majorText(offered).c_str()));
    }
    SendMessageA(major, CB_SETCURSEL, static_cast<WPARAM>(m_panel.major() - m_panel.majorFirst()),
                 0);
}

void SimControlWindow::showVolts() {
    const std::string volts = m_panel.inputVoltsText();
    if (text(SIM_INPUT_VOLTAGE) != volts) {
        // Not a change of the user's: the panel holds these volts already.
        const bool ready = m_ready;
        m_ready = false;
        SetWindowTextA(control(SIM_INPUT_VOLTAGE), volts.c_str());
        m_ready = ready;
    }
    showCounts();
}

void SimControlWindow::showCounts() {
    SetWindowTextA(control(SIM_INPUT_COUNTS), m_panel.countsText().c_str());
}

void SimControlWindow::placeBesideAnchor() {
    HWND anchor = m_anchor ? m_anchor() : nullptr;
    if (anchor == nullptr || !IsWindowVisible(anchor)) {
        return;
    }
    KillTimer(m_hwnd, SIM_PLACE_TIMER);
    RECT rect{};
    GetWindowRect(anchor, &rect);
    SetWindowPos(m_hwnd, nullptr, rect.right + SIM_GAP_PIXELS, rect.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(m_hwnd, SW_SHOWNOACTIVATE);
}

HWND SimControlWindow::control(int id) const {
    for (HWND child : m_children) {
        if (GetDlgCtrlID(child) == id) {
            return child;
        }
    }
    return nullptr;
}

std::string SimControlWindow::text(int id) const {
    char buffer[64] = {};
    GetWindowTextA(control(id), buffer, sizeof buffer);
    return buffer;
}

int SimControlWindow::number(int id) const {
    // A field the user is still typing in ("", "-") counts as 0 until it holds a number.
    const std::string digits = text(id);
    char* end = nullptr;
    const long value = std::strtol(digits.c_str(), &end, 10);
    return end == digits.c_str() ? 0 : static_cast<int>(std::clamp(value, -100000L, 100000L));
}

}  // namespace win32
