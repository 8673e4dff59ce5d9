// The programmer's window on real widgets, driven as a user drives it, against the
// simulated controller.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/COstrelDlg.h"
#include "app/Resource.h"
#include "device/Wire.h"
#include "params/ParamTable.h"
#include "platform/sim/SimHidPlatform.h"
#include "qt/AboutDialog.h"
#include "qt/Cp1252.h"
#include "qt/QtDialogWindow.h"
#include "sim/SimulatedOstrel.h"

namespace {

constexpr int WAIT_MS = 5000;  // far beyond the pump's 200 ms and the poll's second

using Frame = std::vector<std::uint8_t>;

Frame frame(std::initializer_list<std::uint8_t> head) {
    Frame bytes(head);
    bytes.resize(REPORT_SIZE, 0);
    return bytes;
}

// Watches for message boxes and About boxes from a timer, as a user would see them, and
// dismisses them with their OK button unless told to hold them open.
class BoxWatcher {
public:
    struct Seen {
        std::string text;
        bool mainWindowVisible;
    };

    explicit BoxWatcher(QWidget& mainWindow) : m_mainWindow(mainWindow) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(10);
    }

    void hold(bool hold) { m_hold = hold; }
    const std::vector<Seen>& messages() const { return m_messages; }
    const std::vector<std::string>& aboutBoxes() const { return m_aboutBoxes; }
    QMessageBox* openMessageBox() const {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                return box;
            }
        }
        return nullptr;
    }
    void dismiss(QMessageBox& box) { box.button(QMessageBox::Ok)->click(); }

private:
    void poll() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (!widget->isVisible()) {
                m_open.erase(widget);
                continue;
            }
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                if (m_open.insert(box).second) {
                    m_messages.push_back({qtui::toCp1252(box->text()), m_mainWindow.isVisible()});
                    // A message box offers OK and nothing else.
                    EXPECT_EQ(box->buttons().size(), 1);
                    EXPECT_NE(box->button(QMessageBox::Ok), nullptr);
                }
                if (!m_hold) {
                    dismiss(*box);
                }
            } else if (auto* about = qobject_cast<qtui::AboutDialog*>(widget)) {
                m_aboutBoxes.push_back(qtui::toCp1252(about->windowTitle()));
                about->findChild<QPushButton*>()->click();
            }
        }
    }

    QWidget& m_mainWindow;
    QTimer m_timer;
    bool m_hold = false;
    std::set<QWidget*> m_open;
    std::vector<Seen> m_messages;
    std::vector<std::string> m_aboutBoxes;
};

// Runs `dialog` in `window`; `script` runs inside the window's own loop once the window
// shows, and the window is ended after it if the script left it open. The end code.
int runDialog(qtui::QtDialogWindow& window, DialogHandlers& dialog,
              const std::function<void()>& script) {
    QTimer start;
    bool started = false;
    QObject::connect(&start, &QTimer::timeout, [&] {
        // A message box before the window runs a loop of its own: not the script's.
        if (started || !window.dialog().isVisible()) {
            return;
        }
        started = true;
        start.stop();
        script();
        window.endDialog(DIALOG_CANCEL);
    });
    start.start(5);
    return window.doModal(dialog);
}

class WindowTest : public ::testing::Test {
protected:
    WindowTest()
        : m_controller(std::make_unique<sim::SimulatedOstrel>(m_hid)),
          m_diagnostics(std::tmpfile()),
          m_dialog({m_hid, m_table, m_window, m_diagnostics, nullptr}),
          m_boxes(m_window.dialog()) {
        sim::Measurements m = m_controller->firmware().measurements();
        m.inputVoltage = 250;  // 28.08 V with the firmware-1 factor
        m.rail5V = 2;          // 0.08 V: single precision tips 0.075 up
        m.temperature = -10;
        m.state = -1;
        m.mode = 3;
        m.voltageFlags = 0xA5;
        m.outputFlags = 0x00;
        m_controller->firmware().setMeasurements(m);
        m_controller->firmware().setFirmwareVersion(0x1F);
    }

    ~WindowTest() override {
        if (m_diagnostics != nullptr) {
            std::fclose(m_diagnostics);
        }
    }

    int run(const std::function<void()>& script) { return runDialog(m_window, m_dialog, script); }

    template <typename T>
    T* control(int id) {
        T* widget = qobject_cast<T*>(m_window.control(id));
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }

    QString text(int id) { return control<QLineEdit>(id)->text(); }

    bool waitForFirstStatus() {
        return QTest::qWaitFor(
            [&] { return m_window.dialog().windowTitle() != QStringLiteral("Ostrel ver: --"); },
            WAIT_MS);
    }

    // Frames of one kind the controller received, in order.
    std::vector<Frame> received(std::uint8_t command) {
        std::vector<Frame> frames;
        for (const Frame& f : m_controller->firmware().log()) {
            if (!f.empty() && f[0] == command) {
                frames.push_back(f);
            }
        }
        return frames;
    }

    // Chooses list item `index` as a user does: open the list, click the item.
    void chooseItem(int index) {
        auto* list = control<QComboBox>(IDC_PARAM_LIST);
        list->showPopup();
        QAbstractItemView* view = list->view();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->isVisible(); }, WAIT_MS));
        const QModelIndex item = list->model()->index(index, 0);
        view->scrollTo(item);
        const QPoint at = view->visualRect(item).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->isVisible(); }, WAIT_MS));
    }

    // Chooses "Delay before PSU startup" and waits for its value to arrive.
    void chooseStartupDelay() {
        chooseItem(STARTUP_DELAY_ITEM);
        ASSERT_TRUE(QTest::qWaitFor([&] { return control<QLineEdit>(IDC_VALUE_EDIT)->isEnabled(); },
                                    WAIT_MS));
    }

    // Replaces the value edit's text by typing.
    void typeValue(const QString& value) {
        QLineEdit* edit = control<QLineEdit>(IDC_VALUE_EDIT);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, value);
    }

    // Item 3 of the list is row 3, address 0x03, size 1, factory value 5.
    static constexpr int STARTUP_DELAY_ITEM = 3;

    platform::SimHidPlatform m_hid;
    std::unique_ptr<sim::SimulatedOstrel> m_controller;
    std::FILE* m_diagnostics;
    ParamTable m_table;
    qtui::QtDialogWindow m_window;
    COstrelDlg m_dialog;
    BoxWatcher m_boxes;
};

TEST_F(WindowTest, FirstStatusFillsCaptionAndStatusFields) {
    run([&] {
        EXPECT_EQ(m_window.dialog().windowTitle(), QStringLiteral("Ostrel ver: --"));
        ASSERT_TRUE(waitForFirstStatus());
        EXPECT_EQ(m_window.dialog().windowTitle(), QStringLiteral("Ostrel ver: 1.15 mode: 03"));
        EXPECT_EQ(text(IDC_VOLTAGE_IN), QStringLiteral("28.08"));
        EXPECT_EQ(text(IDC_VOLTAGE_5V), QStringLiteral("0.08"));
        EXPECT_EQ(text(IDC_TEMPERATURE), QStringLiteral("-10"));
        EXPECT_EQ(text(IDC_STATE), QStringLiteral("-1"));
        EXPECT_EQ(text(IDC_VOLTAGE_FLAGS), QStringLiteral("10100101"));
        EXPECT_EQ(text(IDC_OUTPUT_FLAGS), QStringLiteral("00000000"));
        EXPECT_EQ(text(IDC_IO_BUFFER), QString());
    });
    EXPECT_TRUE(m_boxes.messages().empty());
    const std::vector<Frame> status = received(CMD_STATUS);
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.front(), frame({CMD_STATUS}));
}

TEST_F(WindowTest, ListHoldsThePlaceholderAndTheListedRowsInTableOrder) {
    run([&] {
        auto* list = control<QComboBox>(IDC_PARAM_LIST);
        EXPECT_TRUE(list->isEnabled());
        EXPECT_FALSE(control<QLineEdit>(IDC_VALUE_EDIT)->isEnabled());
        ASSERT_EQ(list->count(), 39);
        EXPECT_EQ(list->currentIndex(), 0);
        EXPECT_EQ(list->itemText(0), QStringLiteral("Select a message ..."));
        EXPECT_EQ(m_window.listItemData(IDC_PARAM_LIST, 0), PLACEHOLDER_ITEM_DATA);
        const std::vector<int> rows = m_table.offeredRows();
        ASSERT_EQ(rows.size(), 38u);
        for (int item = 1; item < list->count(); ++item) {
            const int row = rows[static_cast<std::size_t>(item - 1)];
            EXPECT_EQ(qtui::toCp1252(list->itemText(item)), m_table.row(row).name);
            EXPECT_EQ(m_window.listItemData(IDC_PARAM_LIST, item), row);
        }
        EXPECT_EQ(list->itemText(38), QStringLiteral("Reset to factory defaults"));
    });
}

TEST_F(WindowTest, ChoosingAParameterSendsOneReadAndItsAnswerFillsTheEdit) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        ASSERT_TRUE(received(CMD_PARAM).empty());

        chooseItem(STARTUP_DELAY_ITEM);
        EXPECT_EQ(received(CMD_PARAM), std::vector<Frame>{frame({CMD_PARAM, PARAM_READ, 0x03, 1})});
        EXPECT_EQ(control<QLabel>(IDC_UNIT_LABEL)->text(), QStringLiteral("[s]"));
        EXPECT_EQ(qtui::toCp1252(control<QLabel>(IDC_DESCRIPTION)->text()),
                  m_table.row(3).description);

        ASSERT_TRUE(QTest::qWaitFor([&] { return control<QLineEdit>(IDC_VALUE_EDIT)->isEnabled(); },
                                    WAIT_MS));
        EXPECT_EQ(text(IDC_VALUE_EDIT), QStringLiteral("5"));
        EXPECT_EQ(received(CMD_PARAM).size(), 1u);  // the answer brought no second read
    });
}

TEST_F(WindowTest, ASelectionTheProgramMakesSendsNothing) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        m_window.setListSelection(IDC_PARAM_LIST, 5);
        QTest::qWait(300);
        EXPECT_EQ(control<QComboBox>(IDC_PARAM_LIST)->currentIndex(), 5);
        EXPECT_TRUE(received(CMD_PARAM).empty());
        EXPECT_EQ(control<QLabel>(IDC_UNIT_LABEL)->text(), QStringLiteral("[---]"));
    });
}

TEST_F(WindowTest, TypingAValueAndPressingSendWritesIt) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        chooseStartupDelay();
        typeValue(QStringLiteral("12"));
        QTest::mouseClick(control<QPushButton>(IDC_SEND), Qt::LeftButton);
        EXPECT_EQ(received(CMD_PARAM).back(), frame({CMD_PARAM, PARAM_WRITE, 0x03, 1, 12, 0}));
        EXPECT_EQ(text(IDC_VALUE_EDIT), QStringLiteral("12"));  // no read-back
    });
    EXPECT_EQ(m_controller->firmware().paramByte(0x03), 12);
    EXPECT_TRUE(m_boxes.messages().empty());
}

TEST_F(WindowTest, EnterInTheValueEditActsAsSend) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        chooseStartupDelay();
        typeValue(QStringLiteral("7"));
        QTest::keyClick(control<QLineEdit>(IDC_VALUE_EDIT), Qt::Key_Return);
        EXPECT_EQ(received(CMD_PARAM).back(), frame({CMD_PARAM, PARAM_WRITE, 0x03, 1, 7, 0}));
        // Enter on the Auto refresh toggle, a check box, is Send as well.
        typeValue(QStringLiteral("8"));
        QTest::keyClick(control<QPushButton>(IDC_AUTO_REFRESH), Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(received(CMD_PARAM).back(), frame({CMD_PARAM, PARAM_WRITE, 0x03, 1, 8, 0}));
        EXPECT_TRUE(control<QPushButton>(IDC_AUTO_REFRESH)->isChecked());
    });
}

TEST_F(WindowTest, AnInvalidValueIsRefusedWithAMessageThatTimersKeepRunningUnder) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        chooseStartupDelay();
        typeValue(QStringLiteral("1e999"));  // out of a double's range: refused
        const std::size_t writesBefore = received(CMD_PARAM).size();
        const std::size_t pollsBefore = received(CMD_STATUS).size();

        // Hold the box open for a while: the poll goes on as it would on Windows.
        m_boxes.hold(true);
        QTimer::singleShot(2500, [&] {
            QMessageBox* box = m_boxes.openMessageBox();
            ASSERT_NE(box, nullptr);
            m_boxes.dismiss(*box);
        });
        QTest::mouseClick(control<QPushButton>(IDC_SEND), Qt::LeftButton);
        m_boxes.hold(false);

        ASSERT_EQ(m_boxes.messages().size(), 1u);
        EXPECT_EQ(m_boxes.messages()[0].text, "Invalid or too big value!");
        EXPECT_GT(received(CMD_STATUS).size(), pollsBefore);
        EXPECT_EQ(received(CMD_PARAM).size(), writesBefore);  // nothing written
        EXPECT_EQ(text(IDC_VALUE_EDIT), QStringLiteral("1e999"));
        EXPECT_EQ(m_boxes.openMessageBox(), nullptr);
    });
}

TEST_F(WindowTest, UnplugShowsDeviceDisconnectedOnceAndEndsTheProgram) {
    const int endCode = run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        m_controller->unplug();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !m_window.dialog().isVisible(); }, WAIT_MS));
        // Ticks still pending must not bring a second box.
        QTest::qWait(1200);
    });
    EXPECT_EQ(endCode, 0);
    ASSERT_EQ(m_boxes.messages().size(), 1u);
    EXPECT_EQ(m_boxes.messages()[0].text, "Device disconnected!");
    EXPECT_EQ(m_controller->device().openHandles(), 0);
}

TEST_F(WindowTest, EscClosesTheWindowWithCancelAndReleasesTheDevice) {
    const int endCode = run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        EXPECT_GT(m_controller->device().openHandles(), 0);
        QTest::keyClick(&m_window.dialog(), Qt::Key_Escape);
        EXPECT_FALSE(m_window.dialog().isVisible());
    });
    EXPECT_EQ(endCode, DIALOG_CANCEL);
    EXPECT_EQ(m_controller->device().openHandles(), 0);
}

TEST_F(WindowTest, TheCloseBoxEndsWithCancelToo) {
    const int endCode = run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        EXPECT_TRUE(m_window.dialog().close());
    });
    EXPECT_EQ(endCode, DIALOG_CANCEL);
}

TEST_F(WindowTest, VisibleWindowEndsJustBelowOptionsAndTabReachesTheRowsBelow) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        QDialog& dialog = m_window.dialog();
        EXPECT_EQ(dialog.height(), 457 - WINDOW_HEIGHT_CUT);
        EXPECT_EQ(dialog.width(), 518);

        QGroupBox* options = nullptr;
        for (auto* group : dialog.findChildren<QGroupBox*>()) {
            if (group->title() == QStringLiteral("Options")) {
                options = group;
            }
        }
        ASSERT_NE(options, nullptr);
        EXPECT_LE(options->geometry().bottom(), dialog.height());
        EXPECT_GT(dialog.height() - options->geometry().bottom(), 0);
        EXPECT_LT(dialog.height() - options->geometry().bottom(), 16);
        QWidget* state = m_window.control(IDC_STATE);
        EXPECT_GE(state->y(), dialog.height());  // the first row below the edge

        // Tab from the list's neighbour walks on into the hidden rows.
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        m_window.control(IDC_OUTPUT_FLAGS)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), state);
        // The hidden row with the focus is named inside the visible area, and the window
        // keeps its size.
        auto* hint = dialog.findChild<QLabel*>(QStringLiteral("focusHint"));
        ASSERT_NE(hint, nullptr);
        EXPECT_TRUE(hint->isVisible());
        EXPECT_TRUE(dialog.rect().contains(hint->geometry()));
        EXPECT_EQ(hint->text(), QStringLiteral("Ostrel State: ") + text(IDC_STATE));
        EXPECT_EQ(dialog.height(), 457 - WINDOW_HEIGHT_CUT);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), m_window.control(IDC_PARAM_LIST));
        EXPECT_FALSE(hint->isVisible());

        // A Space on the hidden Auto refresh says what it did.
        m_window.control(IDC_AUTO_REFRESH)->setFocus();
        EXPECT_EQ(hint->text(), QStringLiteral("Auto refresh: on"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_EQ(hint->text(), QStringLiteral("Auto refresh: off"));
        EXPECT_TRUE(hint->isVisible());
    });
}

TEST_F(WindowTest, HiddenRowsStillShowTheirTexts) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        m_controller->firmware().sendHistory(5);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !text(IDC_STATUS_HISTORY).isEmpty(); }, WAIT_MS));
        EXPECT_TRUE(text(IDC_STATUS_HISTORY).startsWith(QStringLiteral("[05] ")));
        EXPECT_TRUE(text(IDC_STATUS_HISTORY).endsWith(QLatin1Char(' ')));
        // A long line shows its beginning.
        EXPECT_EQ(control<QLineEdit>(IDC_STATUS_HISTORY)->cursorPosition(), 0);
    });
}

TEST_F(WindowTest, AutoRefreshOffStopsThePollAndOnResumesIt) {
    run([&] {
        ASSERT_TRUE(waitForFirstStatus());
        auto* autoRefresh = control<QPushButton>(IDC_AUTO_REFRESH);
        ASSERT_TRUE(autoRefresh->isChecked());
        QTest::mouseClick(autoRefresh, Qt::LeftButton);
        EXPECT_FALSE(autoRefresh->isChecked());
        QTest::qWait(100);  // a poll already on its way may still land
        const std::size_t polls = received(CMD_STATUS).size();
        QTest::qWait(2300);
        EXPECT_EQ(received(CMD_STATUS).size(), polls);
        QTest::mouseClick(autoRefresh, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return received(CMD_STATUS).size() > polls; }, WAIT_MS));
    });
}

TEST_F(WindowTest, AboutComesFromTheContextMenuOfTheWindowAndOfEveryField) {
    run([&] {
        QMenu& menu = m_window.systemMenu();
        QAction* about = nullptr;
        for (QAction* action : menu.actions()) {
            if (action->text() == QStringLiteral("&About Ostrel...")) {
                about = action;
            }
        }
        ASSERT_NE(about, nullptr);
        ASSERT_GE(menu.actions().indexOf(about), 1);
        EXPECT_TRUE(menu.actions()[menu.actions().indexOf(about) - 1]->isSeparator());
        about->trigger();

        // A field's own menu (copy, select all) leads there too.
        QLineEdit* field = control<QLineEdit>(IDC_VOLTAGE_IN);
        Q_EMIT field->customContextMenuRequested(QPoint(2, 2));
        QMenu* fieldMenu = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* popup = qobject_cast<QMenu*>(widget); popup && popup->isVisible()) {
                fieldMenu = popup;
            }
        }
        ASSERT_NE(fieldMenu, nullptr);
        ASSERT_TRUE(fieldMenu->actions().contains(about));
        fieldMenu->close();
        about->trigger();
    });
    EXPECT_EQ(m_boxes.aboutBoxes(), (std::vector<std::string>{"About Ostrel", "About Ostrel"}));
}

TEST(WindowWithoutDevice, SaysDeviceNotFoundBeforeTheWindowShowsAndStaysIdle) {
    platform::SimHidPlatform hid;
    ParamTable table;
    qtui::QtDialogWindow window;
    std::FILE* diagnostics = std::tmpfile();
    COstrelDlg dialog({hid, table, window, diagnostics, nullptr});
    BoxWatcher boxes(window.dialog());
    runDialog(window, dialog, [&] {
        QTest::qWait(500);
        EXPECT_EQ(window.dialog().windowTitle(), QStringLiteral("Ostrel ver: --"));
        EXPECT_FALSE(window.control(IDC_PARAM_LIST)->isEnabled());
        EXPECT_FALSE(window.control(IDC_VALUE_EDIT)->isEnabled());
        QTest::mouseClick(qobject_cast<QPushButton*>(window.control(IDC_SEND)), Qt::LeftButton);
        QTest::keyClick(&window.dialog(), Qt::Key_Return);
    });
    std::fclose(diagnostics);
    ASSERT_EQ(boxes.messages().size(), 1u);
    EXPECT_EQ(boxes.messages()[0].text, "Device not found");
    EXPECT_FALSE(boxes.messages()[0].mainWindowVisible);
}

}  // namespace
