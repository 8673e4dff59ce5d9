// What the status panel, the caption and the history line show for the reports that come in.
#include <utility>

#include "app/tests/DialogFixture.h"

namespace {

// A report of `kind` with the given bytes set and zeros elsewhere.
Bytes report(std::uint8_t kind, std::initializer_list<std::pair<int, std::uint8_t>> bytes) {
    Bytes r(REPORT_SIZE, 0);
    r[0] = kind;
    for (const auto& [offset, value] : bytes) {
        r[static_cast<std::size_t>(offset)] = value;
    }
    return r;
}

class StatusPanel : public DialogFixture {
protected:
    // The dialog alone: reports are handed to the dispatcher directly.
    void openWithoutDevice() {
        openWindow();
        ASSERT_EQ(m_window.messageBoxTexts(), std::vector<std::string>{"Device not found"});
    }
    void dispatch(const Bytes& bytes) { m_dialog->DispatchReport(HArray(bytes)); }
};

TEST_F(StatusPanel, FirstStatusFromTheControllerFillsPanelAndCaption) {
    sim::SimulatedOstrel& controller = plugController();
    sim::Measurements m;
    m.inputVoltage = 250;
    m.ignitionVoltage = 100;
    m.rail3V = 100;
    m.rail5V = 2;
    m.rail12V = 100;
    m.temperature = -10;
    m.state = 5;
    m.mode = 3;
    m.voltageFlags = 0x01;
    m.statusFlags1 = 0x02;
    m.timerFlags = 0x08;
    m.statusFlags2 = 0x04;
    m.inputFlags = 0x10;
    m.outputFlags = 0xA5;
    controller.firmware().setMeasurements(m);
    controller.firmware().setFirmwareVersion(0x1F);
    openWindow();
    ASSERT_TRUE(waitFirstStatus());

    EXPECT_EQ(m_window.caption(), "Ostrel ver: 1.15 mode: 03");
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_IN), "28.08");
    EXPECT_EQ(m_window.text(IDC_IGNITION), "11.23");
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_3V), "1.88");
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_5V), "0.08");
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_12V), "7.66");
    EXPECT_EQ(m_window.text(IDC_TEMPERATURE), "-10");
    EXPECT_EQ(m_window.text(IDC_STATE), "05");
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_FLAGS), "00000001");
    EXPECT_EQ(m_window.text(IDC_STATUS_FLAGS1), "00000010");
    EXPECT_EQ(m_window.text(IDC_STATUS_FLAGS2), "00000100");
    EXPECT_EQ(m_window.text(IDC_TIMER_FLAGS), "00001000");
    EXPECT_EQ(m_window.text(IDC_INPUT_FLAGS), "00010000");
    EXPECT_EQ(m_window.text(IDC_OUTPUT_FLAGS), "10100101");
    EXPECT_EQ(m_window.text(IDC_STATUS_HISTORY), "");
    EXPECT_EQ(m_window.text(IDC_IO_BUFFER), "");
}

TEST_F(StatusPanel, FieldsAndCaptionFromSingleReports) {
    openWithoutDevice();
    struct Case {
        const char* name;
        Bytes status;
        int control;  // 0: the caption
        const char* shown;
    };
    // Version byte 0x1F keeps the initial factors; all cases run in that state.
    const Case cases[] = {
        {"caption 1.15 mode 255", report(0x21, {{23, 0x1F}, {17, 0xFF}}), 0,
         "Ostrel ver: 1.15 mode: 255"},
        {"caption mode 3", report(0x21, {{23, 0x13}, {17, 3}}), 0, "Ostrel ver: 1.3 mode: 03"},
        {"5V single precision", report(0x21, {{23, 0x10}, {5, 2}}), IDC_VOLTAGE_5V, "0.08"},
        {"input 250", report(0x21, {{23, 0x10}, {2, 250}}), IDC_VOLTAGE_IN, "28.08"},
        {"12V rounded from float", report(0x21, {{23, 0x10}, {6, 25}}), IDC_VOLTAGE_12V, "1.91"},
        {"5V half up", report(0x21, {{23, 0x10}, {5, 30}}), IDC_VOLTAGE_5V, "1.13"},
        {"zero volts", report(0x21, {{23, 0x10}}), IDC_VOLTAGE_IN, "0.00"},
        {"temperature -10", report(0x21, {{23, 0x10}, {12, 0xF6}}), IDC_TEMPERATURE, "-10"},
        {"temperature 05", report(0x21, {{23, 0x10}, {12, 0x05}}), IDC_TEMPERATURE, "05"},
        {"temperature -128", report(0x21, {{23, 0x10}, {12, 0x80}}), IDC_TEMPERATURE, "-128"},
        {"state -1", report(0x21, {{23, 0x10}, {10, 0xFF}}), IDC_STATE, "-1"},
        {"state 127", report(0x21, {{23, 0x10}, {10, 0x7F}}), IDC_STATE, "127"},
        {"flags A5", report(0x21, {{23, 0x10}, {7, 0xA5}}), IDC_VOLTAGE_FLAGS, "10100101"},
        {"flags 00", report(0x21, {{23, 0x10}, {8, 0x00}}), IDC_STATUS_FLAGS1, "00000000"},
        {"flags FF", report(0x21, {{23, 0x10}, {15, 0xFF}}), IDC_OUTPUT_FLAGS, "11111111"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dispatch(c.status);
        if (c.control == 0) {
            EXPECT_EQ(m_window.caption(), c.shown);
        } else {
            EXPECT_EQ(m_window.text(c.control), c.shown);
        }
    }
    EXPECT_FALSE(m_table.factorsSwitched());
}

TEST_F(StatusPanel, FirmwareTwoSwitchesFactorsBeforeItsFirstVoltagesAndForGood) {
    openWithoutDevice();
    dispatch(report(0x21, {{23, 0x21}, {17, 3}, {2, 255}, {3, 100}, {4, 100}, {5, 100}, {6, 100}}));
    EXPECT_EQ(m_window.caption(), "Ostrel ver: 2.1 mode: 03");
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_IN), "39.58");
    EXPECT_EQ(m_window.text(IDC_IGNITION), "15.52");
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_3V), "1.95");
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_5V), "3.89");
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_12V), "11.65");

    // A later report of an older firmware does not switch back.
    dispatch(report(0x21, {{23, 0x10}, {3, 100}}));
    EXPECT_EQ(m_window.caption(), "Ostrel ver: 1.0 mode: 00");
    EXPECT_EQ(m_window.text(IDC_IGNITION), "15.52");
    EXPECT_TRUE(m_table.factorsSwitched());
}

TEST_F(StatusPanel, SwitchedFactorsAlsoRenderParameterValues) {
    openWithoutDevice();
    dispatch(report(0x31, {{2, 0x00}, {4, 100}}));
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "11.23");
    dispatch(report(0x21, {{23, 0x20}}));
    dispatch(report(0x31, {{2, 0x00}, {4, 100}}));
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "15.52");
}

TEST_F(StatusPanel, HistoryLineMarksTheEntryAtItsReportOffset) {
    openWithoutDevice();
    auto history = [](std::uint8_t position) {
        Bytes r(REPORT_SIZE, 0);
        r[0] = 0x32;
        r[1] = position;
        for (std::size_t i = 2; i < r.size(); ++i) {
            r[i] = static_cast<std::uint8_t>(i - 2);
        }
        return r;
    };
    const std::string plain = "00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 ";
    const std::pair<std::uint8_t, std::string> cases[] = {
        {5, "[05] 00 01 02 (03) 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 "},
        {2, "[02] (00) 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 15 "},
        {23, "[23] 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12 13 14 (15) "},
        {0, "[00] " + plain},
        {1, "[01] " + plain},
        {24, "[24] " + plain},
        {255, "[255] " + plain},
    };
    for (const auto& [position, line] : cases) {
        SCOPED_TRACE(static_cast<int>(position));
        dispatch(history(position));
        EXPECT_EQ(m_window.text(IDC_STATUS_HISTORY), line);
    }
}

TEST_F(StatusPanel, HistoryReportSentByTheControllerReachesTheLine) {
    sim::SimulatedOstrel& controller = plugController();
    std::array<std::uint8_t, HISTORY_ENTRIES> entries{};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i] = static_cast<std::uint8_t>(0xE0 + i);
    }
    controller.firmware().setHistory(entries);
    openWindow();
    controller.firmware().sendHistory(3);
    ASSERT_TRUE(pumpUntil([this] { return !m_window.text(IDC_STATUS_HISTORY).empty(); }));
    EXPECT_EQ(m_window.text(IDC_STATUS_HISTORY),
              "[03] e0 (e1) e2 e3 e4 e5 e6 e7 e8 e9 ea eb ec ed ee ef f0 f1 f2 f3 f4 f5 ");
}

TEST_F(StatusPanel, ShortReportsOtherKindsAndOtherEventsChangeNothing) {
    openWithoutDevice();
    const std::string caption = m_window.caption();
    Bytes shortStatus = report(0x21, {{23, 0x21}});
    shortStatus.resize(23);
    Bytes shortEvent = report(0xFF, {{1, 0x01}});
    shortEvent.resize(23);
    const Bytes ignored[] = {
        shortStatus,
        shortEvent,
        report(0x22, {{23, 0x21}}),
        report(0x00, {{1, 0x01}}),
        report(0xFF, {{1, 0x02}}),
        report(0xFF, {{1, 0x00}}),
        report(0x31, {{2, 0x02}, {4, 9}}),  // "Ignition Debounce": not listed
        report(0x31, {{2, 0x11}, {4, 9}}),  // second byte of a two-byte row
        report(0x31, {{2, 0x40}, {4, 9}}),  // past the table
        {},
    };
    for (const Bytes& bytes : ignored) {
        dispatch(bytes);
    }
    EXPECT_EQ(m_window.caption(), caption);
    EXPECT_EQ(m_window.text(IDC_VOLTAGE_IN), "");
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "");
    EXPECT_FALSE(m_window.enabled(IDC_VALUE_EDIT));
    EXPECT_EQ(m_window.control(IDC_PARAM_LIST).selection, 0);
    EXPECT_EQ(m_window.messageBoxes().size(), 1u);
    EXPECT_FALSE(m_window.ended());
}

TEST_F(StatusPanel, LongerReportsAreReadByTheirFirst24Bytes) {
    openWithoutDevice();
    Bytes longStatus = report(0x21, {{23, 0x1F}, {17, 7}});
    longStatus.resize(100, 0xEE);
    dispatch(longStatus);
    EXPECT_EQ(m_window.caption(), "Ostrel ver: 1.15 mode: 07");
}

TEST_F(StatusPanel, ReportsQueuedBetweenTicksAreAllDispatchedInArrivalOrder) {
    sim::SimulatedOstrel& controller = plugController();
    openWindow();
    ASSERT_TRUE(waitFirstStatus());
    const int before = m_watch.delivered.load();
    // Two parameter reports: the one that arrives last decides the selection.
    controller.device().queueInput(report(0x31, {{2, 0x03}, {4, 1}}));
    controller.device().queueInput(report(0x31, {{2, 0x24}, {4, 0}, {5, 60}}));
    controller.firmware().sendHistory(4);
    ASSERT_TRUE(waitDelivered(before + 3));

    ASSERT_TRUE(m_window.tick(TIMER_PUMP));
    EXPECT_EQ(m_window.control(IDC_PARAM_LIST).selection, itemOfRow(32));
    EXPECT_EQ(m_window.text(IDC_VALUE_EDIT), "00:01:00");
    EXPECT_NE(m_window.text(IDC_STATUS_HISTORY), "");
}

TEST(FormatFlagBits, MostSignificantBitFirst) {
    const std::pair<std::uint8_t, const char*> cases[] = {
        {0x00, "00000000"}, {0xFF, "11111111"}, {0xA5, "10100101"},
        {0x80, "10000000"}, {0x01, "00000001"}, {0x5A, "01011010"},
    };
    for (const auto& [byte, bits] : cases) {
        EXPECT_EQ(FormatFlagBits(byte), bits) << static_cast<int>(byte);
    }
}

// Every length up to 100 and every kind byte, with contents that exercise each decoder:
// nothing may crash or read past the report (run under the asan preset).
TEST_F(StatusPanel, AnyReportIsHandledSafely) {
    openWithoutDevice();
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(seed >> 24);
    };
    int disconnectBoxes = 0;
    m_window.whileMessageBoxOpen([&](const std::string& text) {
        if (text == "Device disconnected!") {
            ++disconnectBoxes;
        }
    });
    for (int length = 0; length <= 100; ++length) {
        for (int kind = 0; kind <= 0xFF; ++kind) {
            for (int fill = 0; fill < 3; ++fill) {
                HArray r(length);
                for (int i = 0; i < length; ++i) {
                    r.data()[i] = fill == 0 ? 0x00 : fill == 1 ? 0xFF : next();
                }
                if (length > 0) {
                    r.data()[0] = static_cast<std::uint8_t>(kind);
                }
                if (length > 1 && fill == 2 && kind == 0xFF) {
                    r.data()[1] = 0x01;
                }
                m_dialog->DispatchReport(r);
            }
        }
        if (length < REPORT_SIZE) {
            // Nothing shorter than a report has any effect.
            EXPECT_EQ(m_window.caption(), "Ostrel ver: --");
            EXPECT_EQ(m_window.text(IDC_STATUS_HISTORY), "");
        }
    }
    EXPECT_NE(m_window.caption(), "Ostrel ver: --");
    EXPECT_EQ(disconnectBoxes, 1);
    EXPECT_TRUE(m_window.ended());
    EXPECT_EQ(m_window.endCode(), 0);
}

}  // namespace
