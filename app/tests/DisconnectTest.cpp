// Losing the controller: one "Device disconnected!", the window ends, and the timers that
// keep running inside the message box neither show it again nor use a released device.
#include "app/tests/DialogFixture.h"

namespace {

class Disconnect : public DialogFixture {
protected:
    void SetUp() override {
        m_controller = &plugController();
        openWindow();
        ASSERT_TRUE(waitFirstStatus());
    }

    sim::SimulatedOstrel* m_controller = nullptr;
};

TEST_F(Disconnect, UnpluggedControllerEndsTheWindowAfterOneMessage) {
    int ticksInBox = 0;
    m_window.whileMessageBoxOpen([&](const std::string&) {
        // The platform keeps delivering timer messages while the box is open.
        for (int i = 0; i < 3; ++i) {
            ticksInBox += m_window.tick(TIMER_POLL) ? 1 : 0;
            ticksInBox += m_window.tick(TIMER_PUMP) ? 1 : 0;
        }
    });
    m_controller->unplug();
    // The next status request finds the device gone; the loss travels as a report.
    ASSERT_TRUE(m_window.tick(TIMER_POLL));
    EXPECT_TRUE(m_window.messageBoxes().empty());
    ASSERT_TRUE(m_window.tick(TIMER_PUMP));

    EXPECT_EQ(ticksInBox, 6);
    EXPECT_EQ(m_window.messageBoxTexts(), std::vector<std::string>{"Device disconnected!"});
    EXPECT_TRUE(m_window.ended());
    EXPECT_EQ(m_window.endCode(), 0);
    EXPECT_FALSE(m_window.tick(TIMER_PUMP));
    EXPECT_TRUE(m_dialog->hasDevice());  // released only when the window goes

    m_window.destroy();
    EXPECT_TRUE(m_watch.deleted);
    EXPECT_GT(m_watch.channelHandlesAtDeletion, 0);
    EXPECT_EQ(m_controller->device().openHandles(), 0);
}

TEST_F(Disconnect, ReportsBehindTheEventAreStillShownInsideTheBox) {
    // The controller's own FF 01 comes first, then a history report, then the channel's
    // event: the box opens once, and the nested pump shows the history line.
    const int before = m_watch.delivered.load();
    m_controller->device().queueInput(padded({0xFF, 0x01}));
    m_controller->firmware().sendHistory(2);
    ASSERT_TRUE(waitDelivered(before + 2));
    m_controller->unplug();
    ASSERT_TRUE(m_window.tick(TIMER_POLL));  // queues the channel's event

    std::string historyInBox;
    m_window.whileMessageBoxOpen([&](const std::string&) {
        m_window.tick(TIMER_PUMP);
        historyInBox = m_window.text(IDC_STATUS_HISTORY);
    });
    ASSERT_TRUE(m_window.tick(TIMER_PUMP));

    EXPECT_EQ(m_window.messageBoxTexts(), std::vector<std::string>{"Device disconnected!"});
    EXPECT_EQ(m_window.messageBoxes()[0].depth, 1);
    EXPECT_FALSE(historyInBox.empty());
    EXPECT_TRUE(m_window.ended());
    EXPECT_EQ(m_window.endCode(), 0);
}

TEST_F(Disconnect, EventOfTheControllerWhileAnotherBoxIsOpen) {
    // "Invalid or too big value!" is open when the disconnect event is pumped: the second
    // box stacks on the first once, and the window ends after both.
    const int row = 32;
    const int item = itemOfRow(row);
    ASSERT_TRUE(m_window.userSelects(item));
    m_controller->unplug();
    m_window.tick(TIMER_POLL);
    m_window.whileMessageBoxOpen([&](const std::string& text) {
        if (text == "Invalid or too big value!") {
            m_window.tick(TIMER_PUMP);
            m_window.tick(TIMER_PUMP);
        }
    });
    ASSERT_TRUE(m_window.userClicksSend());  // empty text is no time
    EXPECT_EQ(m_window.messageBoxTexts(),
              (std::vector<std::string>{"Invalid or too big value!", "Device disconnected!"}));
    EXPECT_EQ(m_window.messageBoxes()[1].depth, 2);
    EXPECT_TRUE(m_window.ended());
}

TEST_F(Disconnect, ClosingWithTheEventStillQueuedShowsNothing) {
    m_controller->unplug();
    ASSERT_TRUE(m_window.tick(TIMER_POLL));
    ASSERT_TRUE(m_window.userPressesEscape());
    m_window.destroy();
    EXPECT_TRUE(m_window.messageBoxes().empty());
    EXPECT_EQ(m_window.endCode(), DIALOG_CANCEL);
    EXPECT_TRUE(m_watch.deleted);
}

}  // namespace
