// What every DialogWindow does alike, run over each implementation: the recording window
// of the logic's tests, the Qt window and the Win32 window. Each instantiation gives a
// traits type:
//   using Window = ...;
//   static std::unique_ptr<Window> make();
//   // Runs window.doModal(handlers); `script` runs once inside the dialog's loop, with
//   // the window shown, and the window is closed after it unless it ended. The end code.
//   static int run(Window&, DialogHandlers&, const std::function<void()>& script);
//   // Lets the window's messages (timers) arrive until `done`; false after 5 s.
//   static bool waitUntil(Window&, const std::function<bool()>& done);
//   // Lets them arrive for as long as ten 10 ms timer periods.
//   static void pumpAWhile(Window&);
//   // The user clicks Send; presses Enter in the value edit.
//   static void userClicksSend(Window&);
//   static void userPressesEnter(Window&);
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/DialogWindow.h"
#include "app/Resource.h"

namespace contract {

// Records the messages it gets; OnInitDialog runs a step of the test's choosing.
class ScriptedDialog final : public DialogHandlers {
public:
    std::function<void()> init = [] {};
    std::function<void(unsigned)> timer = [](unsigned) {};
    std::vector<std::string> calls;

    bool OnInitDialog() override {
        calls.emplace_back("init");
        init();
        return true;
    }
    void OnTimer(unsigned id) override {
        calls.push_back("timer" + std::to_string(id));
        timer(id);
    }
    void OnParamSelChange() override { calls.emplace_back("selchange"); }
    void OnSendClicked() override { calls.emplace_back("send"); }
    void OnAutoRefreshClicked() override { calls.emplace_back("autorefresh"); }
    void OnSysCommand(unsigned id) override { calls.push_back("syscommand" + std::to_string(id)); }
    void OnPaint() override {}
    void OnDestroy() override { calls.emplace_back("destroy"); }
    void OnFocusChange(int) override {}

    int count(const std::string& call) const {
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }
};

}  // namespace contract

template <typename Traits>
class DialogWindowContract : public ::testing::Test {
protected:
    using Window = typename Traits::Window;

    // Runs `script` inside the running dialog; the end code.
    int run(const std::function<void()>& script) {
        return Traits::run(*m_window, m_dialog, script);
    }

    std::unique_ptr<Window> m_window = Traits::make();
    contract::ScriptedDialog m_dialog;
};

TYPED_TEST_SUITE_P(DialogWindowContract);

TYPED_TEST_P(DialogWindowContract, ListAnswersLikeAWindowsList) {
    DialogWindow& window = *this->m_window;
    this->run([&] {
        EXPECT_EQ(window.listSelection(IDC_PARAM_LIST), -1);  // nothing chosen yet
        EXPECT_EQ(window.addListItem(IDC_PARAM_LIST, "first"), 0);
        EXPECT_EQ(window.addListItem(IDC_PARAM_LIST, "second \xB0"), 1);
        EXPECT_EQ(window.listCount(IDC_PARAM_LIST), 2);
        EXPECT_EQ(window.listItemData(IDC_PARAM_LIST, 1), 0);  // new items carry 0
        window.setListItemData(IDC_PARAM_LIST, 0, PLACEHOLDER_ITEM_DATA);
        window.setListItemData(IDC_PARAM_LIST, 1, 0x7FFFFFFF);
        EXPECT_EQ(window.listItemData(IDC_PARAM_LIST, 0), -1);
        EXPECT_EQ(window.listItemData(IDC_PARAM_LIST, 1), 0x7FFFFFFF);
        for (const int outside : {2, -1}) {
            EXPECT_EQ(window.listItemData(IDC_PARAM_LIST, outside), -1) << outside;
        }

        // The list's text is its selection's, and only a selection sets it.
        window.setListSelection(IDC_PARAM_LIST, 1);
        EXPECT_EQ(window.listSelection(IDC_PARAM_LIST), 1);
        EXPECT_EQ(window.controlText(IDC_PARAM_LIST), "second \xB0");
        window.setControlText(IDC_PARAM_LIST, "first");
        EXPECT_EQ(window.listSelection(IDC_PARAM_LIST), 1);
        window.setListSelection(IDC_PARAM_LIST, 7);  // outside the list: no selection
        EXPECT_EQ(window.listSelection(IDC_PARAM_LIST), -1);
        EXPECT_EQ(window.controlText(IDC_PARAM_LIST), "");
    });
    // The program's selections are never the user's.
    EXPECT_EQ(this->m_dialog.count("selchange"), 0);
}

TYPED_TEST_P(DialogWindowContract, TextsAndChecksRoundTripAsWindows1252) {
    DialogWindow& window = *this->m_window;
    this->run([&] {
        const std::string degrees =
            "[\xB0"
            "C]";
        for (const int control : {IDC_UNIT_LABEL, IDC_VALUE_EDIT, IDC_STATUS_HISTORY}) {
            for (const std::string& text : {degrees, std::string(200, '7'), std::string()}) {
                window.setControlText(control, text);
                EXPECT_EQ(window.controlText(control), text) << control;
            }
        }
        // Every setting reaches the control, the same text again included.
        window.setControlText(IDC_VALUE_EDIT, "5");
        window.setControlText(IDC_VALUE_EDIT, "5");
        EXPECT_EQ(window.controlText(IDC_VALUE_EDIT), "5");
        for (const bool checked : {false, true, false}) {
            window.setCheck(IDC_AUTO_REFRESH, checked);
            EXPECT_EQ(window.isChecked(IDC_AUTO_REFRESH), checked);
        }
        window.setCaption("Ostrel ver: 2.1 mode: 03");
    });
}

TYPED_TEST_P(DialogWindowContract, RunsInitThenItsLoopThenDestroyAndReturnsTheEndCode) {
    EXPECT_EQ(this->run([&] { this->m_window->endDialog(7); }), 7);
    EXPECT_EQ(this->m_dialog.calls, (std::vector<std::string>{"init", "destroy"}));
    EXPECT_EQ(this->m_window->doModal(this->m_dialog), -1);  // one dialog per window
    EXPECT_EQ(this->m_dialog.count("init"), 1);

    // Ended during its initialisation: no loop runs, destroy still does.
    auto early = TypeParam::make();
    contract::ScriptedDialog dialog;
    bool looped = false;
    dialog.init = [&] { early->endDialog(DIALOG_OK); };
    EXPECT_EQ(TypeParam::run(*early, dialog, [&] { looped = true; }), DIALOG_OK);
    EXPECT_FALSE(looped);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"init", "destroy"}));
}

TYPED_TEST_P(DialogWindowContract, TimersTickWithTheirIdsUntilKilledEvenFromTheirOwnTick) {
    DialogWindow& window = *this->m_window;
    contract::ScriptedDialog& dialog = this->m_dialog;
    dialog.timer = [&](unsigned id) {
        if (id == 5) {
            window.killTimer(5);
        }
    };
    this->run([&] {
        EXPECT_EQ(window.setTimer(0, 10), 0u);  // id 0 makes no timer
        EXPECT_EQ(window.setTimer(5, 10), 5u);
        EXPECT_EQ(window.setTimer(6, 10), 6u);
        ASSERT_TRUE(
            TypeParam::waitUntil(*this->m_window, [&] { return dialog.count("timer6") >= 3; }));
        window.killTimer(6);
        const int ticks = dialog.count("timer6");
        TypeParam::pumpAWhile(*this->m_window);
        EXPECT_EQ(dialog.count("timer6"), ticks);
        EXPECT_EQ(dialog.count("timer5"), 1);
    });
    EXPECT_EQ(dialog.calls.back(), "destroy");
}

TYPED_TEST_P(DialogWindowContract, MovesTheWindowItsRectSays) {
    DialogWindow& window = *this->m_window;
    this->m_dialog.init = [&] {
        EXPECT_TRUE(window.hasSystemMenu());
        Rect rect = window.windowRect();
        EXPECT_GT(rect.height(), WINDOW_HEIGHT_CUT);
        EXPECT_GE(rect.height(), window.clientRect().height());  // the frame is counted
        rect.bottom -= WINDOW_HEIGHT_CUT;
        window.moveWindow(rect);
        EXPECT_EQ(window.windowRect(), rect);
    };
    this->run([&] { EXPECT_FALSE(window.isIconic()); });
}

// The editor switched off while another program holds the controller rests on this: a
// disabled Send takes neither a click nor Enter, the default button's key.
TYPED_TEST_P(DialogWindowContract, ADisabledSendTakesNeitherAClickNorEnter) {
    auto& window = *this->m_window;
    const contract::ScriptedDialog& dialog = this->m_dialog;
    this->run([&] {
        window.enableControl(IDC_SEND, false);
        TypeParam::userClicksSend(window);
        TypeParam::pumpAWhile(window);
        EXPECT_EQ(dialog.count("send"), 0) << "a click";
        TypeParam::userPressesEnter(window);
        TypeParam::pumpAWhile(window);
        EXPECT_EQ(dialog.count("send"), 0) << "Enter";

        window.enableControl(IDC_SEND, true);
        TypeParam::userClicksSend(window);
        EXPECT_TRUE(TypeParam::waitUntil(window, [&] { return dialog.count("send") == 1; }));
        TypeParam::userPressesEnter(window);
        EXPECT_TRUE(TypeParam::waitUntil(window, [&] { return dialog.count("send") == 2; }));
    });
}

REGISTER_TYPED_TEST_SUITE_P(DialogWindowContract, ListAnswersLikeAWindowsList,
                            TextsAndChecksRoundTripAsWindows1252,
                            RunsInitThenItsLoopThenDestroyAndReturnsTheEndCode,
                            TimersTickWithTheirIdsUntilKilledEvenFromTheirOwnTick,
                            MovesTheWindowItsRectSays, ADisabledSendTakesNeitherAClickNorEnter);
