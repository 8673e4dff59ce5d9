// The kernel's own path, without the device library: whole 24-byte reports cross from
// /dev/hidrawN to the gadget and back unchanged. When this fails, the library tests below
// it cannot be trusted to say anything about the library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <vector>

#include "tests/kernel/GadgetBridge.h"
#include "tests/kernel/OstrelGadget.h"

namespace kernel_harness {
namespace {

TEST(KernelTransport, WholeReportsCrossBothWaysUnchanged) {
    UsbGadget gadget(ostrelGadgetConfig("transport", 0));
    gadget.plug();
    const std::string hidg = gadget.waitForHidg(GADGET_ENUMERATION_LIMIT);
    ASSERT_FALSE(hidg.empty()) << "no /dev/hidgN for the gadget";

    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<GadgetBridge::Bytes> received;
    GadgetBridge bridge(hidg, [&](std::span<const std::uint8_t> frame) {
        std::lock_guard lock(mutex);
        received.emplace_back(frame.begin(), frame.end());
        arrived.notify_all();
    });

    const std::string hidraw = gadget.waitForHidraw(GADGET_ENUMERATION_LIMIT);
    ASSERT_FALSE(hidraw.empty()) << "the host never enumerated the gadget";
    const int fd = ::open(hidraw.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0) << hidraw;

    // Host to device: the report id travels as byte 0 and the last byte is not cut off.
    std::array<std::uint8_t, GADGET_REPORT_LENGTH> out{0xA4, 0xA0, 0x20, 0x02, 0x12, 0x34};
    out.back() = 0x5A;
    ASSERT_EQ(::write(fd, out.data(), out.size()), static_cast<ssize_t>(out.size()));
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            arrived.wait_for(lock, std::chrono::seconds(5), [&] { return !received.empty(); }));
        EXPECT_EQ(received.front(), GadgetBridge::Bytes(out.begin(), out.end()));
    }

    // Device to host: one read gives the whole report, report id included.
    std::array<std::uint8_t, GADGET_REPORT_LENGTH> in{};
    std::iota(in.begin(), in.end(), std::uint8_t{0x20});
    in.front() = 0x21;
    bridge.send(in);
    pollfd ready{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 5000), 1) << "no input report within 5 s";
    std::array<std::uint8_t, 64> buffer{};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    ASSERT_EQ(n, static_cast<ssize_t>(in.size()));
    EXPECT_TRUE(std::equal(in.begin(), in.end(), buffer.begin()));
    ::close(fd);
}

}  // namespace
}  // namespace kernel_harness
