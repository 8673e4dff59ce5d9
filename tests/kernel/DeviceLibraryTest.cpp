// The device library with the Linux backend against a real /dev/hidrawN: the controller is
// a USB gadget of the same kernel, and the simulated firmware answers on the gadget side.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "device/HIDDevice.h"
#include "device/HIDDevices.h"
#include "device/HIDOstrel.h"
#include "device/Wire.h"
#include "platform/linux/LinuxHidPlatform.h"
#include "platform/linux/SysfsText.h"
#include "sim/OstrelFirmware.h"
#include "tests/kernel/GadgetBridge.h"
#include "tests/kernel/OstrelGadget.h"
#include "tests/kernel/PluggedController.h"
#include "tests/support/Reports.h"

namespace kernel_harness {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds ANSWER_LIMIT{5000};
// How long "nothing more arrives" is watched for.
constexpr std::chrono::milliseconds QUIET_PERIOD{300};
// Half the channel's 5000 ms stop timeout: a close that takes longer did not wake the
// reader but waited it out.
constexpr double PROMPT_CLOSE_MS = 2500.0;

Bytes toBytes(const HArray& array) {
    return Bytes(array.bytes().begin(), array.bytes().end());
}

// What HIDDevices writes to its diagnostics stream.
class CapturedOutput {
public:
    CapturedOutput() : m_stream(open_memstream(&m_buffer, &m_size)) {
        if (m_stream == nullptr) {
            throw std::runtime_error("open_memstream failed");
        }
    }
    ~CapturedOutput() {
        std::fclose(m_stream);
        std::free(m_buffer);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::FILE* stream() const { return m_stream; }
    std::string text() {
        std::fflush(m_stream);
        return std::string(m_buffer, m_size);
    }

private:
    char* m_buffer = nullptr;
    std::size_t m_size = 0;
    std::FILE* m_stream;
};

// One controller plugged in on dummy_udc.0, its firmware answering through the gadget.
class KernelDevice : public ::testing::Test {
protected:
    void SetUp() override {
        m_gadget = std::make_unique<UsbGadget>(ostrelGadgetConfig("ostrel", 0));
        PluggedController plugged = plugController(*m_gadget, m_firmware);
        m_bridge = std::move(plugged.bridge);
        m_hidraw = plugged.hidraw;
    }

    void TearDown() override {
        // As the window closes: the device interface, then the channel, and only then is
        // the controller pulled out.
        m_ostrel.reset();
        m_channel.reset();
        m_firmware.setSink({});
        m_bridge.reset();
        m_gadget.reset();
        // Gone from the host before the next test plugs its own, which could otherwise
        // take this one's node for its own.
        if (!m_hidraw.empty()) {
            const std::string node = UsbGadget::hidrawSysfs(m_hidraw);
            const auto deadline = Clock::now() + GADGET_ENUMERATION_LIMIT;
            while (std::filesystem::exists(node) && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    }

    std::unique_ptr<HIDDescriptor> findController(std::FILE* diagnostics) {
        HIDDevices devices(m_platform, diagnostics);
        return devices.find(GADGET_MANUFACTURER, GADGET_PRODUCT, GADGET_PRODUCT_ID);
    }

    // The channel and device interface the window would have, on the one controller.
    // The previous test's gadget may still be leaving the host: its node can be the one
    // that SetUp saw, so discovery is given the enumeration limit to settle.
    void openChannel() {
        std::unique_ptr<HIDDescriptor> descriptor;
        std::string diagnosticsText;
        const auto deadline = Clock::now() + GADGET_ENUMERATION_LIMIT;
        do {
            CapturedOutput diagnostics;
            descriptor = findController(diagnostics.stream());
            diagnosticsText = diagnostics.text();
            if (!descriptor) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        } while (!descriptor && Clock::now() < deadline);
        ASSERT_NE(descriptor, nullptr) << diagnosticsText;
        m_channel = std::make_unique<HIDDevice>(m_platform, std::move(descriptor));
        ASSERT_TRUE(m_channel->connected()) << "the channel did not open " << m_hidraw;
        m_ostrel = std::make_unique<HIDOstrel>(m_channel.get());
    }

    // Destroys the device interface, then the channel, as the window does; the time taken.
    double closeChannelMs() {
        const auto start = Clock::now();
        m_ostrel.reset();
        m_channel.reset();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

    // The next queued report, waiting for it up to `limit`; empty when none came.
    Bytes nextReport(std::chrono::milliseconds limit = ANSWER_LIMIT) {
        const auto deadline = Clock::now() + limit;
        for (;;) {
            if (std::unique_ptr<HArray> report = m_ostrel->popReport()) {
                return toBytes(*report);
            }
            if (Clock::now() >= deadline) {
                return {};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Reports that arrive within the quiet period; none is expected.
    std::vector<Bytes> strayReports() {
        std::vector<Bytes> stray;
        for (Bytes report = nextReport(QUIET_PERIOD); !report.empty();
             report = nextReport(QUIET_PERIOD)) {
            stray.push_back(report);
        }
        return stray;
    }

    // The firmware's frame log once it holds `count` frames (or the limit passed).
    std::vector<Bytes> frameLog(std::size_t count) {
        const auto deadline = Clock::now() + ANSWER_LIMIT;
        while (m_firmware.log().size() < count && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_firmware.log();
    }

    // A parameter read over the wire: the value report that came back.
    Bytes readParam(int size, std::uint8_t address) {
        m_ostrel->sendParam(size, address, false, 0, 0);
        return nextReport();
    }

    sim::OstrelFirmware m_firmware;
    std::unique_ptr<UsbGadget> m_gadget;
    std::unique_ptr<GadgetBridge> m_bridge;
    std::string m_hidraw;
    platform::LinuxHidPlatform m_platform;
    std::unique_ptr<HIDDevice> m_channel;
    std::unique_ptr<HIDOstrel> m_ostrel;
};

TEST_F(KernelDevice, DiscoveryFindsExactlyTheGadget) {
    CapturedOutput diagnostics;
    const std::unique_ptr<HIDDescriptor> found = findController(diagnostics.stream());
    ASSERT_NE(found, nullptr) << diagnostics.text();
    EXPECT_EQ(diagnostics.text(), "");
    EXPECT_STREQ(found->manufacturer, "TAVREN INC");
    EXPECT_STREQ(found->product, "Ostrel PSU");
    EXPECT_EQ(found->vendorId, 0x04D8);
    EXPECT_EQ(found->productId, 0x0002);
    EXPECT_EQ(found->path, m_hidraw);
    EXPECT_EQ(found->caps.inputReportByteLength, REPORT_SIZE);
    EXPECT_EQ(found->caps.outputReportByteLength, REPORT_SIZE);
    // The port of the dummy host controller it is plugged into.
    EXPECT_EQ(platform::usbPortChain(found->location), found->location);
    EXPECT_FALSE(found->location.empty());

    // The window's second try, the other product id, finds nothing here.
    CapturedOutput other;
    HIDDevices devices(m_platform, other.stream());
    EXPECT_EQ(devices.find(GADGET_MANUFACTURER, GADGET_PRODUCT, 0xD001), nullptr);
    EXPECT_EQ(other.text(),
              "No device found - set the -manuf, -product, -vendor, -pid propperly:\n");
}

TEST_F(KernelDevice, StatusRequestGetsTheStatusReport) {
    sim::Measurements measurements = m_firmware.measurements();
    measurements.temperature = -10;
    measurements.state = -1;
    measurements.mode = 0xFF;
    m_firmware.setMeasurements(measurements);
    m_firmware.setFirmwareVersion(0x21);
    ASSERT_NO_FATAL_FAILURE(openChannel());

    m_ostrel->sendCommand(CMD_STATUS);
    const Bytes report = nextReport();
    ASSERT_EQ(report.size(), static_cast<std::size_t>(REPORT_SIZE)) << "no status report";
    EXPECT_EQ(frameLog(1), std::vector<Bytes>{padded({0x81})});
    ASSERT_EQ(m_bridge->sent().size(), 1u);
    EXPECT_EQ(report, m_bridge->sent().front()) << "the report changed on its way";
    ASSERT_EQ(classifyReport(report), ReportKind::Status);
    const StatusReport status = decodeStatusReport(report);
    EXPECT_EQ(status.temperature, -10);
    EXPECT_EQ(status.state, -1);
    EXPECT_EQ(status.mode, 0xFF);
    EXPECT_EQ(status.major(), 2);
    EXPECT_EQ(status.minor(), 1);

    // A report the controller sends on its own arrives the same way.
    m_firmware.sendHistory(23);
    const Bytes history = nextReport();
    ASSERT_EQ(m_bridge->sent().size(), 2u);
    EXPECT_EQ(history, m_bridge->sent().back());
    EXPECT_EQ(classifyReport(history), ReportKind::History);
    EXPECT_TRUE(strayReports().empty());
}

TEST_F(KernelDevice, ParameterReadsAndWritesArriveByteForByte) {
    ASSERT_NO_FATAL_FAILURE(openChannel());
    struct Step {
        const char* what;
        int size;
        std::uint8_t address;
        bool write;
        std::uint8_t high, low;
        Bytes frame;  // as the firmware must receive it
    };
    const Step steps[] = {
        {"read 8-bit 0x03", 1, 0x03, false, 0, 0, padded({0xA4, 0xA1, 0x03, 0x01})},
        {"write 8-bit 0x7F to 0x03", 1, 0x03, true, 0, 0x7F,
         padded({0xA4, 0xA0, 0x03, 0x01, 0x7F, 0x00})},
        {"read 16-bit 0x10", 2, 0x10, false, 0x55, 0x66, padded({0xA4, 0xA1, 0x10, 0x02})},
        {"write 16-bit 0x1234 to 0x20", 2, 0x20, true, 0x12, 0x34,
         padded({0xA4, 0xA0, 0x20, 0x02, 0x12, 0x34})},
        {"write 16-bit 0xFFFF to 0x3E", 2, 0x3E, true, 0xFF, 0xFF,
         padded({0xA4, 0xA0, 0x3E, 0x02, 0xFF, 0xFF})},
    };
    std::vector<Bytes> expected;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        m_ostrel->sendParam(step.size, step.address, step.write, step.high, step.low);
        expected.push_back(step.frame);
        EXPECT_EQ(frameLog(expected.size()), expected);
        if (!step.write) {
            const Bytes report = nextReport();
            ASSERT_EQ(classifyReport(report), ReportKind::Param);
            EXPECT_EQ(report, m_bridge->sent().back());
            EXPECT_EQ(report[2], step.address);
        }
    }
    EXPECT_EQ(m_firmware.paramByte(0x03), 0x7F);
    EXPECT_EQ(m_firmware.paramByte(0x20), 0x12);
    EXPECT_EQ(m_firmware.paramByte(0x21), 0x34);

    // What was written reads back over the wire.
    EXPECT_EQ(readParam(1, 0x03), padded({0x31, 0x00, 0x03, 0x00, 0x7F}));
    EXPECT_EQ(readParam(2, 0x20), padded({0x31, 0x00, 0x20, 0x00, 0x12, 0x34}));
    EXPECT_EQ(readParam(2, 0x3E), padded({0x31, 0x00, 0x3E, 0x00, 0xFF, 0xFF}));
    EXPECT_TRUE(strayReports().empty());
}

TEST_F(KernelDevice, FactoryResetFrameRestoresTheDefaults) {
    const sim::OstrelFirmware factory;
    ASSERT_NO_FATAL_FAILURE(openChannel());
    m_ostrel->sendParam(1, 0x03, true, 0, 0x42);
    m_ostrel->sendParam(2, 0x20, true, 0xAB, 0xCD);
    ASSERT_EQ(frameLog(2).size(), 2u);
    ASSERT_EQ(m_firmware.paramByte(0x03), 0x42);

    m_firmware.clearLog();
    m_ostrel->sendParam(1, 0xFF, true, 0, 0xFF);
    EXPECT_EQ(frameLog(1), std::vector<Bytes>{padded({0xA4, 0xA0, 0xFF, 0x01, 0xFF, 0x00})});
    for (int address = 0; address < 256; ++address) {
        const auto at = static_cast<std::uint8_t>(address);
        EXPECT_EQ(m_firmware.paramByte(at), factory.paramByte(at)) << "address " << address;
    }
    EXPECT_EQ(readParam(1, 0x03), padded({0x31, 0x00, 0x03, 0x00, factory.paramByte(0x03)}));
}

TEST_F(KernelDevice, TwoControllersGiveTooManyDevicesAndTheirListing) {
    UsbGadget second(ostrelGadgetConfig("ostrel2", 1));
    second.plug();
    const std::string secondNode = second.waitForHidraw(GADGET_ENUMERATION_LIMIT);
    ASSERT_FALSE(secondNode.empty()) << "the host never enumerated the second gadget";
    ASSERT_NE(secondNode, m_hidraw);

    CapturedOutput diagnostics;
    EXPECT_EQ(findController(diagnostics.stream()), nullptr);
    EXPECT_EQ(diagnostics.text(),
              "Too many devices - set the -manuf, -product, -vendor, -pid propperly:\n"
              "Manuf=TAVREN INC product=Ostrel PSU vendor=4d8 pid=2\n"
              "Manuf=TAVREN INC product=Ostrel PSU vendor=4d8 pid=2\n");
    // The command line's search takes both, each at a port of its own.
    HIDDevices all(m_platform, nullptr);
    const auto both = findAllOstrels(all);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_NE(both[0]->path, both[1]->path);
    EXPECT_NE(both[0]->location, both[1]->location);
    for (const auto& each : both) {
        EXPECT_EQ(platform::usbPortChain(each->location), each->location) << each->path;
    }

    // With the second one pulled out, the first is found again.
    second.unplug();
    const auto deadline = Clock::now() + GADGET_ENUMERATION_LIMIT;
    while (std::filesystem::exists(UsbGadget::hidrawSysfs(secondNode)) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    CapturedOutput after;
    const std::unique_ptr<HIDDescriptor> found = findController(after.stream());
    ASSERT_NE(found, nullptr) << after.text();
    EXPECT_EQ(found->path, m_hidraw);
}

TEST_F(KernelDevice, UnplugGivesOneDisconnectEventAndLaterWritesAreSilent) {
    ASSERT_NO_FATAL_FAILURE(openChannel());
    m_ostrel->sendCommand(CMD_STATUS);
    ASSERT_EQ(classifyReport(nextReport()), ReportKind::Status) << "no answer before the unplug";

    m_gadget->unplug();
    // The host notices the unplug on its own time; the node goes when it has.
    const std::string node = UsbGadget::hidrawSysfs(m_hidraw);
    const auto deadline = Clock::now() + GADGET_ENUMERATION_LIMIT;
    while (std::filesystem::exists(node) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(std::filesystem::exists(node)) << "the host never saw the unplug";

    m_ostrel->sendCommand(CMD_STATUS);
    const auto event = disconnectEventReport();
    EXPECT_EQ(nextReport(), Bytes(event.begin(), event.end()));
    EXPECT_FALSE(m_channel->connected());

    // Every later write fails without a second event, and nothing else turns up.
    m_ostrel->sendCommand(CMD_STATUS);
    m_ostrel->sendParam(1, 0x03, false, 0, 0);
    m_ostrel->sendParam(2, 0x20, true, 0x12, 0x34);
    const HArray frame(statusRequestFrame().view());
    EXPECT_FALSE(m_channel->write(frame));
    EXPECT_TRUE(strayReports().empty());

    const double closeMs = closeChannelMs();
    std::printf("[ FIGURE   ] close after the unplug: %.1f ms\n", closeMs);
    EXPECT_LT(closeMs, PROMPT_CLOSE_MS);
}

TEST_F(KernelDevice, CloseWithAReadPendingReturnsPromptly) {
    ASSERT_NO_FATAL_FAILURE(openChannel());
    m_ostrel->sendCommand(CMD_STATUS);
    ASSERT_EQ(classifyReport(nextReport()), ReportKind::Status);
    // Nothing more is sent: the reader is now waiting in a read that no report will end.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    const double closeMs = closeChannelMs();
    std::printf("[ FIGURE   ] close with a read pending: %.1f ms\n", closeMs);
    EXPECT_LT(closeMs, PROMPT_CLOSE_MS);
}

// Faults a user meets: the cable pulled during a burst of writes, the controller plugged in
// again while the program still holds the old channel, and reports cut short on the wire.
TEST_F(KernelDevice, UnplugDuringABurstOfWritesGivesExactlyOneEvent) {
    ASSERT_NO_FATAL_FAILURE(openChannel());
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread writer([&] {
        while (!stop) {
            m_ostrel->sendCommand(CMD_STATUS);
            ++sent;
        }
    });
    while (sent < 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_gadget->unplug();
    const auto deadline = Clock::now() + GADGET_ENUMERATION_LIMIT;
    while (m_channel->connected() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop = true;
    writer.join();
    ASSERT_FALSE(m_channel->connected()) << "the writes never found the device gone";

    int events = 0;
    for (Bytes report = nextReport(QUIET_PERIOD); !report.empty();
         report = nextReport(QUIET_PERIOD)) {
        events += classifyReport(report) == ReportKind::Event ? 1 : 0;
    }
    std::printf("[ FIGURE   ] %d writes in the burst\n", sent.load());
    EXPECT_EQ(events, 1);
    EXPECT_LT(closeChannelMs(), PROMPT_CLOSE_MS);
}

TEST_F(KernelDevice, AControllerPluggedInAgainIsNotPickedUp) {
    ASSERT_NO_FATAL_FAILURE(openChannel());
    m_gadget->unplug();
    const std::string node = UsbGadget::hidrawSysfs(m_hidraw);
    const auto deadline = Clock::now() + GADGET_ENUMERATION_LIMIT;
    while (std::filesystem::exists(node) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_ostrel->sendCommand(CMD_STATUS);
    ASSERT_EQ(classifyReport(nextReport()), ReportKind::Event);

    // Plugged in again: a new node, which the old channel never opens.
    m_firmware.setSink({});
    m_bridge.reset();
    m_bridge = plugController(*m_gadget, m_firmware).bridge;
    m_firmware.clearLog();

    m_ostrel->sendCommand(CMD_STATUS);
    m_ostrel->sendParam(1, 0x03, true, 0, 0x05);
    EXPECT_FALSE(m_channel->connected());
    EXPECT_TRUE(strayReports().empty()) << "a second event, or a report of the new device";
    EXPECT_TRUE(m_firmware.log().empty()) << "a frame reached the controller plugged in again";
}

TEST_F(KernelDevice, ReportsCutShortOnTheWireDoNotMisalignTheNextWholeOne) {
    ASSERT_NO_FATAL_FAILURE(openChannel());
    // Two halves of one status report, each sent as a report of its own, then it whole.
    Bytes whole = padded({REPORT_STATUS, 0x00, 0x70});
    whole[STATUS_AT_VERSION] = 0x21;
    m_bridge->send(std::span(whole).first(12));
    m_bridge->send(std::span(whole).subspan(12));
    m_bridge->send(whole);
    std::vector<Bytes> got;
    for (Bytes report = nextReport(); !report.empty(); report = nextReport(QUIET_PERIOD)) {
        got.push_back(report);
    }
    std::printf(
        "[ FIGURE   ] 2 short and 1 whole report sent (%d refused by the gadget), %zu "
        "delivered\n",
        m_bridge->dropped(), got.size());
    ASSERT_EQ(m_bridge->dropped(), 0);
    // The kernel drops a report shorter than its descriptor says; what reaches the
    // channel must be the whole report, intact.
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), whole);
    for (const Bytes& report : got) {
        EXPECT_EQ(report.size(), static_cast<std::size_t>(REPORT_SIZE));
    }
}

}  // namespace
}  // namespace kernel_harness
