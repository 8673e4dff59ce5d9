#include "win32/SimControlWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Resource.h"
#include "params/ParamTable.h"
#include "sim/SimulatedOstrel.h"
#include "win32/DialogTemplateWriter.h"

namespace win32 {
namespace {

constexpr int SIM_MAJOR_FIRST = 1;
constexpr int SIM_MAJOR_LAST = 2;
constexpr int SIM_MINOR_LAST = 15;
constexpr int SIM_RAW_MAX = 255;
constexpr int SIM_HISTORY_FIRST = 2;  // report offsets of the history entries
constexpr int SIM_HISTORY_LAST = 23;
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
            204,
            {
                group("Firmware", 4, 48),
                label("Major version:", 17),
                {CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, SIM_MAJOR, CLASS_COMBOBOX, nullptr, "",
                 0, 84, 16, 62, 60},
                label("Minor version:", 33),
                field(SIM_MINOR, 84, 33, 40),
                spin(),
                group("Measurements", 56, 64),
                label("Input voltage [V]:", 69),
                field(SIM_INPUT_VOLTAGE, 84, 69, 62),
                label("Sent as:", 85),
                {SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, SIM_INPUT_COUNTS, CLASS_STATIC, nullptr,
                 "", 0, 84, 85, 62, 12},
                label("Temperature [\xB0"
                      "C]:",
                      101),
                field(SIM_TEMPERATURE, 84, 101, 40),
                spin(),
                group("History report", 124, 52),
                label("Marked offset:", 139),
                field(SIM_HISTORY_POSITION, 84, 139, 30),
                spin(),
                button(SIM_SEND_HISTORY, "Send &history", 84, 156, 62),
                button(SIM_UNPLUG, "&Unplug the controller", 7, 182, 146),
            }};
}

// The one simulator window of the thread, for the message filter.
SimControlWindow* g_window = nullptr;

void setNumberRange(HWND dialog, int field, int low, int high, int value) {
    // The arrows are the window after their field.
    HWND spinControl = GetWindow(GetDlgItem(dialog, field), GW_HWNDNEXT);
    SendMessageA(spinControl, UDM_SETRANGE32, static_cast<WPARAM>(low), high);
    SendMessageA(spinControl, UDM_SETPOS32, 0, value);
    SetDlgItemInt(dialog, field, static_cast<UINT>(value), TRUE);
}

}  // namespace

SimControlWindow::SimControlWindow(HINSTANCE instance, sim::SimulatedOstrel& controller,
                                   std::function<HWND()> anchor)
    : m_controller(controller), m_anchor(std::move(anchor)) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    const DialogTemplateBuffer buffer(windowDefinition());
    m_hwnd = CreateDialogIndirectParamA(instance, buffer.get(), nullptr, &dialogProc,
                                        reinterpret_cast<LPARAM>(this));
    // The programmer's modal loop knows only its own dialog: its message filter hands this
    // window's keys (Tab, Enter, mnemonics) to the dialog manager too.
    if (g_window == nullptr) {
        g_window = this;
        m_filter = SetWindowsHookExA(WH_MSGFILTER, &messageFilter, nullptr, GetCurrentThreadId());
    }
}

SimControlWindow::~SimControlWindow() {
    if (m_filter != nullptr) {
        UnhookWindowsHookEx(m_filter);
        g_window = nullptr;
    }
    if (m_hwnd != nullptr) {
        DestroyWindow(m_hwnd);
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
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && g_window != nullptr && g_window->m_hwnd != nullptr &&
        IsDialogMessageA(g_window->m_hwnd, msg)) {
        return TRUE;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
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
                applyFirmwareVersion();
                applyMeasurements();  // the same volts in the new firmware's counts
            } else if (id == SIM_MINOR && code == EN_CHANGE) {
                applyFirmwareVersion();
            } else if ((id == SIM_INPUT_VOLTAGE || id == SIM_TEMPERATURE) && code == EN_CHANGE) {
                applyMeasurements();
            } else if (id == SIM_SEND_HISTORY && code == BN_CLICKED) {
                m_controller.firmware().sendHistory(static_cast<std::uint8_t>(
                    std::clamp(number(SIM_HISTORY_POSITION), SIM_HISTORY_FIRST, SIM_HISTORY_LAST)));
            } else if (id == SIM_UNPLUG && code == BN_CLICKED) {
                m_controller.unplug();
                // Nothing to drive any more: the programmer sees the device gone and ends.
                for (HWND child = GetWindow(m_hwnd, GW_CHILD); child != nullptr;
                     child = GetWindow(child, GW_HWNDNEXT)) {
                    EnableWindow(child, FALSE);
                }
                SetDlgItemTextA(m_hwnd, SIM_UNPLUG, "Unplugged");
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
    const std::uint8_t version = m_controller.firmware().firmwareVersion();
    const sim::Measurements measured = m_controller.firmware().measurements();
    for (int major = SIM_MAJOR_FIRST; major <= SIM_MAJOR_LAST; ++major) {
        const std::string text = std::to_string(major) + ".x";
        SendDlgItemMessageA(m_hwnd, SIM_MAJOR, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(text.c_str()));
    }
    SendDlgItemMessageA(
        m_hwnd, SIM_MAJOR, CB_SETCURSEL,
        static_cast<WPARAM>(std::clamp(version >> 4, SIM_MAJOR_FIRST, SIM_MAJOR_LAST) -
                            SIM_MAJOR_FIRST),
        0);
    setNumberRange(m_hwnd, SIM_MINOR, 0, SIM_MINOR_LAST, version & 0x0F);
    setNumberRange(m_hwnd, SIM_TEMPERATURE, INT8_MIN, INT8_MAX, measured.temperature);
    setNumberRange(m_hwnd, SIM_HISTORY_POSITION, SIM_HISTORY_FIRST, SIM_HISTORY_LAST,
                   SIM_HISTORY_FIRST);
    char volts[32];
    std::snprintf(volts, sizeof volts, "%.2f", measured.inputVoltage * inputVoltageFactor());
    SetDlgItemTextA(m_hwnd, SIM_INPUT_VOLTAGE, volts);
    m_ready = true;
    applyMeasurements();
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

int SimControlWindow::selectedMajor() const {
    const auto index = SendDlgItemMessageA(m_hwnd, SIM_MAJOR, CB_GETCURSEL, 0, 0);
    return SIM_MAJOR_FIRST + static_cast<int>(std::max<LRESULT>(index, 0));
}

double SimControlWindow::inputVoltageFactor() const {
    ParamTable table;
    table.applyFirmwareVersion(static_cast<std::uint8_t>(selectedMajor() << 4));
    return table.row(ROW_INPUT_VOLTAGE).factor;
}

int SimControlWindow::number(int control) const {
    BOOL ok = FALSE;
    const int value = static_cast<int>(GetDlgItemInt(m_hwnd, control, &ok, TRUE));
    return ok ? value : 0;
}

void SimControlWindow::applyFirmwareVersion() {
    const int minor = std::clamp(number(SIM_MINOR), 0, SIM_MINOR_LAST);
    m_controller.firmware().setFirmwareVersion(
        static_cast<std::uint8_t>((selectedMajor() << 4) | minor));
}

void SimControlWindow::applyMeasurements() {
    sim::Measurements measured = m_controller.firmware().measurements();
    char text[64] = {};
    GetDlgItemTextA(m_hwnd, SIM_INPUT_VOLTAGE, text, sizeof text);
    char* end = nullptr;
    const double volts = std::strtod(text, &end);
    if (end != text && std::isfinite(volts)) {
        const long counts = std::lround(
            std::clamp(volts / inputVoltageFactor(), 0.0, static_cast<double>(SIM_RAW_MAX)));
        measured.inputVoltage = static_cast<std::uint8_t>(counts);
    }
    measured.temperature = static_cast<std::int8_t>(std::clamp(
        number(SIM_TEMPERATURE), static_cast<int>(INT8_MIN), static_cast<int>(INT8_MAX)));
    m_controller.firmware().setMeasurements(measured);
    const std::string counts = std::to_string(measured.inputVoltage) + " counts";
    SetDlgItemTextA(m_hwnd, SIM_INPUT_COUNTS, counts.c_str());
}

}  // namespace win32
