// The window beside another program of ours that holds the controller: the status panel
// goes on, the editor waits switched off and sends nothing, and comes back when it is free.
#include <memory>
#include <span>

#include "app/tests/DialogFixture.h"
#include "tests/support/Claims.h"

namespace {

constexpr int ROW_STARTUP_DELAY = 3;  // address 0x03, one byte

class InUse : public DialogFixture {
protected:
    std::vector<Bytes> writes() const { return m_controller->device().writes(); }

    // A read by the holder: its answer reaches the window's channel as well. With Auto
    // refresh off, it is the only report on its way.
    void holderReads(std::uint8_t address, std::uint8_t size) {
        const int before = m_watch.delivered.load();
        m_controller->firmware().receive(paramReadFrame(address, size).view());
        ASSERT_TRUE(waitDelivered(before + 1));
        ASSERT_TRUE(m_window.tick(TIMER_PUMP));
    }

    void expectEditorAtStart(const std::string& description) {
        const bool usable = description.empty();
        EXPECT_EQ(m_window.control(IDC_PARAM_LIST).selection, 0);
        EXPECT_EQ(m_window.enabled(IDC_PARAM_LIST), usable);
        EXPECT_EQ(m_window.enabled(IDC_SEND), usable);
        EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "");
        EXPECT_FALSE(m_window.enabled(IDC_VALUE_EDIT));
        EXPECT_EQ(m_window.text(IDC_DESCRIPTION), description);
        EXPECT_EQ(m_window.text(IDC_UNIT_LABEL), TEXT_NO_UNIT);
    }

    sim::SimulatedOstrel* m_controller = nullptr;
};

TEST_F(InUse, TheEditorWaitsOffSendingNothingUntilTheHolderLetsGo) {
    m_controller = &plugController();
    const std::string path = m_controller->path();
    auto holder = std::make_unique<ClaimingThread>(m_platform, path, "ostrelctl");
    const std::string pid = " (pid " + std::to_string(m_platform.claimHolder(path).pid) + ")";
    openWindow();
    ASSERT_TRUE(waitFirstStatus());
    EXPECT_FALSE(m_window.text(IDC_VOLTAGE_IN).empty());
    expectEditorAtStart("In use by ostrelctl" + pid);
    ASSERT_TRUE(m_window.userClicksAutoRefresh());

    // The holder's answers leave the list and the value alone.
    holderReads(0x24, 2);
    expectEditorAtStart("In use by ostrelctl" + pid);
    // Nothing the user does reaches the controller; nor would a choice or a click that a
    // platform delivered to the disabled controls.
    EXPECT_FALSE(m_window.userSelects(itemOfRow(ROW_STARTUP_DELAY)));
    EXPECT_FALSE(m_window.userClicksSend());
    EXPECT_FALSE(m_window.userPressesEnter());
    m_window.setListSelection(IDC_PARAM_LIST, itemOfRow(ROW_STARTUP_DELAY));
    m_dialog->OnParamSelChange();
    m_dialog->OnSendClicked();
    EXPECT_TRUE(m_window.messageBoxes().empty());

    // Another holder meanwhile, with a name that could drive a terminal, then one in UTF-8.
    for (const auto& [program, shown] : {std::pair<const char*, const char*>{"\x1b[2J", "\\x1b[2J"},
                                         {"m\xC3\xBCller", "m\xFCller"}}) {
        holder.reset();
        holder = std::make_unique<ClaimingThread>(m_platform, path, program);
        ASSERT_TRUE(m_window.tick(TIMER_POLL));
        expectEditorAtStart(std::string("In use by ") + shown + pid);
    }
    for (const Bytes& frame : writes()) {
        EXPECT_EQ(frame, padded({CMD_STATUS})) << "a frame beside the status requests";
    }

    // The first poll tick after the holder let go takes the claim (Auto refresh off or
    // not); the editor is back.
    holder.reset();
    ASSERT_TRUE(m_window.tick(TIMER_POLL));
    EXPECT_EQ(m_platform.claimHolder(path).program, "ostrel");
    expectEditorAtStart("");

    // The user's own read and write. The holder's last answer ("Hard-off MODE 2") comes in
    // late, after the user's read: it chooses nothing.
    m_controller->device().clearWrites();
    m_controller->device().setWriteHook([this](std::span<const std::uint8_t> frame) {
        if (frame[0] == CMD_PARAM && frame[1] == PARAM_READ) {
            m_controller->device().queueInput(padded({REPORT_PARAM, 0x00, 0x2A, 0x02, 0x1C, 0x20}));
        }
        m_controller->firmware().receive(frame);
    });
    ASSERT_TRUE(m_window.userSelects(itemOfRow(ROW_STARTUP_DELAY)));
    ASSERT_TRUE(pumpUntil([this] { return m_window.enabled(IDC_VALUE_EDIT); }));
    EXPECT_EQ(m_window.control(IDC_PARAM_LIST).selection, itemOfRow(ROW_STARTUP_DELAY));
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "5");
    ASSERT_TRUE(m_window.userTypes("9"));
    ASSERT_TRUE(m_window.userPressesEnter());
    EXPECT_EQ(writes(), (std::vector<Bytes>{padded({CMD_PARAM, PARAM_READ, 0x03, 0x01}),
                                            padded({CMD_PARAM, PARAM_WRITE, 0x03, 0x01, 9, 0})}));
    EXPECT_EQ(m_controller->firmware().paramByte(0x03), 9);
    EXPECT_TRUE(m_window.messageBoxes().empty());
}

}  // namespace
