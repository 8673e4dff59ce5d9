#include <gtest/gtest.h>

#include <ostream>

#include "device/HIDDevice.h"
#include "device/HIDOstrel.h"
#include "device/Wire.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"
#include "tests/support/SimChannel.h"
#include "tests/support/WaitFor.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes report(std::uint8_t kind, std::uint8_t marker) {
    Bytes bytes(24, 0);
    bytes[0] = kind;
    bytes[1] = marker;
    return bytes;
}

Bytes popped(HIDOstrel& ostrel) {
    auto item = ostrel.popReport();
    return item ? Bytes(item->bytes().begin(), item->bytes().end()) : Bytes{};
}

class OstrelInterface : public ::testing::Test {
protected:
    OstrelInterface() {
        m_platform.setRealSleep(false);
        m_device = m_platform.addDevice(sim::SimulatedOstrel::identity());
        m_channel = openSimChannel(m_platform, *m_device);
        m_ostrel = std::make_unique<HIDOstrel>(m_channel.get());
    }

    ~OstrelInterface() override {
        m_ostrel.reset();
        m_channel.reset();
    }

    bool readerIdle() {
        return waitFor(
            [&] { return m_device->pendingInput() == 0 && m_device->blockedReads() == 1; });
    }

    platform::SimHidPlatform m_platform;
    std::shared_ptr<platform::SimDevice> m_device;
    std::unique_ptr<HIDDevice> m_channel;
    std::unique_ptr<HIDOstrel> m_ostrel;
};

TEST_F(OstrelInterface, ReportsLeaveInArrivalOrderWithTheLossInItsPlace) {
    EXPECT_EQ(m_ostrel->popReport(), nullptr);
    m_device->queueInput(report(REPORT_STATUS, 1));
    m_device->queueInput(report(REPORT_STATUS, 2));
    ASSERT_TRUE(readerIdle());
    m_device->unplug();
    m_ostrel->sendCommand(CMD_STATUS);
    m_ostrel->sendCommand(CMD_STATUS);  // the loss is queued once

    EXPECT_EQ(popped(*m_ostrel), report(REPORT_STATUS, 1));
    EXPECT_EQ(popped(*m_ostrel), report(REPORT_STATUS, 2));
    const auto event = disconnectEventReport();
    EXPECT_EQ(popped(*m_ostrel), Bytes(event.begin(), event.end()));
    EXPECT_EQ(m_ostrel->popReport(), nullptr);
}

TEST_F(OstrelInterface, OtherWriteFailuresQueueNothingAndOnlyTheTryingSendsTellThem) {
    EXPECT_TRUE(m_ostrel->trySendCommand(CMD_STATUS));
    platform::SimBehaviour failing;
    failing.writesFail = true;
    m_device->setBehaviour(failing);
    m_ostrel->sendParam(1, 0x03, true, 0, 0x7F);
    EXPECT_FALSE(m_ostrel->trySendParam(1, 0x03, true, 0, 0x7F));
    EXPECT_FALSE(m_ostrel->trySendCommand(CMD_STATUS));
    EXPECT_EQ(m_ostrel->popReport(), nullptr);
}

struct SendCase {
    const char* name;
    std::function<void(HIDOstrel&)> send;
    Bytes frame;  // before the zero fill; empty: nothing may be written
};

void PrintTo(const SendCase& value, std::ostream* out) {
    *out << value.name;
}

class OstrelSend : public OstrelInterface, public ::testing::WithParamInterface<SendCase> {};

TEST_P(OstrelSend, WritesTheFrameZeroFilled) {
    GetParam().send(*m_ostrel);
    if (GetParam().frame.empty()) {
        EXPECT_EQ(m_device->writeCount(), 0u);
        return;
    }
    Bytes expected = GetParam().frame;
    expected.resize(24, 0);
    EXPECT_EQ(m_device->writes(), std::vector<Bytes>{expected});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OstrelSend,
    ::testing::Values(SendCase{"Status", [](HIDOstrel& o) { o.sendCommand(CMD_STATUS); }, {0x81}},
                      SendCase{"CommandLowBytes",
                               [](HIDOstrel& o) {
                                   o.sendCommand(0x10, {0x1FF, -1, 2});
                               },
                               {0x10, 0xFF, 0xFF, 0x02}},
                      SendCase{"CommandTooLong",
                               [](HIDOstrel& o) {
                                   o.sendCommand(0x10,
                                                 {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                                  13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24});
                               },
                               {}},
                      SendCase{"WriteSize1",
                               [](HIDOstrel& o) { o.sendParam(1, 0x03, true, 0, 0x7F); },
                               {0xA4, 0xA0, 0x03, 0x01, 0x7F, 0x00}},
                      SendCase{"WriteSize2",
                               [](HIDOstrel& o) { o.sendParam(2, 0x20, true, 0x12, 0x34); },
                               {0xA4, 0xA0, 0x20, 0x02, 0x12, 0x34}},
                      SendCase{"ReadIgnoresValue",
                               [](HIDOstrel& o) { o.sendParam(2, 0x10, false, 9, 9); },
                               {0xA4, 0xA1, 0x10, 0x02}},
                      SendCase{"FactoryReset",
                               [](HIDOstrel& o) { o.sendParam(1, 0xFF, true, 0, 0xFF); },
                               {0xA4, 0xA0, 0xFF, 0x01, 0xFF, 0x00}}),
    [](const auto& param) { return param.param.name; });

TEST_F(OstrelInterface, DestroyingItDropsTheQueueAndDetaches) {
    for (std::uint8_t i = 0; i < 3; ++i) {
        m_device->queueInput(report(REPORT_PARAM, i));
    }
    ASSERT_TRUE(readerIdle());
    m_ostrel.reset();  // three queued copies go with it (ASan checks)
    EXPECT_EQ(m_channel->deviceInterface(), nullptr);
    m_device->queueInput(report(REPORT_PARAM, 4));
    EXPECT_TRUE(readerIdle());
}

TEST(OstrelWithoutChannel, KeepsItsOwnCopiesAndSendsNothing) {
    HIDOstrel ostrel(nullptr);
    HArray delivered(Bytes{REPORT_STATUS, 1, 2});
    ostrel.onReport(delivered);
    delivered.data()[1] = 0xEE;  // the channel reuses its array
    ostrel.sendCommand(CMD_STATUS);
    ostrel.onReport(HArray(0));
    EXPECT_EQ(popped(ostrel), (Bytes{REPORT_STATUS, 1, 2}));
    auto empty = ostrel.popReport();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->length(), 0);
    EXPECT_EQ(empty->data(), nullptr);
    EXPECT_EQ(ostrel.popReport(), nullptr);
}

}  // namespace
