// Reading and writing one parameter through the list, the value edit and Send, and the
// Auto refresh box.
#include <algorithm>

#include "app/tests/DialogFixture.h"
#include "tests/support/TypedValues.h"

namespace {

constexpr int ROW_STARTUP_DELAY = 3;  // address 0x03, one byte, whole seconds
constexpr int ROW_5V_MAX = 10;        // address 0x0A, volts
constexpr int ROW_OFF_DELAY_1 = 32;   // address 0x24, two bytes, hh:mm:ss
constexpr int ROW_FACTORY_RESET = 46;

class ParamEditor : public DialogFixture {
protected:
    void SetUp() override {
        m_controller = &plugController();
        openWindow();
        ASSERT_TRUE(waitFirstStatus());
        m_controller->device().clearWrites();
    }

    std::vector<Bytes> writes() const { return m_controller->device().writes(); }

    void selectRow(int row) {
        const int item = itemOfRow(row);
        ASSERT_GT(item, 0);
        ASSERT_TRUE(m_window.userSelects(item));
    }

    bool waitValue() {
        return pumpUntil([this] { return m_window.enabled(IDC_VALUE_EDIT); });
    }

    sim::SimulatedOstrel* m_controller = nullptr;
};

TEST_F(ParamEditor, ChoosingReadsTheValueThenSendWritesTheTypedOne) {
    m_controller->firmware().setParamByte(0x03, 42);
    selectRow(ROW_STARTUP_DELAY);

    EXPECT_EQ(writes(), std::vector<Bytes>{padded({0xA4, 0xA1, 0x03, 0x01})});
    EXPECT_EQ(m_window.text(IDC_DESCRIPTION),
              "Initial startup delay to avoid re-cranking problems");
    EXPECT_EQ(m_window.text(IDC_UNIT_LABEL), "[s]");
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "");
    EXPECT_FALSE(m_window.enabled(IDC_VALUE_EDIT));

    ASSERT_TRUE(waitValue());
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "42");
    EXPECT_EQ(writes().size(), 1u);  // the answer selected the item without a second read

    // The pump refreshes the panel but leaves what the user types alone.
    ASSERT_TRUE(m_window.userTypes("7"));
    m_window.tick(TIMER_PUMP);
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "7");

    m_controller->device().clearWrites();
    ASSERT_TRUE(m_window.userClicksSend());
    EXPECT_EQ(writes(), std::vector<Bytes>{padded({0xA4, 0xA0, 0x03, 0x01, 0x07, 0x00})});
    EXPECT_EQ(m_controller->firmware().paramByte(0x03), 7);
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "7");
    EXPECT_TRUE(m_window.messageBoxes().empty());
}

TEST_F(ParamEditor, TwoByteTimeRoundTrip) {
    m_controller->firmware().setParamByte(0x24, 0x0E);
    m_controller->firmware().setParamByte(0x25, 0x10);
    selectRow(ROW_OFF_DELAY_1);
    EXPECT_EQ(writes(), std::vector<Bytes>{padded({0xA4, 0xA1, 0x24, 0x02})});
    EXPECT_EQ(m_window.text(IDC_DESCRIPTION),
              "Rails OFF timer value in MODE 1 (max. 17:59:59 or Never)");
    EXPECT_EQ(m_window.text(IDC_UNIT_LABEL), "[hh:mm:ss]");
    ASSERT_TRUE(waitValue());
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "01:00:00");

    m_controller->device().clearWrites();
    ASSERT_TRUE(m_window.userTypes("17:59:59"));
    ASSERT_TRUE(m_window.userPressesEnter());  // Send is the default button
    EXPECT_EQ(writes(), std::vector<Bytes>{padded({0xA4, 0xA0, 0x24, 0x02, 0xFD, 0x1F})});
}

TEST_F(ParamEditor, RefusedTextShowsTheMessageAndSendsNothing) {
    selectRow(ROW_OFF_DELAY_1);
    ASSERT_TRUE(waitValue());
    m_controller->device().clearWrites();
    for (const char* text : {"18:00:00", "1:00:00", "01:60:00", "soon"}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(m_window.userTypes(text));
        ASSERT_TRUE(m_window.userClicksSend());
        EXPECT_EQ(m_window.messageBoxes().back().text, "Invalid or too big value!");
        EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), text);
    }
    EXPECT_EQ(m_window.messageBoxes().size(), 4u);
    EXPECT_TRUE(writes().empty());

    // A refusal does not stick: the next good text is written.
    ASSERT_TRUE(m_window.userTypes("never"));
    ASSERT_TRUE(m_window.userClicksSend());
    EXPECT_EQ(writes(), std::vector<Bytes>{padded({0xA4, 0xA0, 0x24, 0x02, 0xFF, 0xFF})});
}

// Send takes exactly the texts `ostrelctl set` takes and writes what it would: the codec
// alone would write 255 for "300" and 0 for "abc".
TEST_F(ParamEditor, SendTakesAndRefusesTheTextsOstrelctlDoes) {
    std::vector<typed::TypedValue> cases(std::begin(typed::TYPED_VALUES),
                                         std::end(typed::TYPED_VALUES));
    // The firmware's factor switch is one-way: the older firmware's cases first.
    std::stable_sort(cases.begin(), cases.end(),
                     [](const auto& a, const auto& b) { return a.version < b.version; });
    std::uint8_t version = 0;
    for (const typed::TypedValue& c : cases) {
        SCOPED_TRACE(std::to_string(c.address) + " \"" + c.text + "\"");
        if (c.version != version) {
            version = c.version;
            m_controller->firmware().setFirmwareVersion(version);
            const std::string caption = "Ostrel ver: " + std::to_string(version >> 4) + "." +
                                        std::to_string(version & 0x0F) + " ";
            ASSERT_TRUE(m_window.tick(TIMER_POLL));
            ASSERT_TRUE(pumpUntil([&] { return m_window.caption().starts_with(caption); }));
        }
        const int index = m_table.findOffered(c.address);
        const ParamDef& row = m_table.row(index);
        selectRow(index);
        ASSERT_TRUE(waitValue());
        ASSERT_TRUE(m_window.userTypes(c.text));
        m_controller->device().clearWrites();
        const std::size_t boxes = m_window.messageBoxes().size();
        const auto held = [&] {
            const auto& firmware = m_controller->firmware();
            return row.size == 1 ? firmware.paramByte(c.address)
                                 : firmware.paramByte(c.address) * 256 +
                                       firmware.paramByte(static_cast<std::uint8_t>(c.address + 1));
        };
        const int before = held();

        ASSERT_TRUE(m_window.userClicksSend());
        if (c.outcome == typed::Stored) {
            EXPECT_EQ(writes().size(), 1u);
            EXPECT_EQ(held(), c.raw);
            EXPECT_EQ(m_window.messageBoxes().size(), boxes);
        } else {
            EXPECT_TRUE(writes().empty());
            EXPECT_EQ(held(), before);
            ASSERT_EQ(m_window.messageBoxes().size(), boxes + 1);
            EXPECT_EQ(m_window.messageBoxes().back().text, TEXT_INVALID_VALUE);
            EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), c.text);
        }
    }
}

TEST_F(ParamEditor, FactoryResetIgnoresTheText) {
    selectRow(ROW_FACTORY_RESET);
    EXPECT_EQ(m_window.text(IDC_UNIT_LABEL), "");
    ASSERT_TRUE(waitValue());
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "-");
    m_controller->device().clearWrites();
    ASSERT_TRUE(m_window.userTypes("whatever"));
    ASSERT_TRUE(m_window.userClicksSend());
    EXPECT_EQ(writes(), std::vector<Bytes>{padded({0xA4, 0xA0, 0xFF, 0x01, 0xFF, 0x00})});
}

TEST_F(ParamEditor, SendBeforeTheValueArrivedRefusesTheEmptyText) {
    m_controller->firmware().setParamByte(0x03, 42);
    selectRow(ROW_STARTUP_DELAY);
    m_controller->device().clearWrites();
    // Still waiting: the edit is empty and disabled; no number, nothing written.
    ASSERT_TRUE(m_window.userClicksSend());
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(m_window.messageBoxTexts(), std::vector<std::string>{TEXT_INVALID_VALUE});
    EXPECT_EQ(m_controller->firmware().paramByte(0x03), 42);
}

TEST_F(ParamEditor, PlaceholderClearsTheEditorAndSendsNothing) {
    selectRow(ROW_5V_MAX);
    ASSERT_TRUE(waitValue());
    m_controller->device().clearWrites();

    ASSERT_TRUE(m_window.userSelects(0));
    EXPECT_EQ(m_window.text(IDC_DESCRIPTION), "");
    EXPECT_EQ(m_window.text(IDC_UNIT_LABEL), "[---]");
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "");
    EXPECT_FALSE(m_window.enabled(IDC_VALUE_EDIT));
    ASSERT_TRUE(m_window.userClicksSend());
    ASSERT_TRUE(m_window.userPressesEnter());
    EXPECT_TRUE(writes().empty());
    EXPECT_TRUE(m_window.messageBoxes().empty());
}

// The labels come with the row: the list must never show one parameter with another's
// description and unit, or the user's next Send writes a parameter they did not mean.
TEST_F(ParamEditor, ReportForAnotherParameterSwitchesTheListAndItsLabels) {
    selectRow(ROW_5V_MAX);
    ASSERT_TRUE(waitValue());
    m_controller->device().clearWrites();

    m_controller->device().queueInput(padded({0x31, 0x00, 0x24, 0x00, 0x00, 0x3C}));
    ASSERT_TRUE(pumpUntil([this] {
        return m_window.control(IDC_PARAM_LIST).selection == itemOfRow(ROW_OFF_DELAY_1);
    }));
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "00:01:00");
    EXPECT_TRUE(m_window.enabled(IDC_VALUE_EDIT));
    EXPECT_EQ(m_window.text(IDC_DESCRIPTION),
              "Rails OFF timer value in MODE 1 (max. 17:59:59 or Never)");
    EXPECT_EQ(m_window.text(IDC_UNIT_LABEL), "[hh:mm:ss]");
    EXPECT_TRUE(writes().empty());  // the program's selection sends no read
}

TEST_F(ParamEditor, AutoRefreshOffStopsThePollButNotThePump) {
    const Bytes statusRequest = padded({0x81});
    ASSERT_TRUE(m_window.tick(TIMER_POLL));
    EXPECT_EQ(writes(), std::vector<Bytes>{statusRequest});

    ASSERT_TRUE(m_window.userClicksAutoRefresh());
    EXPECT_EQ(m_dialog->autoRefresh(), 0);
    m_controller->device().clearWrites();
    ASSERT_TRUE(m_window.tick(TIMER_POLL));
    ASSERT_TRUE(m_window.tick(TIMER_POLL));
    EXPECT_TRUE(writes().empty());
    // The status texts read back from their controls are unchanged.
    EXPECT_FALSE(m_window.text(IDC_VOLTAGE_IN).empty());
    EXPECT_EQ(m_dialog->statusView().m_voltageIn, m_window.text(IDC_VOLTAGE_IN));

    m_controller->firmware().sendHistory(2);
    EXPECT_TRUE(pumpUntil([this] { return !m_window.text(IDC_STATUS_HISTORY).empty(); }));
    // The pump's refresh keeps the box off.
    EXPECT_FALSE(m_window.control(IDC_AUTO_REFRESH).checked);

    ASSERT_TRUE(m_window.userClicksAutoRefresh());
    EXPECT_EQ(m_dialog->autoRefresh(), 1);
    ASSERT_TRUE(m_window.tick(TIMER_POLL));
    EXPECT_EQ(writes(), std::vector<Bytes>{statusRequest});
}

}  // namespace
