// The Windows backend, cross-built, against the kernel harness's USB gadget through Wine's
// HID stack (its udev bus reading the gadget's hidraw node): what ostrel.exe's layers see of
// a real controller. Runs only inside the harness's guest, which sets OSTREL_WINE_GADGET.
//
// Two differences of Wine from Windows are limits of Wine, not of the program, and are
// recorded here rather than worked around: Wine names the manufacturer "hidraw" and the
// product "TAVREN INC Ostrel PSU" (the kernel's HID name), so the real search finds nothing
// and the transport is checked with a search for Wine's strings; and a write to an unplugged
// device fails with another error than ERROR_DEVICE_NOT_CONNECTED, so the disconnect event
// cannot be shown under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "device/HIDDevice.h"
#include "device/HIDDevices.h"
#include "device/HIDOstrel.h"
#include "device/OstrelIdentity.h"
#include "device/Wire.h"
#include "platform/windows/WindowsHidPlatform.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* WINE_MANUFACTURER = "hidraw";
constexpr const char* WINE_PRODUCT = "TAVREN INC Ostrel PSU";

class WineGadget : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("OSTREL_WINE_GADGET") == nullptr) {
            GTEST_SKIP() << "needs the kernel harness's gadget (tests/kernel/scenarios/wine.sh)";
        }
    }

    std::unique_ptr<HIDDescriptor> findAsWineNamesIt() {
        HIDDevices devices(m_hid, stdout);
        return devices.find(WINE_MANUFACTURER, WINE_PRODUCT, OSTREL_PRODUCT_ID);
    }

    static Bytes next(HIDOstrel& ostrel) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline) {
            if (auto report = ostrel.popReport()) {
                return Bytes(report->bytes().begin(), report->bytes().end());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return {};
    }

    platform::WindowsHidPlatform m_hid;
};

TEST_F(WineGadget, ExactlyOneControllerWithItsLengths) {
    {
        HIDDevices devices(m_hid, stdout);
        const auto real = findOstrel(devices);
        std::printf("[ WINE     ] the search for the real strings found %s\n",
                    real ? "the controller" : "nothing");
    }
    const auto found = findAsWineNamesIt();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->vendorId, OSTREL_VENDOR_ID);
    EXPECT_EQ(found->productId, OSTREL_PRODUCT_ID);
    EXPECT_EQ(found->caps.inputReportByteLength, REPORT_SIZE);
    EXPECT_EQ(found->caps.outputReportByteLength, REPORT_SIZE);
    std::printf("[ WINE     ] manufacturer \"%s\", product \"%s\"\n", found->manufacturer,
                found->product);
}

TEST_F(WineGadget, FramesAndReportsCrossByteForByte) {
    auto found = findAsWineNamesIt();
    ASSERT_NE(found, nullptr);
    HIDDevice channel(m_hid, std::move(found));
    ASSERT_TRUE(channel.connected());
    HIDOstrel ostrel(&channel);

    ostrel.sendCommand(CMD_STATUS);
    const Bytes status = next(ostrel);
    ASSERT_EQ(classifyReport(status), ReportKind::Status);
    const StatusReport decoded = decodeStatusReport(status);
    EXPECT_EQ(decoded.version, 0x21);  // as the gadget was started
    EXPECT_EQ(decoded.mode, 3);

    // A write, then a read of the same parameter: the gadget logs both frames.
    ostrel.sendParam(1, 0x03, true, 0, 0x2A);
    ostrel.sendParam(1, 0x03, false, 0, 0);
    const Bytes param = next(ostrel);
    const auto expected = encodeParamReport({0x03, 0x2A, 0x00});
    EXPECT_EQ(param, Bytes(expected.begin(), expected.end()));
}

TEST_F(WineGadget, CloseWithAReadPendingIsPrompt) {
    auto found = findAsWineNamesIt();
    ASSERT_NE(found, nullptr);
    auto channel = std::make_unique<HIDDevice>(m_hid, std::move(found));
    auto ostrel = std::make_unique<HIDOstrel>(channel.get());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the reader waits now
    const auto start = Clock::now();
    ostrel.reset();
    channel.reset();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("[ FIGURE   ] close with a read pending under Wine: %.1f ms\n", ms);
    EXPECT_LT(ms, 2500.0);  // half the channel's stop limit: it woke the reader
}

}  // namespace
