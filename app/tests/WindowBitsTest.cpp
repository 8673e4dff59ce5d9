// The About item, the minimised icon, the data exchange and the status fields' labels.
#include <algorithm>

#include "app/DialogTemplate.h"
#include "app/tests/DialogFixture.h"
#include "core/readings/StatusFields.h"

namespace {

class WindowBits : public DialogFixture {};

TEST_F(WindowBits, AboutBoxOpensForItsCommandIdsOnly) {
    openWindow();
    const std::pair<unsigned, bool> cases[] = {
        {0x0010, true},  {0x0011, true},  {0x001F, true},  {0x000F, false},
        {0x0020, false}, {0xF060, false}, {0xF020, false}, {0x0000, false},
    };
    int expected = 0;
    for (const auto& [id, opens] : cases) {
        ASSERT_TRUE(m_window.userChoosesSystemCommand(id));
        expected += opens ? 1 : 0;
        EXPECT_EQ(m_window.aboutBoxes(), expected) << std::hex << id;
    }
}

TEST(IconPosition, CentredWithIntegerDivision) {
    struct Case {
        Rect client;
        int width;
        int height;
        IconPosition at;
    };
    const Case cases[] = {
        {{0, 0, 36, 36}, 32, 32, {2, 2}},
        {{0, 0, 37, 35}, 32, 32, {3, 2}},
        {{0, 0, 160, 28}, 32, 32, {64, -1}},  // the division truncates toward zero
        {{0, 0, 16, 16}, 16, 16, {0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(iconPosition(c.client, c.width, c.height), c.at)
            << c.client.width() << "x" << c.client.height();
    }
}

TEST_F(WindowBits, IconIsDrawnOnlyWhenMinimised) {
    openWindow();
    m_window.setClientRect({0, 0, 36, 36});
    ASSERT_TRUE(m_window.paint());
    EXPECT_TRUE(m_window.drawnIcons().empty());
    m_window.setIconic(true);
    ASSERT_TRUE(m_window.paint());
    EXPECT_EQ(m_window.drawnIcons(), (std::vector<std::pair<int, int>>{{2, 2}}));
}

TEST_F(WindowBits, DataExchangeRunsBothWays) {
    openWindow();
    // Into the members: the read-only texts as they stand, and the box's state.
    m_window.setControlText(IDC_TEMPERATURE, "21");
    m_window.setControlText(IDC_IO_BUFFER, "io");
    m_window.setCheck(IDC_AUTO_REFRESH, false);
    m_window.setControlText(IDC_VALUE_EDIT, "typed");
    ASSERT_TRUE(m_dialog->UpdateData(true));
    EXPECT_EQ(m_dialog->statusView().m_temperature, "21");
    EXPECT_EQ(m_dialog->statusView().m_ioBuffer, "io");
    EXPECT_EQ(m_dialog->autoRefresh(), 0);

    // Back into the controls: bound texts are rewritten, the attached controls are not.
    m_window.setControlText(IDC_TEMPERATURE, "99");
    m_window.setControlText(IDC_UNIT_LABEL, "[x]");
    ASSERT_TRUE(m_dialog->UpdateData(false));
    EXPECT_EQ(m_window.text(IDC_TEMPERATURE), "21");
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "typed");
    EXPECT_EQ(m_window.text(IDC_UNIT_LABEL), "[x]");
    EXPECT_FALSE(m_window.control(IDC_AUTO_REFRESH).checked);
}

TEST_F(WindowBits, TheRefreshWritesOnlyTextsThatChanged) {
    sim::SimulatedOstrel& controller = plugController();
    openWindow();
    ASSERT_TRUE(waitFirstStatus());
    const auto writes = [&](int id) { return m_window.control(id).textWrites; };
    const int temperature = writes(IDC_TEMPERATURE);
    const int voltage = writes(IDC_VOLTAGE_IN);
    const int history = writes(IDC_STATUS_HISTORY);
    const int captions = m_window.captionWrites();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(m_window.tick(TIMER_PUMP));
    }
    sim::Measurements measured = controller.firmware().measurements();
    measured.temperature = static_cast<std::int8_t>(measured.temperature + 1);
    controller.firmware().setMeasurements(measured);
    m_window.tick(TIMER_POLL);
    ASSERT_TRUE(pumpUntil([&] { return writes(IDC_TEMPERATURE) != temperature; }));
    EXPECT_EQ(writes(IDC_TEMPERATURE), temperature + 1);
    EXPECT_EQ(writes(IDC_VOLTAGE_IN), voltage);  // the same text: not written again
    EXPECT_EQ(writes(IDC_STATUS_HISTORY), history);
    EXPECT_EQ(m_window.captionWrites(), captions);  // the same version and mode
}

TEST_F(WindowBits, FocusBelowTheEdgeShowsAHintThatFollowsTheControl) {
    sim::SimulatedOstrel& controller = plugController();
    m_window.setOutOfView({IDC_STATE, IDC_AUTO_REFRESH, IDC_STATUS_HISTORY});
    openWindow();
    ASSERT_TRUE(waitFirstStatus());

    ASSERT_TRUE(m_window.userFocuses(IDC_STATE));
    EXPECT_EQ(m_window.focusHint(), "Ostrel State: " + m_window.text(IDC_STATE));
    sim::Measurements measured = controller.firmware().measurements();
    measured.state = 7;
    controller.firmware().setMeasurements(measured);
    m_window.tick(TIMER_POLL);
    ASSERT_TRUE(pumpUntil([&] { return m_window.text(IDC_STATE) == "07"; }));
    EXPECT_EQ(m_window.focusHint(), "Ostrel State: 07");  // follows the hidden row's text

    ASSERT_TRUE(m_window.userFocuses(IDC_AUTO_REFRESH));
    EXPECT_EQ(m_window.focusHint(), "Auto refresh: on");
    ASSERT_TRUE(m_window.userClicksAutoRefresh());  // a Space on the hidden toggle
    EXPECT_EQ(m_window.focusHint(), "Auto refresh: off");

    // Back in view, or away from every control: no hint.
    for (const int control : {IDC_PARAM_LIST, IDC_STATUS_HISTORY, 0}) {
        ASSERT_TRUE(m_window.userFocuses(control));
        EXPECT_EQ(m_window.focusHint().empty(), control != IDC_STATUS_HISTORY) << control;
    }
}

// Beside the control the window writes each status field's text into stand the label and
// the unit every other reader of a status gives that field; and the labels found by place
// are the window's own texts.
TEST(StatusLabels, BesideEachFieldsControlAreItsLabelAndUnit) {
    const std::span<const ControlBinding> bindings = COstrelDlg::controlBindings();
    for (const ctl::StatusField& field : ctl::STATUS_FIELDS) {
        const auto bound = std::ranges::find(bindings, field.text, &ControlBinding::text);
        ASSERT_NE(bound, bindings.end()) << field.key;
        EXPECT_STREQ(ui::mainControlLabel(bound->control), field.label) << field.key;
        EXPECT_STREQ(ui::mainControlUnit(bound->control), field.unit) << field.key;
    }
    struct Case {
        int control;
        const char* label;
        const char* unit;
    };
    for (const Case& c :
         {Case{IDC_VOLTAGE_IN, "Voltage In:", "[V]"}, Case{IDC_VOLTAGE_5V, "Voltage 5V:", "[V]"},
          Case{IDC_VOLTAGE_12V, "Voltage 12V:", "[V]"},
          Case{IDC_TEMPERATURE, "Temperature:",
               "[\xB0"
               "C]"},
          Case{IDC_STATE, "Ostrel State:", ""}, Case{IDC_OUTPUT_FLAGS, "Output flags:", ""},
          Case{IDC_STATUS_HISTORY, "Status history:", ""}, Case{IDC_SEND, "", ""},
          Case{12345, "", ""}}) {
        EXPECT_STREQ(ui::mainControlLabel(c.control), c.label) << c.control;
        EXPECT_STREQ(ui::mainControlUnit(c.control), c.unit) << c.control;
    }
}

}  // namespace
