// The Qt window: the contract every DialogWindow keeps, and what only the Qt one does,
// with a scripted dialog instead of the window logic.
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
#include <memory>
#include <string>
#include <vector>

#include "app/CAboutDlg.h"
#include "app/DialogTemplate.h"
#include "app/Resource.h"
#include "app/tests/DialogWindowContract.h"
#include "qt/AboutDialog.h"
#include "qt/Cp1252.h"
#include "qt/QtDialogWindow.h"

namespace {

using contract::ScriptedDialog;

// The Qt window runs the dialog in an event loop of its own, timers in real time.
struct QtTraits {
    using Window = qtui::QtDialogWindow;

    static std::unique_ptr<Window> make() { return std::make_unique<Window>(); }
    static int run(Window& window, DialogHandlers& handlers, const std::function<void()>& script) {
        // Owned here: a dialog ended early runs no loop, and the script must not run later.
        QTimer start;
        start.setSingleShot(true);
        QObject::connect(&start, &QTimer::timeout, [&] {
            script();
            window.endDialog(DIALOG_CANCEL);
        });
        start.start(0);
        return window.doModal(handlers);
    }
    static bool waitUntil(Window&, const std::function<bool()>& done) {
        return QTest::qWaitFor(done, 5000);
    }
    static void pumpAWhile(Window&) { QTest::qWait(100); }
    static void userClicksSend(Window& window) {
        QTest::mouseClick(window.control(IDC_SEND), Qt::LeftButton);
    }
    static void userPressesEnter(Window& window) {
        QTest::keyClick(window.control(IDC_VALUE_EDIT), Qt::Key_Return);
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Qt, DialogWindowContract, QtTraits);

// Runs the dialog; `script` runs in its loop once it shows, then the window is closed.
int runShown(qtui::QtDialogWindow& window, ScriptedDialog& dialog,
             const std::function<void()>& script) {
    QTimer::singleShot(0, [&] {
        script();
        window.endDialog(DIALOG_CANCEL);
    });
    return window.doModal(dialog);
}

TEST(QtDialogWindow, ListOperationsOnOtherControlsAnswerLikeAWindowsList) {
    qtui::QtDialogWindow window;
    struct Bad {
        int control;
        int index;
    };
    for (const Bad& bad : {Bad{IDC_VALUE_EDIT, 0}, Bad{4242, 0}}) {
        EXPECT_EQ(window.listItemData(bad.control, bad.index), -1);
        window.setListItemData(bad.control, bad.index, 5);  // ignored, no crash
    }
    EXPECT_EQ(window.addListItem(IDC_VALUE_EDIT, "x"), -1);
    EXPECT_EQ(window.listCount(IDC_SEND), 0);
    EXPECT_EQ(window.listSelection(IDC_SEND), -1);
}

TEST(QtDialogWindow, TextsCrossAsWindows1252) {
    qtui::QtDialogWindow window;
    window.setControlText(IDC_UNIT_LABEL,
                          "[\xB0"
                          "C]");
    EXPECT_EQ(qobject_cast<QLabel*>(window.control(IDC_UNIT_LABEL))->text(),
              QString::fromUtf8("[\u00B0C]"));

    // What a user types that the code page cannot hold arrives as '?'.
    auto* edit = qobject_cast<QLineEdit*>(window.control(IDC_VALUE_EDIT));
    edit->setText(QString::fromUtf8("1\u00B0\u0101\U0001F600"));
    EXPECT_EQ(window.controlText(IDC_VALUE_EDIT), "1\xB0??");

    // Markup stays text.
    window.setControlText(IDC_DESCRIPTION, "<b>bold</b>");
    EXPECT_EQ(qobject_cast<QLabel*>(window.control(IDC_DESCRIPTION))->textFormat(), Qt::PlainText);

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

TEST(QtDialogWindow, EnablingAndChecksReachTheWidgets) {
    qtui::QtDialogWindow window;
    window.setCheck(IDC_SEND, true);  // not a check box
    EXPECT_FALSE(window.isChecked(IDC_SEND));
    window.enableControl(IDC_PARAM_LIST, false);
    EXPECT_FALSE(window.control(IDC_PARAM_LIST)->isEnabled());
    window.enableControl(4242, false);
}

TEST(QtDialogWindow, TheCutWindowIsFixedAtTheTemplatesWidth) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    dialog.init = [&] {
        Rect rect = window.windowRect();
        rect.bottom -= WINDOW_HEIGHT_CUT;
        window.moveWindow(rect);
    };
    runShown(window, dialog, [&] {
        EXPECT_EQ(window.clientRect(), (Rect{0, 0, 518, 457 - WINDOW_HEIGHT_CUT}));
        // Fixed: the user cannot resize it.
        EXPECT_EQ(window.dialog().minimumSize(), window.dialog().maximumSize());
    });
}

TEST(QtDialogWindow, TheFirstTabStopGetsTheFocusAfterInitialisation) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    runShown(window, dialog, [&] {
        EXPECT_TRUE(window.dialog().isVisible());
        EXPECT_EQ(window.dialog().focusWidget(), window.control(IDC_SEND));
    });
}

TEST(QtDialogWindow, TimersStopWithTheWindow) {
    qtui::QtDialogWindow window;
    ScriptedDialog dialog;
    dialog.init = [&] { window.setTimer(TIMER_PUMP, 10); };
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
    EXPECT_EQ(ui::aboutDialogTemplate().cx, CAboutDlg::WIDTH_DU);
    EXPECT_EQ(ui::aboutDialogTemplate().cy, CAboutDlg::HEIGHT_DU);
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
