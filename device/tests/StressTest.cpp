// The reader delivers numbered reports as fast as it can while the user-interface side
// pops, sends, and finally destroys the interface and then the channel. Run under TSan
// and ASan: no race, no leak, no lost or duplicated report.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "device/HIDDevice.h"
#include "device/HIDOstrel.h"
#include "device/Wire.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"
#include "tests/support/SimChannel.h"
#include "tests/support/WaitFor.h"

namespace {

constexpr int STRESS_ROUNDS = 200;
constexpr std::uint32_t STRESS_REPORTS = 300;
constexpr std::size_t STRESS_BACKLOG = 16;  // chunks the feeder lets pile up in the device

std::vector<std::uint8_t> numbered(std::uint32_t number) {
    std::vector<std::uint8_t> bytes(24, 0);
    bytes[0] = REPORT_STATUS;
    std::memcpy(&bytes[1], &number, sizeof number);
    bytes[23] = static_cast<std::uint8_t>(number * 7);  // the last byte travels too
    return bytes;
}

std::uint32_t numberOf(const HArray& report) {
    std::uint32_t number = 0;
    std::memcpy(&number, report.data() + 1, sizeof number);
    return number;
}

struct Round {
    platform::SimHidPlatform platform;
    std::shared_ptr<platform::SimDevice> device;
    std::unique_ptr<HIDDevice> channel;
    std::unique_ptr<HIDOstrel> ostrel;
    std::atomic<bool> stopFeeding{false};
    std::thread feeder;
    std::uint32_t expected = 0;  // number of the next report to pop
    int sends = 0;

    explicit Round(std::uint32_t reports = STRESS_REPORTS) {
        platform.setRealSleep(false);
        device = platform.addDevice(sim::SimulatedOstrel::identity());
        channel = openSimChannel(platform, *device);
        ostrel = std::make_unique<HIDOstrel>(channel.get());
        feeder = std::thread([this, reports] {
            for (std::uint32_t n = 0; n < reports && !stopFeeding; ++n) {
                while (device->pendingInput() > STRESS_BACKLOG && !stopFeeding) {
                    std::this_thread::yield();
                }
                device->queueInput(numbered(n));
            }
        });
    }

    ~Round() {
        stopFeeding = true;
        feeder.join();
    }

    // Pops everything queued; false on a report out of sequence.
    bool drain() {
        while (auto report = ostrel->popReport()) {
            if (report->length() != 24 || report->data()[0] != REPORT_STATUS ||
                numberOf(*report) != expected ||
                report->data()[23] != static_cast<std::uint8_t>(expected * 7)) {
                ADD_FAILURE() << "report " << numberOf(*report) << " where " << expected
                              << " was due";
                return false;
            }
            ++expected;
        }
        ostrel->sendCommand(CMD_STATUS);
        ++sends;
        return true;
    }

    bool drainUntil(std::uint32_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (expected < count) {
            if (!drain() || std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    }
};

}  // namespace

TEST(Stress, EveryReportArrivesOnceAndInOrderUntilTheLoss) {
    for (int round = 0; round < STRESS_ROUNDS / 2; ++round) {
        Round r;
        ASSERT_TRUE(r.drainUntil(STRESS_REPORTS)) << "round " << round;
        EXPECT_EQ(r.device->writeCount(), static_cast<std::size_t>(r.sends));

        r.device->unplug();
        r.ostrel->sendCommand(CMD_STATUS);
        auto event = r.ostrel->popReport();
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->data()[0], REPORT_EVENT);
        EXPECT_EQ(event->data()[1], EVENT_DISCONNECTED);
        EXPECT_EQ(r.ostrel->popReport(), nullptr);
        r.ostrel.reset();
        r.channel.reset();
    }
}

TEST(Stress, TearingDownInTheMiddleOfDeliveries) {
    for (int round = 0; round < STRESS_ROUNDS / 2; ++round) {
        Round r;
        // Stop at a different point each round, with deliveries still under way.
        ASSERT_TRUE(r.drainUntil(static_cast<std::uint32_t>(round * 7 % STRESS_REPORTS / 2)));
        r.ostrel.reset();
        r.channel.reset();
        EXPECT_EQ(r.device->openHandles(), 0);
    }
}

// The reader is already delivering when a device interface is built on the channel: no
// delivery may reach it before its construction is complete or after its destruction has
// begun. Bounded in rounds and time; a fault shows as a crash or a sanitizer report.
TEST(Stress, InterfacesBuiltAndDestroyedOnAFloodingChannel) {
    Round r(UINT32_MAX);  // floods until the round ends
    // Only a channel that is already delivering can race a construction.
    ASSERT_TRUE(waitFor([&] { return r.ostrel->popReport() != nullptr; }));
    r.ostrel.reset();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int rounds = 0;
    std::size_t popped = 0;
    // Enough rounds, and enough of them delivered to, that the races had their chance.
    for (; (rounds < 300000 || popped < 1000) && std::chrono::steady_clock::now() < deadline;
         ++rounds) {
        r.ostrel = std::make_unique<HIDOstrel>(r.channel.get());
        std::this_thread::yield();  // lets the reader deliver to this one
        while (auto report = r.ostrel->popReport()) {
            EXPECT_EQ(report->length(), 24);
            ++popped;
        }
        r.ostrel.reset();
    }
    EXPECT_EQ(r.channel->deviceInterface(), nullptr);
    EXPECT_GT(popped, 0U) << "the channel never delivered: the test proved nothing";
    std::printf("%d interfaces built and destroyed, %zu reports popped\n", rounds, popped);
}
