// The programmer's window on real Win32 controls, driven from inside the test with window
// messages as a user drives it, against the simulated controller. Texts are read back from
// the controls. Under Wine the dialog font has other base units than on Windows, so the
// layout is checked against Windows' own dialog-unit mapping, not against pixel figures.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/CAboutDlg.h"
#include "app/COstrelDlg.h"
#include "app/DialogTemplate.h"
#include "app/Resource.h"
#include "app/StringTable.h"
#include "app/tests/DialogWindowContract.h"
#include "device/Wire.h"
#include "params/ParamTable.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"
#include "win32/SimControlWindow.h"
#include "win32/Win32DialogWindow.h"

namespace {

constexpr DWORD WAIT_MS = 5000;              // far beyond the pump's 200 ms and the poll's second
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;  // the text of a Windows message box

using Frame = std::vector<std::uint8_t>;

Frame frame(std::initializer_list<std::uint8_t> head) {
    Frame bytes(head);
    bytes.resize(REPORT_SIZE, 0);
    return bytes;
}

std::string windowText(HWND hwnd) {
    char text[512] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

std::string className(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

// Runs the thread's messages as a dialog's loop does until `done` or the time is up.
bool pumpUntil(HWND dialog, const std::function<bool()>& done, DWORD timeoutMs = WAIT_MS) {
    const DWORD start = GetTickCount();
    while (true) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog == nullptr || !IsWindow(dialog) || !IsDialogMessageA(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        if (done()) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

void pumpFor(HWND dialog, DWORD ms) {
    pumpUntil(
        dialog, [] { return false; }, ms);
}

// A thread timer: it fires in whatever loop runs, the dialog's or a message box's.
class ThreadTimer {
public:
    ThreadTimer(UINT periodMs, std::function<void()> tick) : m_tick(std::move(tick)) {
        m_id = SetTimer(nullptr, 0, periodMs, &ThreadTimer::proc);
        timers()[m_id] = this;
    }
    ~ThreadTimer() { stop(); }
    void stop() {
        if (m_id != 0) {
            KillTimer(nullptr, m_id);
            timers().erase(m_id);
            m_id = 0;
        }
    }

private:
    static std::map<UINT_PTR, ThreadTimer*>& timers() {
        static std::map<UINT_PTR, ThreadTimer*> all;
        return all;
    }
    static void CALLBACK proc(HWND, UINT, UINT_PTR id, DWORD) {
        if (auto found = timers().find(id); found != timers().end()) {
            found->second->m_tick();
        }
    }
    UINT_PTR m_id = 0;
    std::function<void()> m_tick;
};

// Finds the message boxes and About boxes the thread opens, records them and dismisses
// them with OK once they have been open for `holdMs`.
class BoxWatcher {
public:
    struct Box {
        std::string caption;
        std::string text;
        int buttons;
        bool about;
    };

    BoxWatcher() : m_timer(20, [this] { poll(); }) {}
    void holdFor(DWORD ms) { m_holdMs = ms; }
    const std::vector<Box>& boxes() const { return m_boxes; }
    std::vector<std::string> messages() const {
        std::vector<std::string> texts;
        for (const Box& box : m_boxes) {
            if (!box.about) {
                texts.push_back(box.text);
            }
        }
        return texts;
    }
    int aboutBoxes() const { return static_cast<int>(m_boxes.size() - messages().size()); }

private:
    void poll() {
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND hwnd, LPARAM self) {
                reinterpret_cast<BoxWatcher*>(self)->seen(hwnd);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(this));
    }
    void seen(HWND hwnd) {
        if (GetDlgItem(hwnd, IDC_SEND) != nullptr) {
            return;  // the main window
        }
        const bool about = GetDlgItem(hwnd, ui::IDC_ABOUT_PROGRAM) != nullptr;
        HWND text = GetDlgItem(hwnd, about ? ui::IDC_ABOUT_PROGRAM : MESSAGE_BOX_TEXT_ID);
        if (!IsWindowVisible(hwnd) || className(hwnd) != "#32770" || text == nullptr) {
            return;
        }
        if (m_opened.emplace(hwnd, GetTickCount()).second) {
            int buttons = 0;
            for (HWND child = GetWindow(hwnd, GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                buttons += className(child) == "Button" ? 1 : 0;
            }
            m_boxes.push_back({windowText(hwnd), windowText(text), buttons, about});
        }
        if (GetTickCount() - m_opened[hwnd] >= m_holdMs) {
            m_opened.erase(hwnd);
            PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
        }
    }

    ThreadTimer m_timer;
    DWORD m_holdMs = 0;
    std::map<HWND, DWORD> m_opened;
    std::vector<Box> m_boxes;
};

// The Win32 window runs the dialog in the dialog manager's loop, timers in real time.
struct Win32Traits {
    using Window = win32::Win32DialogWindow;

    static std::unique_ptr<Window> make() {
        return std::make_unique<Window>(GetModuleHandleA(nullptr));
    }
    static int run(Window& window, DialogHandlers& handlers, const std::function<void()>& script) {
        bool started = false;
        ThreadTimer start(5, [&] {
            if (started || window.hwnd() == nullptr || !IsWindowVisible(window.hwnd())) {
                return;
            }
            started = true;
            script();
            if (window.hwnd() != nullptr && IsWindowVisible(window.hwnd())) {
                window.endDialog(DIALOG_CANCEL);
            }
        });
        return window.doModal(handlers);
    }
    static bool waitUntil(Window& window, const std::function<bool()>& done) {
        return pumpUntil(window.hwnd(), done);
    }
    static void pumpAWhile(Window& window) { pumpFor(window.hwnd(), 100); }
    // A click of the mouse, which the system hands to the window under it: a disabled one
    // gets none. (BM_CLICK would reach a disabled button under Wine.)
    static void userClicksSend(Window& window) {
        RECT send{};
        GetWindowRect(GetDlgItem(window.hwnd(), IDC_SEND), &send);
        SetCursorPos((send.left + send.right) / 2, (send.top + send.bottom) / 2);
        INPUT clicks[2] = {};
        clicks[0].type = INPUT_MOUSE;
        clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        clicks[1].type = INPUT_MOUSE;
        clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, clicks, sizeof(INPUT));
    }
    // Through the dialog manager, which presses the default button.
    static void userPressesEnter(Window& window) {
        PostMessageA(GetDlgItem(window.hwnd(), IDC_VALUE_EDIT), WM_KEYDOWN, VK_RETURN, 0);
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, DialogWindowContract, Win32Traits);

class Win32WindowTest : public ::testing::Test {
protected:
    Win32WindowTest()
        : m_controller(std::make_unique<sim::SimulatedOstrel>(m_hid)),
          m_diagnostics(std::tmpfile()),
          m_window(GetModuleHandleA(nullptr)),
          m_dialog({m_hid, m_table, m_window, m_diagnostics, nullptr}) {
        sim::Measurements m = m_controller->firmware().measurements();
        m.inputVoltage = 250;  // 28.08 V with the firmware-1 factor
        m.temperature = -10;
        m.mode = 3;
        m.voltageFlags = 0xA5;
        m.outputFlags = 0x00;
        m_controller->firmware().setMeasurements(m);
        m_controller->firmware().setFirmwareVersion(0x1F);
    }
    ~Win32WindowTest() override { std::fclose(m_diagnostics); }

    // Runs the dialog; `script` runs inside the dialog's loop once the window shows, and
    // the window is closed after it unless it ended already. The end code.
    int run(const std::function<void()>& script) {
        bool started = false;
        ThreadTimer start(5, [&] {
            if (started || hwnd() == nullptr || !IsWindowVisible(hwnd())) {
                return;  // a box before the window runs a loop of its own
            }
            started = true;
            script();
            if (IsWindowVisible(hwnd())) {
                m_window.endDialog(DIALOG_CANCEL);
            }
        });
        return m_window.doModal(m_dialog);
    }

    HWND hwnd() const { return m_window.hwnd(); }
    HWND item(int id) const { return GetDlgItem(hwnd(), id); }
    std::string text(int id) const {
        char buffer[512] = {};
        GetDlgItemTextA(hwnd(), id, buffer, sizeof buffer);
        return buffer;
    }
    bool pump(const std::function<bool()>& done) { return pumpUntil(hwnd(), done); }
    bool waitForFirstStatus() {
        return pump([&] { return windowText(hwnd()) != "Ostrel ver: --"; });
    }
    std::vector<Frame> received(std::uint8_t command) const {
        std::vector<Frame> frames;
        for (const Frame& f : m_controller->firmware().log()) {
            if (!f.empty() && f[0] == command) {
                frames.push_back(f);
            }
        }
        return frames;
    }
    // The user types `c` in the closed list: it selects the next item starting with it.
    void userTypesInList(char c) {
        SetFocus(item(IDC_PARAM_LIST));
        SendMessageA(item(IDC_PARAM_LIST), WM_CHAR, static_cast<WPARAM>(c), 0);
    }
    void userTypesValue(const std::string& value) {
        HWND edit = item(IDC_VALUE_EDIT);
        SetFocus(edit);
        SendMessageA(edit, EM_SETSEL, 0, -1);
        for (const char c : value) {
            SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 0);
        }
    }
    // "Delay before PSU startup": list item 3, address 0x03, size 1, factory value 5.
    void chooseStartupDelay() {
        userTypesInList('D');
        ASSERT_TRUE(pump([&] { return IsWindowEnabled(item(IDC_VALUE_EDIT)) != FALSE; }));
    }

    platform::SimHidPlatform m_hid;
    std::unique_ptr<sim::SimulatedOstrel> m_controller;
    std::FILE* m_diagnostics;
    ParamTable m_table;
    win32::Win32DialogWindow m_window;
    COstrelDlg m_dialog;
    BoxWatcher m_boxes;
};

TEST_F(Win32WindowTest, FirstStatusFillsCaptionAndFieldsAndTheListHoldsTheListedRows) {
    run([&] {
        EXPECT_EQ(GetFocus(), item(IDC_SEND));  // the first tab stop
        ASSERT_TRUE(waitForFirstStatus());
        EXPECT_EQ(windowText(hwnd()), "Ostrel ver: 1.15 mode: 03");
        const std::pair<int, const char*> fields[] = {
            {IDC_VOLTAGE_IN, "28.08"},
            {IDC_TEMPERATURE, "-10"},
            {IDC_VOLTAGE_FLAGS, "10100101"},
            {IDC_OUTPUT_FLAGS, "00000000"},
            {IDC_PARAM_LIST, "Select a message ..."},
            {IDC_UNIT_LABEL, "[---]"},
            {IDC_IO_BUFFER, ""},
        };
        for (const auto& [id, expected] : fields) {
            EXPECT_EQ(text(id), expected) << id;
        }
        HWND list = item(IDC_PARAM_LIST);
        ASSERT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), 39);
        const std::vector<int> rows = m_table.offeredRows();
        for (int i = 1; i < 39; ++i) {
            char name[128] = {};
            SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(name));
            EXPECT_EQ(std::string(name), m_table.row(rows[static_cast<std::size_t>(i - 1)]).name)
                << i;
        }
        EXPECT_TRUE(IsWindowEnabled(list));
        EXPECT_FALSE(IsWindowEnabled(item(IDC_VALUE_EDIT)));
        EXPECT_EQ(IsDlgButtonChecked(hwnd(), IDC_AUTO_REFRESH), UINT{BST_CHECKED});
    });
    EXPECT_TRUE(m_boxes.boxes().empty());
    EXPECT_EQ(received(CMD_STATUS).front(), frame({CMD_STATUS}));
}

// ostrel-sim.exe: the simulator's switch to 2.x keeps the rails' volts in the programmer.
TEST_F(Win32WindowTest, SimulatorOnFirmware2ShowsTheRailsVoltsOfLinux) {
    win32::SimControlWindow panel(GetModuleHandleA(nullptr), *m_controller, nullptr);
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        HWND major = GetDlgItem(panel.hwnd(), win32::SIM_MAJOR);
        SendMessageA(major, CB_SETCURSEL, 1, 0);
        SendMessageA(panel.hwnd(), WM_COMMAND, MAKEWPARAM(win32::SIM_MAJOR, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(major));
        ASSERT_TRUE(pump([&] { return windowText(hwnd()) == "Ostrel ver: 2.15 mode: 03"; }));
        ASSERT_TRUE(pump([&] { return text(IDC_IGNITION) != "12.35"; }));
        const std::pair<int, const char*> rails[] = {
            {IDC_IGNITION, "12.42"},
            {IDC_VOLTAGE_3V, "3.32"},
            {IDC_VOLTAGE_5V, "4.98"},
            {IDC_VOLTAGE_12V, "12.00"},
        };
        for (const auto& [id, volts] : rails) {
            EXPECT_EQ(text(id), volts) << id;
        }
    });
}

// Inside the programmer's modal loop, the active simulator window still takes its keys.
TEST_F(Win32WindowTest, SimulatorWindowGetsItsKeysInsideTheProgrammersLoop) {
    win32::SimControlWindow panel(GetModuleHandleA(nullptr), *m_controller, nullptr);
    run([&] {
        ShowWindow(panel.hwnd(), SW_SHOW);
        SetActiveWindow(panel.hwnd());
        HWND minor = GetDlgItem(panel.hwnd(), win32::SIM_MINOR);
        SetFocus(minor);
        PostMessageA(minor, WM_KEYDOWN, VK_TAB, 0);
        ASSERT_TRUE(pump([&] { return GetFocus() != minor; }));
        EXPECT_EQ(GetFocus(), GetDlgItem(panel.hwnd(), win32::SIM_INPUT_VOLTAGE));
        // Back in the programmer, its own keys are its dialog's again.
        SetActiveWindow(hwnd());
        SetFocus(item(IDC_SEND));
        PostMessageA(item(IDC_SEND), WM_KEYDOWN, VK_TAB, 0);
        EXPECT_TRUE(pump([&] { return GetFocus() != item(IDC_SEND); }));
    });
}

TEST_F(Win32WindowTest, UserSelectionReadsOnceAndTheAnswerFillsTheEditThatSendWrites) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        m_window.setListSelection(IDC_PARAM_LIST, 5);  // the program's choice: silent
        pumpFor(hwnd(), 300);
        EXPECT_TRUE(received(CMD_PARAM).empty());
        m_window.setListSelection(IDC_PARAM_LIST, 0);

        chooseStartupDelay();
        EXPECT_EQ(received(CMD_PARAM), std::vector<Frame>{frame({CMD_PARAM, PARAM_READ, 0x03, 1})});
        EXPECT_EQ(text(IDC_VALUE_EDIT), "5");
        EXPECT_EQ(text(IDC_UNIT_LABEL), "[s]");
        EXPECT_EQ(text(IDC_DESCRIPTION), m_table.row(3).description);

        // Send clicked, then Enter in the edit: the default button.
        userTypesValue("12");
        SendMessageA(item(IDC_SEND), BM_CLICK, 0, 0);
        EXPECT_EQ(received(CMD_PARAM).back(), frame({CMD_PARAM, PARAM_WRITE, 0x03, 1, 12, 0}));
        userTypesValue("7");
        PostMessageA(item(IDC_VALUE_EDIT), WM_KEYDOWN, VK_RETURN, 0);
        EXPECT_TRUE(pump([&] { return received(CMD_PARAM).size() == 3; }));
        EXPECT_EQ(received(CMD_PARAM).back(), frame({CMD_PARAM, PARAM_WRITE, 0x03, 1, 7, 0}));
        EXPECT_EQ(text(IDC_VALUE_EDIT), "7");  // no read-back
    });
    EXPECT_EQ(m_controller->firmware().paramByte(0x03), 7);
    EXPECT_TRUE(m_boxes.boxes().empty());
}

// The rows below the cut edge keep the focus Tab gives them; a line on the lower edge says
// where it is, and goes when the focus comes back into view.
TEST_F(Win32WindowTest, FocusBelowTheEdgeIsNamedOnTheLowerEdge) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        const auto hint = [&] {
            for (HWND child = GetWindow(hwnd(), GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                if (GetDlgCtrlID(child) == 0 && className(child) == "Static") {
                    return IsWindowVisible(child) ? windowText(child) : std::string();
                }
            }
            return std::string();
        };
        SetFocus(item(IDC_STATE));
        EXPECT_EQ(hint(), "Ostrel State: " + text(IDC_STATE));
        SetFocus(item(IDC_AUTO_REFRESH));
        EXPECT_EQ(hint(), std::string("Auto refresh: ") + TEXT_HINT_ON);
        SendMessageA(item(IDC_AUTO_REFRESH), BM_CLICK, 0, 0);
        EXPECT_TRUE(pump([&] { return hint() == std::string("Auto refresh: ") + TEXT_HINT_OFF; }))
            << hint();
        SetFocus(item(IDC_SEND));
        EXPECT_EQ(hint(), "");
    });
}

TEST_F(Win32WindowTest, InvalidValueIsRefusedInABoxThatTimersKeepRunningUnder) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        chooseStartupDelay();
        userTypesValue("1e999");
        const std::size_t writes = received(CMD_PARAM).size();
        const std::size_t polls = received(CMD_STATUS).size();
        m_boxes.holdFor(2500);
        SendMessageA(item(IDC_SEND), BM_CLICK, 0, 0);  // returns once the box is dismissed
        EXPECT_GT(received(CMD_STATUS).size(), polls);
        EXPECT_EQ(received(CMD_PARAM).size(), writes);
        EXPECT_EQ(text(IDC_VALUE_EDIT), "1e999");
    });
    ASSERT_EQ(m_boxes.boxes().size(), 1u);
    EXPECT_EQ(m_boxes.boxes()[0].text, "Invalid or too big value!");
    EXPECT_EQ(m_boxes.boxes()[0].caption, "Ostrel");
    EXPECT_EQ(m_boxes.boxes()[0].buttons, 1);  // OK only
}

TEST_F(Win32WindowTest, UnplugShowsDeviceDisconnectedOnceAndEndsWithZero) {
    const int code = run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        m_controller->unplug();
        ASSERT_TRUE(pump([&] { return !IsWindowVisible(hwnd()); }));
        pumpFor(hwnd(), 1200);  // ticks still due bring no second box
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(m_boxes.messages(), std::vector<std::string>{"Device disconnected!"});
    EXPECT_EQ(m_controller->device().openHandles(), 0);
}

TEST_F(Win32WindowTest, EscAndTheCloseBoxEndWithCancelAndReleaseTheDevice) {
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Esc" : "close box");
        platform::SimHidPlatform hid;
        sim::SimulatedOstrel controller(hid);
        win32::Win32DialogWindow window(GetModuleHandleA(nullptr));
        ParamTable table;
        COstrelDlg dialog({hid, table, window, m_diagnostics, nullptr});
        ThreadTimer close(300, [&] {
            if (window.hwnd() != nullptr) {
                PostMessageA(escape ? GetDlgItem(window.hwnd(), IDC_PARAM_LIST) : window.hwnd(),
                             escape ? WM_KEYDOWN : WM_SYSCOMMAND, escape ? VK_ESCAPE : SC_CLOSE, 0);
            }
        });
        EXPECT_EQ(window.doModal(dialog), DIALOG_CANCEL);
        EXPECT_EQ(controller.device().openHandles(), 0);
    }
}

TEST_F(Win32WindowTest, SystemMenuAboutItemAnswersIdsSixteenToThirtyOneOnly) {
    run([&] {
        HMENU menu = GetSystemMenu(hwnd(), FALSE);
        const int count = GetMenuItemCount(menu);
        char label[64] = {};
        GetMenuStringA(menu, IDM_ABOUTBOX, label, sizeof label, MF_BYCOMMAND);
        EXPECT_EQ(std::string(label), "&About Ostrel...");
        EXPECT_EQ(GetMenuItemID(menu, count - 1), IDM_ABOUTBOX);
        EXPECT_EQ(GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR,
                  static_cast<UINT>(MF_SEPARATOR));

        for (const WPARAM id : {0x0000, 0x000F, 0x0010, 0x0017, 0x001F, 0x0020, 0x0110}) {
            SendMessageA(hwnd(), WM_SYSCOMMAND, id, 0);
        }
        EXPECT_NE(SendMessageA(hwnd(), WM_QUERYDRAGICON, 0, 0), 0);
        EXPECT_EQ(SendMessageA(hwnd(), WM_QUERYDRAGICON, 0, 0),
                  SendMessageA(hwnd(), WM_GETICON, ICON_BIG, 0));
    });
    EXPECT_EQ(m_boxes.aboutBoxes(), 3);
    for (const auto& box : m_boxes.boxes()) {
        EXPECT_EQ(box.caption, "About Ostrel");
        EXPECT_EQ(box.text, CAboutDlg::programLine());
    }
}

TEST_F(Win32WindowTest, WindowIsTheTemplateLaidOutByWindowsAndCutBy204Pixels) {
    run([&] {
        const ui::DialogTemplate& t = ui::mainDialogTemplate();
        auto mapped = [&](int x, int y, int cx, int cy) {
            // As the dialog manager maps an item: each of the four figures on its own.
            RECT units{x, y, cx, cy};
            MapDialogRect(hwnd(), &units);
            return RECT{units.left, units.top, units.left + units.right, units.top + units.bottom};
        };
        RECT full = mapped(0, 0, t.cx, t.cy);
        AdjustWindowRectEx(&full, static_cast<DWORD>(GetWindowLongA(hwnd(), GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongA(hwnd(), GWL_EXSTYLE)));
        RECT window{};
        GetWindowRect(hwnd(), &window);
        EXPECT_EQ(window.right - window.left, full.right - full.left);
        EXPECT_EQ(window.bottom - window.top, full.bottom - full.top - WINDOW_HEIGHT_CUT);

        // The children in z-order are the template's items in order, each where its dialog
        // units put it (a closed list is one line; a picture has its picture's size).
        std::vector<std::pair<const ui::TemplateItem*, RECT>> placed;
        HWND child = GetWindow(hwnd(), GW_CHILD);
        for (const ui::TemplateItem& templateItem : t.items) {
            ASSERT_NE(child, nullptr);
            SCOPED_TRACE(std::string(templateItem.text) + " " + std::to_string(templateItem.id));
            EXPECT_EQ(GetDlgCtrlID(child),
                      templateItem.id == ui::IDC_STATIC ? 0xFFFF : templateItem.id);
            RECT rect{};
            GetWindowRect(child, &rect);
            MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&rect), 2);
            const RECT expected =
                mapped(templateItem.x, templateItem.y, templateItem.cx, templateItem.cy);
            EXPECT_EQ(rect.left, expected.left);
            EXPECT_EQ(rect.top, expected.top);
            const bool sized = templateItem.kind != ui::ItemKind::Bitmap &&
                               templateItem.kind != ui::ItemKind::DropDownList;
            if (sized) {
                EXPECT_EQ(rect.right, expected.right);
                EXPECT_EQ(rect.bottom, expected.bottom);
            }
            // Template texts arrive through Windows-1252 as they are: "[°C]" included.
            if (sized && templateItem.kind != ui::ItemKind::Icon) {
                EXPECT_EQ(windowText(child), templateItem.text);
            }
            if (templateItem.kind != ui::ItemKind::GroupBox) {
                placed.emplace_back(&templateItem, rect);
            }
            child = GetWindow(child, GW_HWNDNEXT);
        }
        // Nothing but the group boxes overlaps anything.
        for (std::size_t a = 0; a < placed.size(); ++a) {
            for (std::size_t b = a + 1; b < placed.size(); ++b) {
                RECT overlap{};
                EXPECT_FALSE(IntersectRect(&overlap, &placed[a].second, &placed[b].second))
                    << placed[a].first->text << "/" << placed[a].first->id << " and "
                    << placed[b].first->text << "/" << placed[b].first->id;
            }
        }
    });
}

}  // namespace
