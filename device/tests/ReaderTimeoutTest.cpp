// A reader stuck in a read that ignores cancellation outlives the channel's 5 s wait. What
// it still uses must stay alive until it returns (ASan checks the rest).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "device/HIDDevice.h"
#include "device/tests/Recorder.h"
#include "tests/support/WaitFor.h"

namespace {

struct Gate {
    std::atomic<bool> inRead{false};
    std::atomic<bool> open{false};
    std::atomic<int> handlesClosed{0};
};

class StuckHandle : public platform::HidHandle {
public:
    explicit StuckHandle(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}
    ~StuckHandle() override { ++m_gate->handlesClosed; }

    bool attributes(platform::HidAttributes&) override { return false; }
    bool manufacturerString(char16_t*, std::size_t) override { return false; }
    bool productString(char16_t*, std::size_t) override { return false; }
    bool serialNumberString(char16_t*, std::size_t) override { return false; }
    bool capabilities(platform::HidCaps&) override { return false; }
    void cancelRead() override {}  // the driver ignores it
    platform::WriteStatus write(const std::uint8_t*, std::size_t) override {
        return platform::WriteStatus::Ok;
    }

    platform::ReadResult read(std::uint8_t* buffer, std::size_t length) override {
        m_gate->inRead = true;
        while (!m_gate->open) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::memset(buffer, 0x21, length);  // the buffer must still be there
        return {length, true};
    }

private:
    std::shared_ptr<Gate> m_gate;
};

class StuckPlatform : public platform::HidPlatform {
public:
    explicit StuckPlatform(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}
    std::unique_ptr<platform::HidInterfaceSet> presentInterfaces() override { return nullptr; }
    std::unique_ptr<platform::HidHandle> open(const char*, platform::OpenMode) override {
        return std::make_unique<StuckHandle>(m_gate);
    }
    std::uint32_t lastError() const override { return 0; }
    void sleepMs(std::uint32_t) override {}
    platform::ClaimResult claim(const char*, const char*) override { return {}; }

private:
    std::shared_ptr<Gate> m_gate;
};

TEST(ReaderTimeout, AReaderThatOutlivesTheChannelUsesNothingFreed) {
    for (const ReaderPacing pacing : {ReaderPacing::Paused, ReaderPacing::BusSpeed}) {
        auto gate = std::make_shared<Gate>();
        StuckPlatform platform(gate);
        auto descriptor = std::make_unique<HIDDescriptor>();
        descriptor->caps = {24, 24, 0};
        auto channel = std::make_unique<HIDDevice>(platform, std::move(descriptor), pacing);
        {
            Recorder listener(channel.get());
            ASSERT_TRUE(waitFor([&] { return gate->inRead.load(); }));
        }
        channel.reset();                    // gives up after about 5 s
        EXPECT_EQ(gate->handlesClosed, 1);  // the write handle; the read handle is still in use

        gate->open = true;  // the reader returns into what only it still holds
        EXPECT_TRUE(waitFor([&] { return gate->handlesClosed == 2; }));
    }
}

}  // namespace
