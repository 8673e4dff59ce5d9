// The adapter's own contract, with a scripted dialog instead of the window logic.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/CAboutDlg.h"
#include "app/Resource.h"
#include "qt/AboutDialog.h"
#include "qt/Cp1252.h"
#include "qt/DialogTemplate.h"
#include "qt/QtDialogWindow.h"

namespace {

// Records the messages it gets; OnInitDialog runs a step of the test's choosing.
class ScriptedDialog final : public DialogHandlers {
public:
    std::function<bool()> init = [] { return true; };
    std::function<void(unsigned)> timer = [](unsigned) {};
    std::vector<std::string> calls;

    bool OnInitDialog() override {
        calls.push_back("init");
        return init();
    }
    void OnTimer(unsigned id) override {
        calls.push_back("timer" + std::to_string(id));
        timer(id);
    }
    void OnParamSelChange() override { calls.push_back("selchange"); }
    void OnSendClicked() override { calls.push_back("send"); }
    void OnAutoRefreshClicked() override { calls.push_back("autorefresh"); }
    void OnSysCommand(unsigned id) override { calls.push_back("syscommand" + std::to_string(id)); }
    void OnPaint() override {}
    void OnDestroy() override { calls.push_back("destroy"); }
    void OnFocusChange(int) override {}

    int count(const std::string& call) const {
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }
};

// Runs the dialog; `script` runs in its loop once it shows, then the window is closed.
int runShown(qtui::QtDialogWindow& window, ScriptedDialog& dialog,
             const std::function<void()>& script) {
    QTimer::singleShot(0, [&] {
        script();
        window.endDialog(DIALOG_CANCEL);
    });
    return window.doModal(dialog);
}

TEST(QtDialogWindow, ListOperationsAnswerLikeAWindowsList) {
    qtui::QtDialogWindow window;
    EXPECT_EQ(window.addListItem(IDC_PARAM_LIST, "first"), 0);
    EXPECT_EQ(window.addListItem(IDC_PARAM_LIST, "second"), 1);
    EXPECT_EQ(window.listCount(IDC_PARAM_LIST), 2);
    EXPECT_EQ(window.listItemData(IDC_PARAM_LIST, 1), 0);  // new items carry 0
    window.setListItemData(IDC_PARAM_LIST, 0, PLACEHOLDER_ITEM_DATA);
    window.setListItemData(IDC_PARAM_LIST, 1, 0x7FFFFFFF);
    EXPECT_EQ(window.listItemData(IDC_PARAM_LIST, 0), -1);
    EXPECT_EQ(window.listItemData(IDC_PARAM_LIST, 1), 0x7FFFFFFF);

    struct Bad {
        int control;
        int index;
    };
    for (const Bad& bad :
         {Bad{IDC_PARAM_LIST, 2}, Bad{IDC_PARAM_LIST, -1}, Bad{IDC_VALUE_EDIT, 0}, Bad{4242, 0}}) {
        EXPECT_EQ(window.listItemData(bad.control, bad.index), -1);
        window.setListItemData(bad.control, bad.index, 5);  // ignored, no crash
    }
    EXPECT_EQ(window.addListItem(IDC_VALUE_EDIT, "x"), -1);
    EXPECT_EQ(window.listCount(IDC_SEND), 0);
    EXPECT_EQ(window.listSelection(IDC_SEND), -1);

    window.setListSelection(IDC_PARAM_LIST, 1);
    EXPECT_EQ(window.listSelection(IDC_PARAM_LIST), 1);
    window.setListSelection(IDC_PARAM_LIST, 7);  // outside the list: no selection
    EXPECT_EQ(window.listSelection(IDC_PARAM_LIST), -1);
    window.setListSelection(IDC_PARAM_LIST, 0);
    EXPECT_EQ(window.controlText(IDC_PARAM_LIST), "first");
}

TEST(QtDialogWindow, TextsCrossAsWindows1252) {
    qtui::QtDialogWindow window;
    window.setControlText(IDC_UNIT_LABEL,
                          "[\xB0"
                          "C]");
    EXPECT_EQ(qobject_cast<QLabel*>(window.control(IDC_UNIT_LABEL))->text(),
              QString::fromUtf8("[\u00B0C]"));
    EXPECT_EQ(window.controlText(IDC_UNIT_LABEL),
              "[\xB0"
              "C]");

    // What a user types that the code page cannot hold arrives as '?'.
    auto* edit = qobject_cast<QLineEdit*>(window.control(IDC_VALUE_EDIT));
    edit->setText(QString::fromUtf8("1\u00B0\u0101\U0001F600"));
    EXPECT_EQ(window.controlText(IDC_VALUE_EDIT), "1\xB0??");

    // Markup stays text.
    window.setControlText(IDC_DESCRIPTION, "<b>bold</b>");
    EXPECT_EQ(qobject_cast<QLabel*>(window.control(IDC_DESCRIPTION))->textFormat(), Qt::PlainText);
    EXPECT_EQ(window.controlText(IDC_DESCRIPTION), "<b>bold</b>");

    // A long text shows its beginning.
    window.setControlText(IDC_STATUS_HISTORY, std::string(200, '7'));
    EXPECT_EQ(qobject_cast<QLineEdit*>(window.control(IDC_STATUS_HISTORY))->cursorPosition(), 0);

    EXPECT_EQ(window.controlText(4242), "");
    window.setControlText(4242, "nowhere");  // no such control: nothing happens
}

TEST(QtDialogWindow, CaptionShowsExactlyTheTextGiven) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    runShown(window, dialog, [&] {
        window.setCaption("Ostrel ver: 2.1 mode: 03 [*]");
        EXPECT_EQ(window.dialog().windowHandle()->title(),
                  QStringLiteral("Ostrel ver: 2.1 mode: 03 [*]"));
    });
}

TEST(QtDialogWindow, ChecksAndEnablingReachTheWidgets) {
    qtui::QtDialogWindow window;
    window.setCheck(IDC_AUTO_REFRESH, true);
    EXPECT_TRUE(window.isChecked(IDC_AUTO_REFRESH));
    window.setCheck(IDC_AUTO_REFRESH, false);
    EXPECT_FALSE(window.isChecked(IDC_AUTO_REFRESH));
    window.setCheck(IDC_SEND, true);  // not a check box
    EXPECT_FALSE(window.isChecked(IDC_SEND));
    window.enableControl(IDC_PARAM_LIST, false);
    EXPECT_FALSE(window.control(IDC_PARAM_LIST)->isEnabled());
    window.enableControl(4242, false);
}

TEST(QtDialogWindow, MovingTheWindowRectIsHonestAboutTheFrame) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    dialog.init = [&] {
        Rect rect = window.windowRect();
        EXPECT_EQ(rect.height() - window.clientRect().height(),
                  window.dialog().frameGeometry().height() - window.dialog().height());
        rect.bottom -= WINDOW_HEIGHT_CUT;
        window.moveWindow(rect);
        EXPECT_EQ(window.windowRect(), rect);
        return true;
    };
    runShown(window, dialog, [&] {
        EXPECT_EQ(window.clientRect(), (Rect{0, 0, 518, 457 - WINDOW_HEIGHT_CUT}));
        // Fixed: the user cannot resize it.
        EXPECT_EQ(window.dialog().minimumSize(), window.dialog().maximumSize());
    });
}

TEST(QtDialogWindow, EndingTheDialogDuringInitialisationNeverShowsIt) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    bool shown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { shown |= window.dialog().isVisible(); });
    watch.start(1);
    dialog.init = [&] {
        window.endDialog(7);
        return true;
    };
    EXPECT_EQ(window.doModal(dialog), 7);
    EXPECT_FALSE(shown);
    EXPECT_EQ(dialog.calls, (std::vector<std::string>{"init", "destroy"}));
    // One dialog per window.
    EXPECT_EQ(window.doModal(dialog), -1);
}

TEST(QtDialogWindow, TheFirstTabStopGetsTheFocusAfterInitialisation) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    runShown(window, dialog, [&] {
        EXPECT_TRUE(window.dialog().isVisible());
        EXPECT_EQ(window.dialog().focusWidget(), window.control(IDC_SEND));
    });
}

TEST(QtDialogWindow, TimersTickWithTheirIdsUntilKilledEvenFromTheirOwnTick) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    EXPECT_EQ(window.setTimer(0, 10), 0u);  // id 0 makes no timer
    dialog.timer = [&](unsigned id) {
        if (id == 5) {
            window.killTimer(5);  // from inside its own tick
        }
    };
    runShown(window, dialog, [&] {
        EXPECT_EQ(window.setTimer(5, 10), 5u);
        EXPECT_EQ(window.setTimer(6, 10), 6u);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.count("timer6") >= 3; }, 5000));
        window.killTimer(6);
        const int ticks = dialog.count("timer6");
        QTest::qWait(100);
        EXPECT_EQ(dialog.count("timer6"), ticks);
        EXPECT_EQ(dialog.count("timer5"), 1);
    });
    EXPECT_EQ(dialog.calls.back(), "destroy");
}

TEST(QtDialogWindow, TimersStopWithTheWindow) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    dialog.init = [&] {
        window.setTimer(TIMER_PUMP, 10);
        return true;
    };
    runShown(window, dialog, [&] { QTest::qWait(50); });
    const auto calls = dialog.calls.size();
    QTest::qWait(100);
    EXPECT_EQ(dialog.calls.size(), calls);
    EXPECT_EQ(window.setTimer(TIMER_PUMP, 10), 0u);  // the window is gone
}

TEST(QtDialogWindow, ButtonsAndTheSystemMenuDeliverTheirMessages) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    dialog.init = [&] {
        EXPECT_TRUE(window.hasSystemMenu());
        window.appendSystemMenuSeparator();
        window.appendSystemMenuItem(IDM_ABOUTBOX, "&About Ostrel...");
        return true;
    };
    runShown(window, dialog, [&] {
        qobject_cast<QAbstractButton*>(window.control(IDC_SEND))->click();
        qobject_cast<QAbstractButton*>(window.control(IDC_AUTO_REFRESH))->click();
        window.systemMenu().actions().back()->trigger();
    });
    EXPECT_EQ(dialog.count("send"), 1);
    EXPECT_EQ(dialog.count("autorefresh"), 1);
    EXPECT_EQ(dialog.count("syscommand16"), 1);
    EXPECT_EQ(dialog.count("selchange"), 0);
}

TEST(QtDialogWindow, OnlyTheUsersChoiceIsASelectionChange) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    dialog.init = [&] {
        for (const char* text : {"a", "b", "c"}) {
            window.addListItem(IDC_PARAM_LIST, text);
        }
        window.setListSelection(IDC_PARAM_LIST, 0);
        return true;
    };
    runShown(window, dialog, [&] {
        window.setListSelection(IDC_PARAM_LIST, 2);
        EXPECT_EQ(dialog.count("selchange"), 0);
        auto* list = qobject_cast<QComboBox*>(window.control(IDC_PARAM_LIST));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Up);  // the user moves the selection
        EXPECT_EQ(dialog.count("selchange"), 1);
        EXPECT_EQ(window.listSelection(IDC_PARAM_LIST), 1);
    });
}

TEST(AboutDialog, ShowsTheAboutTextsOnTemplate100) {
    EXPECT_EQ(qtui::aboutDialogTemplate().cx, CAboutDlg::WIDTH_DU);
    EXPECT_EQ(qtui::aboutDialogTemplate().cy, CAboutDlg::HEIGHT_DU);
    qtui::AboutDialog about(nullptr);
    EXPECT_EQ(about.size(), QSize(353, 89));  // 235 x 55 units
    EXPECT_EQ(qtui::toCp1252(about.windowTitle()), CAboutDlg::CAPTION);
    std::vector<std::string> texts;
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            texts.push_back(qtui::toCp1252(label->text()));
        }
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{CAboutDlg::programLine(), CAboutDlg::descriptionLine()}));
    EXPECT_NE(CAboutDlg::descriptionLine().find("License: MIT\nhttps://ostrel.invalid/"),
              std::string::npos);
    // The wrapped description fits its rectangle.
    for (const QLabel* label : about.findChildren<QLabel*>()) {
        if (label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height());
        }
    }
}

}  // namespace
