#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>

#include "platform/sim/SimHidPlatform.h"
#include "tests/support/Claims.h"
#include "tests/support/WaitFor.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

using namespace platform;

SimIdentity identity(const char* path) {
    SimIdentity id;
    id.path = path;
    id.vendorId = 1;
    id.productId = 2;
    id.manufacturer = u"maker";
    id.inputReportByteLength = 4;
    id.outputReportByteLength = 4;
    return id;
}

// A read blocked on another thread, and what ended it.
struct BlockedRead {
    std::unique_ptr<HidHandle> handle;
    ReadResult result;
    std::thread thread;
    std::atomic<bool> done{false};

    BlockedRead(SimHidPlatform& platform, SimDevice& device)
        : handle(platform.open(device.identity().path.c_str(), OpenMode::Read)) {
        thread = std::thread([this] {
            std::array<std::uint8_t, 4> buffer{};
            result = handle->read(buffer.data(), buffer.size());
            done = true;
        });
        if (!waitFor([&] { return device.blockedReads() == 1; })) {
            ADD_FAILURE() << "the read did not block";
        }
    }
    ~BlockedRead() { thread.join(); }
};

TEST(SimHidPlatform, ABlockedReadEndsWithInputUnplugOrCancel) {
    SimHidPlatform platform;
    auto device = platform.addDevice(identity("/a"));
    {
        BlockedRead read(platform, *device);
        EXPECT_FALSE(read.done);
        device->queueInput(std::array<std::uint8_t, 3>{1, 2, 3});
        ASSERT_TRUE(waitFor([&] { return read.done.load(); }));
        EXPECT_EQ(read.result.bytes, 3u);
        EXPECT_TRUE(read.result.waited);
    }
    {
        BlockedRead read(platform, *device);
        read.handle->cancelRead();
        ASSERT_TRUE(waitFor([&] { return read.done.load(); }));
        EXPECT_EQ(read.result.bytes, 0u);
        // Cancelled for good: the next read returns at once, even with input queued.
        device->queueInput(std::array<std::uint8_t, 1>{9});
        std::uint8_t byte = 0;
        EXPECT_EQ(read.handle->read(&byte, 1).bytes, 0u);
        EXPECT_EQ(platform.open("/a", OpenMode::Read)->read(&byte, 1).bytes, 1u);
    }
    {
        // Input not yet due under a polling interval keeps the read waiting.
        device->setInputInterval(std::chrono::hours(1));
        BlockedRead read(platform, *device);
        device->queueInput(std::array<std::uint8_t, 1>{7});
        EXPECT_FALSE(waitFor([&] { return read.done.load(); }, std::chrono::milliseconds(50)));
        EXPECT_EQ(device->pendingInput(), 1u);
        read.handle->cancelRead();
        ASSERT_TRUE(waitFor([&] { return read.done.load(); }));
        EXPECT_EQ(read.result.bytes, 0u);
        EXPECT_EQ(device->pendingInput(), 1u);
    }
    {
        BlockedRead read(platform, *device);
        device->unplug();
        ASSERT_TRUE(waitFor([&] { return read.done.load(); }));
        EXPECT_EQ(read.result.bytes, 0u);
    }
    EXPECT_EQ(device->pendingInput(), 0u);  // an unplugged device holds nothing
    EXPECT_EQ(platform.open("/a", OpenMode::Probe), nullptr);
    EXPECT_EQ(platform.lastError(), SIM_ERROR_NO_DEVICE);
}

TEST(SimHidPlatform, WritesAreWholeReportsOnWriteHandles) {
    SimHidPlatform platform;
    auto device = platform.addDevice(identity("/a"));
    std::vector<std::vector<std::uint8_t>> hooked;
    device->setWriteHook([&](std::span<const std::uint8_t> bytes) {
        hooked.emplace_back(bytes.begin(), bytes.end());
    });
    auto writer = platform.open("/a", OpenMode::Write);
    auto reader = platform.open("/a", OpenMode::Read);
    const std::array<std::uint8_t, 5> bytes{1, 2, 3, 4, 5};

    EXPECT_EQ(writer->write(bytes.data(), 4), WriteStatus::Ok);
    EXPECT_EQ(writer->write(bytes.data(), 5), WriteStatus::Failed);  // not one whole report
    EXPECT_EQ(reader->write(bytes.data(), 4), WriteStatus::Failed);
    device->setBehaviour({.writesFail = true, .writeError = 77});
    EXPECT_EQ(writer->write(bytes.data(), 4), WriteStatus::Failed);
    EXPECT_EQ(platform.lastError(), 77u);
    device->unplug();
    EXPECT_EQ(writer->write(bytes.data(), 4), WriteStatus::NotConnected);

    const std::vector<std::vector<std::uint8_t>> expected{{1, 2, 3, 4}};
    EXPECT_EQ(device->writes(), expected);
    EXPECT_EQ(hooked, expected);
    EXPECT_EQ(device->openHandles(), 2);
    writer.reset();
    reader.reset();
    EXPECT_EQ(device->openHandles(), 0);
}

TEST(SimHidPlatform, TheInterfaceSetIsASnapshotInPlugOrder) {
    SimHidPlatform platform;
    SimIdentity located = identity("/a");
    located.location = "3-1.2";
    auto a = platform.addDevice(located);
    auto gone = platform.addDevice(identity("/gone"));
    auto unnamed = platform.addDevice(identity(""));
    gone->unplug();
    auto set = platform.presentInterfaces();
    platform.addDevice(identity("/late"));

    std::vector<std::string> paths;
    std::uint32_t index = 0;
    for (; set->interfaceAt(index) == Status::Ok; ++index) {
        std::size_t size = 0;
        ASSERT_EQ(set->pathSize(index, size), Status::Ok);
        std::string path(size, '\0');
        ASSERT_EQ(set->path(index, path.data(), size), Status::Ok);
        path.resize(size - 1);
        paths.push_back(path);
        char tooSmall[2];
        EXPECT_EQ(set->path(index, tooSmall, sizeof tooSmall), Status::Failed);
    }
    EXPECT_EQ(set->interfaceAt(index), Status::NoMoreItems);
    EXPECT_EQ(paths, (std::vector<std::string>{"/a", unnamed->identity().path}));
    EXPECT_EQ(set->location(0), "3-1.2");
    EXPECT_EQ(set->location(1), "");
    EXPECT_EQ(set->location(index), "");
    EXPECT_FALSE(unnamed->identity().path.empty());
}

TEST(SimHidPlatform, StringsAreCutToTheBufferAndErrorsBelongToTheirThread) {
    SimHidPlatform platform;
    platform.addDevice(identity("/a"));
    auto probe = platform.open("/a", OpenMode::Probe);
    std::array<char16_t, 6> buffer;
    buffer.fill(u'x');
    ASSERT_TRUE(probe->manufacturerString(buffer.data(), 3));
    EXPECT_EQ(std::u16string(buffer.data(), 6), u"makxxx");  // no room for the terminator
    ASSERT_TRUE(probe->manufacturerString(buffer.data(), buffer.size()));
    EXPECT_EQ(std::u16string(buffer.data(), 6), std::u16string(u"maker\0", 6));

    EXPECT_FALSE(probe->productString(buffer.data(), buffer.size()));  // absent
    EXPECT_EQ(platform.lastError(), SIM_ERROR_IO);
    std::uint32_t otherThread = 1;
    std::thread([&] { otherThread = platform.lastError(); }).join();
    EXPECT_EQ(otherThread, 0u);
}

TEST(SimHidPlatform, SleepIsRealUnlessSwitchedOff) {
    SimHidPlatform platform;
    const auto start = std::chrono::steady_clock::now();
    platform.sleepMs(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    platform.setRealSleep(false);
    platform.sleepMs(60'000);  // returns at once, or the test times out
    EXPECT_EQ(platform.sleepCalls(), 2u);
}

TEST(SimHidPlatform, ClaimsExcludeEachOtherInOneSimulatedSystem) {
    SimHidPlatform platform;
    // Claims are by path: no device needs to be plugged for one.
    expectClaimsExclude(platform, "/dev/sim-hidraw0", "/dev/sim-hidraw1",
                        static_cast<std::uint32_t>(getpid()), "ostrel");
    EXPECT_EQ(platform.claimHolder("/dev/sim-hidraw0").program, "");
    EXPECT_EQ(platform.claim(nullptr, "ostrel").status, ClaimStatus::Failed);
}

}  // namespace
