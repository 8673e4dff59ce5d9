#include <gtest/gtest.h>

#include <vector>

#include "device/Wire.h"
#include "tests/support/Reports.h"

namespace {

using Report = Bytes;

Report asReport(const Frame& frame) {
    return {frame.bytes.begin(), frame.bytes.end()};
}

struct FrameCase {
    const char* label;
    Frame frame;
    std::initializer_list<std::uint8_t> head;
};

TEST(WireFrames, GoOutAsTheirBytesThenZeros) {
    const FrameCase cases[] = {
        {"status request", statusRequestFrame(), {0x81}},
        {"read 16-bit", paramReadFrame(0x10, 2), {0xA4, 0xA1, 0x10, 0x02}},
        {"read 8-bit", paramReadFrame(0x03, 1), {0xA4, 0xA1, 0x03, 0x01}},
        {"write 16-bit",
         paramWriteFrame(0x20, 2, 0x12, 0x34),
         {0xA4, 0xA0, 0x20, 0x02, 0x12, 0x34}},
        // A one-byte write sends only the low byte, whatever the high byte holds.
        {"write 8-bit", paramWriteFrame(0x03, 1, 0x55, 0x7F), {0xA4, 0xA0, 0x03, 0x01, 0x7F, 0x00}},
        {"factory reset",
         paramWriteFrame(0xFF, 1, 0x00, 0xFF),
         {0xA4, 0xA0, 0xFF, 0x01, 0xFF, 0x00}},
    };
    for (const FrameCase& c : cases) {
        EXPECT_EQ(asReport(c.frame), padded(c.head)) << c.label;
        EXPECT_EQ(c.frame.length, static_cast<int>(c.head.size())) << c.label;
        EXPECT_EQ(c.frame.view().size(), c.head.size()) << c.label;
    }
}

TEST(WireFrames, SixteenBitValuesTravelHighByteFirst) {
    for (std::uint32_t value = 0; value <= 0xFFFF; ++value) {
        const RawBytes raw = splitRaw16(static_cast<std::uint16_t>(value));
        ASSERT_EQ(raw.high, value >> 8);
        ASSERT_EQ(raw.low, value & 0xFF);
        ASSERT_EQ(joinRaw16(raw.high, raw.low), value);
    }
}

struct ClassifyCase {
    const char* label;
    Report report;
    ReportKind expected;
};

TEST(WireReports, AreClassifiedByLengthThenKindByte) {
    Report longStatus = padded({0x21});
    longStatus.resize(40, 0xEE);
    const ClassifyCase cases[] = {
        {"status", padded({0x21}), ReportKind::Status},
        {"param", padded({0x31}), ReportKind::Param},
        {"history", padded({0x32}), ReportKind::History},
        {"event", padded({0xFF, 0x01}), ReportKind::Event},
        {"event with another code", padded({0xFF, 0x02}), ReportKind::Event},
        {"unknown 0x22", padded({0x22}), ReportKind::Ignored},
        {"unknown 0x00", padded({0x00}), ReportKind::Ignored},
        {"unknown 0x81", padded({0x81}), ReportKind::Ignored},
        {"23 bytes of disconnect",
         Report{0xFF, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         ReportKind::Ignored},
        {"1 byte", Report{0x21}, ReportKind::Ignored},
        {"empty", Report{}, ReportKind::Ignored},
        {"longer than a report", longStatus, ReportKind::Status},
    };
    for (const ClassifyCase& c : cases) {
        EXPECT_EQ(classifyReport(c.report), c.expected) << c.label;
    }
}

TEST(WireReports, StatusFieldsComeFromTheirOffsets) {
    Report report(REPORT_SIZE);
    for (int i = 0; i < REPORT_SIZE; ++i) {
        report[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x40 + i);
    }
    report[0] = REPORT_STATUS;
    const StatusReport s = decodeStatusReport(report);
    EXPECT_EQ(s.inputVoltage, 0x42);
    EXPECT_EQ(s.ignitionVoltage, 0x43);
    EXPECT_EQ(s.rail3V, 0x44);
    EXPECT_EQ(s.rail5V, 0x45);
    EXPECT_EQ(s.rail12V, 0x46);
    EXPECT_EQ(s.voltageFlags, 0x47);
    EXPECT_EQ(s.statusFlags1, 0x48);
    EXPECT_EQ(s.timerFlags, 0x49);
    EXPECT_EQ(s.state, 0x4A);
    EXPECT_EQ(s.statusFlags2, 0x4B);
    EXPECT_EQ(s.temperature, 0x4C);
    EXPECT_EQ(s.inputFlags, 0x4E);
    EXPECT_EQ(s.outputFlags, 0x4F);
    EXPECT_EQ(s.mode, 0x51);
    EXPECT_EQ(s.version, 0x57);
}

TEST(WireReports, StatusReadsSignedFieldsAndVersionNibbles) {
    struct Case {
        std::uint8_t state, temperature, mode, version;
        int expectState, expectTemperature, expectMode, expectMajor, expectMinor;
    };
    const Case cases[] = {
        {0xFF, 0xF6, 0xFF, 0x21, -1, -10, 255, 2, 1},
        {0x80, 0x80, 0x00, 0x1F, -128, -128, 0, 1, 15},
        {0x7F, 0x7F, 0x07, 0xF0, 127, 127, 7, 15, 0},
        {0x00, 0x00, 0x01, 0x00, 0, 0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        Report report = padded({REPORT_STATUS});
        report[10] = c.state;
        report[12] = c.temperature;
        report[17] = c.mode;
        report[23] = c.version;
        const StatusReport s = decodeStatusReport(report);
        EXPECT_EQ(s.state, c.expectState);
        EXPECT_EQ(s.temperature, c.expectTemperature);
        EXPECT_EQ(s.mode, c.expectMode);
        EXPECT_EQ(s.major(), c.expectMajor) << int{c.version};
        EXPECT_EQ(s.minor(), c.expectMinor) << int{c.version};
    }
}

TEST(WireReports, ParamReportCarriesAddressAndValueBytes) {
    const ParamReport byteValue = decodeParamReport(padded({0x31, 0x00, 0x1C, 0x00, 0xF6}));
    EXPECT_EQ(byteValue.address, 0x1C);
    EXPECT_EQ(byteValue.first, 0xF6);  // read unsigned; the row's kind decides the sign

    // Bytes 1 and 3 are not part of the value.
    const ParamReport wordValue = decodeParamReport(padded({0x31, 0x99, 0x10, 0x99, 0x01, 0x2C}));
    EXPECT_EQ(wordValue.address, 0x10);
    EXPECT_EQ(joinRaw16(wordValue.first, wordValue.second), 300);
}

TEST(WireReports, HistoryKeepsEntriesInReportOrder) {
    Report report(REPORT_SIZE);
    report[0] = REPORT_HISTORY;
    report[1] = 23;
    for (int i = 2; i < REPORT_SIZE; ++i) {
        report[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0xA0 + i);
    }
    const HistoryReport history = decodeHistoryReport(report);
    EXPECT_EQ(history.position, 23);
    ASSERT_EQ(history.entries.size(), static_cast<std::size_t>(HISTORY_ENTRIES));
    EXPECT_EQ(history.entries.front(), 0xA2);
    EXPECT_EQ(history.entries.back(), 0xA0 + 23);
}

TEST(WireReports, DisconnectEventIsMadeAndReadBack) {
    const auto made = disconnectEventReport();
    EXPECT_EQ(Report(made.begin(), made.end()), padded({0xFF, 0x01}));
    EXPECT_EQ(classifyReport(made), ReportKind::Event);
    EXPECT_EQ(decodeEventReport(made).code, EVENT_DISCONNECTED);
    EXPECT_EQ(decodeEventReport(padded({0xFF, 0x07})).code, 0x07);
}

}  // namespace

TEST(WireReports, ShortBuffersDecodeToZeroFieldsWithoutReadingPastTheirEnd) {
    // Heap copies of exactly the short length, so ASan sees any read beyond them.
    for (std::size_t length = 0; length < static_cast<std::size_t>(REPORT_SIZE); ++length) {
        std::vector<std::uint8_t> bytes(length, 0xFF);
        const std::span<const std::uint8_t> report(bytes.data(), bytes.size());
        EXPECT_EQ(decodeStatusReport(report).version, 0) << length;
        EXPECT_EQ(decodeParamReport(report).address, 0) << length;
        EXPECT_EQ(decodeHistoryReport(report).position, 0) << length;
        EXPECT_EQ(decodeEventReport(report).code, 0) << length;
    }
}
