#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "sim/OstrelFirmware.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::OstrelFirmware;
using sim::Report;

Bytes frame(std::initializer_list<std::uint8_t> head) {
    Bytes bytes(head);
    bytes.resize(24, 0);
    return bytes;
}

class Firmware : public ::testing::Test {
protected:
    Firmware() : m_firmware([this](const Report& r) { m_sent.push_back(r); }) {}

    std::vector<Report> m_sent;
    OstrelFirmware m_firmware;
};

TEST_F(Firmware, AnswersAStatusRequestWithItsMeasurements) {
    sim::Measurements m;
    m.inputVoltage = 1;
    m.ignitionVoltage = 2;
    m.rail3V = 3;
    m.rail5V = 4;
    m.rail12V = 5;
    m.voltageFlags = 6;
    m.statusFlags1 = 7;
    m.timerFlags = 8;
    m.state = -1;
    m.statusFlags2 = 10;
    m.temperature = -10;
    m.inputFlags = 12;
    m.outputFlags = 13;
    m.mode = 255;
    m_firmware.setMeasurements(m);
    m_firmware.setFirmwareVersion(0x21);
    m_firmware.receive(frame({CMD_STATUS}));

    ASSERT_EQ(m_sent.size(), 1u);
    const StatusReport status = decodeStatusReport(m_sent[0]);
    EXPECT_EQ(classifyReport(m_sent[0]), ReportKind::Status);
    EXPECT_EQ(status.inputVoltage, 1);
    EXPECT_EQ(status.ignitionVoltage, 2);
    EXPECT_EQ(status.rail3V, 3);
    EXPECT_EQ(status.rail5V, 4);
    EXPECT_EQ(status.rail12V, 5);
    EXPECT_EQ(status.voltageFlags, 6);
    EXPECT_EQ(status.statusFlags1, 7);
    EXPECT_EQ(status.timerFlags, 8);
    EXPECT_EQ(status.state, -1);
    EXPECT_EQ(status.statusFlags2, 10);
    EXPECT_EQ(status.temperature, -10);
    EXPECT_EQ(status.inputFlags, 12);
    EXPECT_EQ(status.outputFlags, 13);
    EXPECT_EQ(status.mode, 255);
    EXPECT_EQ(status.major(), 2);
    EXPECT_EQ(status.minor(), 1);
}

TEST_F(Firmware, StoresWritesAndReadsThemBackHighByteFirst) {
    m_firmware.receive(frame({CMD_PARAM, PARAM_WRITE, 0x20, 2, 0x12, 0x34}));
    m_firmware.receive(frame({CMD_PARAM, PARAM_WRITE, 0x03, 1, 0x7F, 0x00}));
    EXPECT_TRUE(m_sent.empty());  // writes are not answered
    m_firmware.receive(frame({CMD_PARAM, PARAM_READ, 0x20, 2}));
    m_firmware.receive(frame({CMD_PARAM, PARAM_READ, 0x03, 1}));

    ASSERT_EQ(m_sent.size(), 2u);
    const ParamReport wide = decodeParamReport(m_sent[0]);
    EXPECT_EQ(m_sent[0][0], REPORT_PARAM);
    EXPECT_EQ(wide.address, 0x20);
    EXPECT_EQ(joinRaw16(wide.first, wide.second), 0x1234);
    const ParamReport narrow = decodeParamReport(m_sent[1]);
    EXPECT_EQ(narrow.address, 0x03);
    EXPECT_EQ(narrow.first, 0x7F);
    EXPECT_EQ(narrow.second, 0);
    EXPECT_EQ(m_firmware.paramByte(0x21), 0x34);
}

TEST_F(Firmware, FactoryResetRestoresEveryAddress) {
    const OstrelFirmware fresh;
    for (int address = 0; address < 0x40; ++address) {
        m_firmware.setParamByte(static_cast<std::uint8_t>(address), 0xAA);
    }
    m_firmware.receive(frame({CMD_PARAM, PARAM_WRITE, 0xFF, 1, 0xFE, 0}));  // not the reset
    EXPECT_EQ(m_firmware.paramByte(0x03), 0xAA);
    m_firmware.receive(frame({CMD_PARAM, PARAM_WRITE, 0xFF, 1, 0xFF, 0}));
    int set = 0;
    for (int address = 0; address < 0x40; ++address) {
        const auto a = static_cast<std::uint8_t>(address);
        EXPECT_EQ(m_firmware.paramByte(a), fresh.paramByte(a)) << "address " << address;
        set += fresh.paramByte(a) != 0 ? 1 : 0;
    }
    EXPECT_GT(set, 40);  // defaults are real values, not an erased memory
    EXPECT_TRUE(m_sent.empty());
}

TEST_F(Firmware, SendsHistoryOnlyWhenTold) {
    std::array<std::uint8_t, HISTORY_ENTRIES> entries{};
    entries[0] = 0xAB;
    entries[21] = 0xCD;
    m_firmware.setHistory(entries);
    m_firmware.sendHistory(23);
    ASSERT_EQ(m_sent.size(), 1u);
    const HistoryReport history = decodeHistoryReport(m_sent[0]);
    EXPECT_EQ(m_sent[0][0], REPORT_HISTORY);
    EXPECT_EQ(history.position, 23);
    EXPECT_EQ(history.entries, entries);
}

struct Unanswered {
    const char* name;
    Bytes bytes;
};

void PrintTo(const Unanswered& value, std::ostream* out) {
    *out << value.name;
}

class FirmwareIgnores : public Firmware, public ::testing::WithParamInterface<Unanswered> {};

TEST_P(FirmwareIgnores, LogsTheFrameAndAnswersNothing) {
    const std::uint8_t before = m_firmware.paramByte(0xFF);
    m_firmware.receive(GetParam().bytes);
    EXPECT_TRUE(m_sent.empty());
    EXPECT_EQ(m_firmware.log(), std::vector<Bytes>{GetParam().bytes});
    EXPECT_EQ(m_firmware.paramByte(0xFF), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirmwareIgnores,
    ::testing::Values(Unanswered{"Empty", {}}, Unanswered{"UnknownCommand", frame({0x22})},
                      Unanswered{"ZeroFrame", frame({})},
                      Unanswered{"UnknownParamAccess", frame({CMD_PARAM, 0xA2, 0x03, 1})},
                      Unanswered{"ReadSize3", frame({CMD_PARAM, PARAM_READ, 0x03, 3})},
                      Unanswered{"ReadPastTheLastAddress", frame({CMD_PARAM, PARAM_READ, 0xFF, 2})},
                      Unanswered{"ShortRead", {CMD_PARAM, PARAM_READ, 0x03}},
                      Unanswered{"WriteWithoutValue", {CMD_PARAM, PARAM_WRITE, 0xFF, 1}}),
    [](const auto& param) { return param.param.name; });

TEST_F(Firmware, LogsEveryFrameInOrder) {
    m_firmware.receive(frame({CMD_STATUS}));
    m_firmware.receive(frame({CMD_PARAM, PARAM_READ, 0x10, 2}));
    EXPECT_EQ(m_firmware.log(),
              (std::vector<Bytes>{frame({CMD_STATUS}), frame({CMD_PARAM, PARAM_READ, 0x10, 2})}));
    m_firmware.clearLog();
    EXPECT_TRUE(m_firmware.log().empty());
}

}  // namespace
