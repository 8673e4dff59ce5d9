#include <gtest/gtest.h>

#include <ostream>

#include "device/HIDDevice.h"
#include "device/tests/Recorder.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"
#include "tests/support/WaitFor.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t length, std::uint8_t first) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

Bytes join(const Bytes& a, const Bytes& b) {
    Bytes all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

class Channel : public ::testing::Test {
protected:
    void SetUp() override { m_platform.setRealSleep(false); }

    std::unique_ptr<HIDDevice> open(std::uint16_t inputLength = 24, std::uint16_t outputLength = 24,
                                    const platform::SimBehaviour& behaviour = {},
                                    ReaderPacing pacing = ReaderPacing::Paused) {
        auto identity = sim::SimulatedOstrel::identity();
        identity.inputReportByteLength = inputLength;
        identity.outputReportByteLength = outputLength;
        m_device = m_platform.addDevice(identity);
        m_device->setBehaviour(behaviour);
        auto descriptor = std::make_unique<HIDDescriptor>();
        descriptor->path = m_device->identity().path;
        descriptor->caps = {inputLength, outputLength, 0};
        return std::make_unique<HIDDevice>(m_platform, std::move(descriptor), pacing);
    }

    void feed(const Bytes& chunk) { m_device->queueInput(chunk); }

    // The reader has taken every queued chunk and is waiting for the next.
    bool readerIdle() {
        return waitFor(
            [&] { return m_device->pendingInput() == 0 && m_device->blockedReads() == 1; });
    }

    platform::SimHidPlatform m_platform;
    std::shared_ptr<platform::SimDevice> m_device;
};

TEST_F(Channel, EachWholeReadIsOneReport) {
    auto channel = open();
    Recorder listener(channel.get());
    EXPECT_TRUE(channel->connected());
    for (std::uint8_t i = 0; i < 3; ++i) {
        feed(pattern(24, static_cast<std::uint8_t>(i * 30)));
    }
    ASSERT_TRUE(readerIdle());
    EXPECT_EQ(listener.reports(),
              (std::vector<Bytes>{pattern(24, 0), pattern(24, 30), pattern(24, 60)}));
}

TEST_F(Channel, ShortReadsAreCompletedAndUnusableReadsLeaveNoTrace) {
    auto channel = open();
    Recorder listener(channel.get());
    feed(pattern(10, 0));
    feed({});                 // nothing
    feed(pattern(100, 200));  // 100 bytes or more: dropped whole
    feed(pattern(30, 150));   // claims more than the buffer holds: dropped whole
    feed(pattern(24, 100));   // completes the first report; its last 10 bytes start the next
    feed(pattern(14, 50));
    ASSERT_TRUE(readerIdle());
    const Bytes second = pattern(24, 100);
    EXPECT_EQ(
        listener.reports(),
        (std::vector<Bytes>{join(pattern(10, 0), Bytes(second.begin(), second.begin() + 14)),
                            join(Bytes(second.begin() + 14, second.end()), pattern(14, 50))}));
}

TEST_F(Channel, ReportsWithoutAListenerAreDropped) {
    auto channel = open();
    feed(pattern(24, 1));
    ASSERT_TRUE(readerIdle());
    Recorder listener(channel.get());
    feed(pattern(24, 2));
    ASSERT_TRUE(readerIdle());
    EXPECT_EQ(listener.reports(), std::vector<Bytes>{pattern(24, 2)});
}

TEST_F(Channel, OtherReportLengthsAreAssembledAsGiven) {
    auto channel = open(8, 8);
    Recorder listener(channel.get());
    feed(pattern(16, 0));  // more than one report's worth in one read: dropped
    feed(pattern(8, 0));
    ASSERT_TRUE(readerIdle());
    EXPECT_EQ(listener.reports(), std::vector<Bytes>{pattern(8, 0)});
}

TEST_F(Channel, ZeroReportLengthsDeliverAndWriteNothing) {
    auto channel = open(0, 0);
    Recorder listener(channel.get());
    feed(pattern(24, 0));
    ASSERT_TRUE(readerIdle());
    EXPECT_TRUE(listener.reports().empty());
    EXPECT_FALSE(channel->write(HArray(0)));
    EXPECT_EQ(m_device->writeCount(), 0u);
}

struct WriteCase {
    const char* name;
    Bytes command;
    bool accepted;
};

void PrintTo(const WriteCase& value, std::ostream* out) {
    *out << value.name;
}

class ChannelWrite : public Channel, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ChannelWrite, GoesOutAsOneZeroFilledReport) {
    auto channel = open();
    const Bytes& command = GetParam().command;
    EXPECT_EQ(channel->write(HArray(command)), GetParam().accepted);
    if (GetParam().accepted) {
        Bytes expected = command;
        expected.resize(24, 0);
        EXPECT_EQ(m_device->writes(), std::vector<Bytes>{expected});
    } else {
        EXPECT_EQ(m_device->writeCount(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ChannelWrite,
                         ::testing::Values(WriteCase{"StatusRequest", {0x81}, true},
                                           WriteCase{"ParamRead", {0xA4, 0xA1, 0x10, 0x02}, true},
                                           WriteCase{"Empty", {}, true},
                                           WriteCase{"WholeReport", pattern(24, 1), true},
                                           WriteCase{"LongerThanTheReport", pattern(25, 1), false}),
                         [](const auto& param) { return param.param.name; });

TEST_F(Channel, TheLossOfTheDeviceIsReportedOnce) {
    platform::SimBehaviour failing;
    failing.writesFail = true;
    auto channel = open();
    Recorder listener(channel.get());

    m_device->setBehaviour(failing);
    EXPECT_FALSE(channel->write(HArray(1)));  // another failure: silent
    EXPECT_EQ(listener.disconnects(), 0);
    EXPECT_TRUE(channel->connected());

    m_device->setBehaviour({});
    m_device->unplug();
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(channel->write(HArray(1)));
    }
    EXPECT_EQ(listener.disconnects(), 1);
    EXPECT_FALSE(channel->connected());
}

TEST_F(Channel, AnUnopenedChannelDeliversNothingAndNeverSignalsALoss) {
    platform::SimBehaviour closed;
    closed.openReadFails = true;
    closed.openWriteFails = true;
    auto channel = open(24, 24, closed);
    Recorder listener(channel.get());
    EXPECT_FALSE(channel->connected());
    EXPECT_FALSE(channel->write(HArray(1)));
    m_device->unplug();
    EXPECT_FALSE(channel->write(HArray(1)));
    EXPECT_EQ(listener.disconnects(), 0);
    EXPECT_EQ(m_device->openHandles(), 0);

    // Nothing at all at that path.
    auto nowhere = std::make_unique<HIDDevice>(m_platform, std::make_unique<HIDDescriptor>());
    EXPECT_FALSE(nowhere->connected());
    EXPECT_FALSE(nowhere->write(HArray(1)));
}

TEST_F(Channel, OnlyTheReadHandleMissingStillWritesButCountsAsUnconnected) {
    platform::SimBehaviour noRead;
    noRead.openReadFails = true;
    auto channel = open(24, 24, noRead);
    Recorder listener(channel.get());
    EXPECT_FALSE(channel->connected());
    EXPECT_TRUE(channel->write(HArray(1)));
    m_device->unplug();
    EXPECT_FALSE(channel->write(HArray(1)));
    EXPECT_EQ(listener.disconnects(), 0);
}

TEST_F(Channel, ClosingWithAReadPendingEndsTheReaderAndClosesBothHandles) {
    auto channel = open();
    ASSERT_TRUE(readerIdle());
    EXPECT_EQ(m_device->openHandles(), 2);
    channel.reset();
    EXPECT_EQ(m_device->openHandles(), 0);
    EXPECT_EQ(m_device->blockedReads(), 0);
}

TEST_F(Channel, DetachingStopsDeliveries) {
    auto channel = open();
    {
        Recorder listener(channel.get());
        EXPECT_EQ(channel->deviceInterface(), &listener);
    }
    EXPECT_EQ(channel->deviceInterface(), nullptr);
    feed(pattern(24, 0));
    ASSERT_TRUE(readerIdle());
}

// Counted, never timed: the pauses the reader asks the platform for between its reads.
TEST_F(Channel, ThePacingPausesBetweenReportsButEveryFailingReadPausesAlways) {
    constexpr int REPORTS = 20;
    constexpr std::uint64_t LOST_READS = 200;
    for (const ReaderPacing pacing : {ReaderPacing::Paused, ReaderPacing::BusSpeed}) {
        SCOPED_TRACE(pacing == ReaderPacing::Paused ? "paused" : "bus speed");
        auto channel = open(24, 24, {}, pacing);
        Recorder listener(channel.get());
        ASSERT_TRUE(readerIdle());
        const std::uint64_t before = m_platform.sleepCalls();
        for (int i = 0; i < REPORTS; ++i) {
            feed(pattern(24, static_cast<std::uint8_t>(i)));
        }
        ASSERT_TRUE(readerIdle());
        ASSERT_EQ(listener.reports().size(), static_cast<std::size_t>(REPORTS));
        const std::uint64_t paused = m_platform.sleepCalls() - before;
        if (pacing == ReaderPacing::Paused) {
            EXPECT_GE(paused, static_cast<std::uint64_t>(REPORTS));
        } else {
            EXPECT_EQ(paused, 0u);
        }

        // A lost device answers every read at once with nothing: each such read is
        // followed by a pause (the last one may still be on its way to it).
        m_device->unplug();
        const std::uint64_t readsBefore = m_device->readsDone();
        const std::uint64_t sleepsBefore = m_platform.sleepCalls();
        ASSERT_TRUE(waitFor([&] { return m_device->readsDone() - readsBefore >= LOST_READS; }));
        const std::uint64_t reads = m_device->readsDone() - readsBefore;
        EXPECT_GE(m_platform.sleepCalls() - sleepsBefore + 1, reads);
    }
}

}  // namespace
