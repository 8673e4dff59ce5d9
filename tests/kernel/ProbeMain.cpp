// ostrel-probe: what our device library sees of the controller and the bytes of one
// status exchange, in the lines hidapi-peer prints, for a side-by-side comparison.
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "device/HIDDevice.h"
#include "device/HIDDevices.h"
#include "device/HIDOstrel.h"
#include "device/OstrelIdentity.h"
#include "device/Wire.h"
#include "platform/linux/LinuxHidPlatform.h"

int main() {
    platform::LinuxHidPlatform platform;
    HIDDevices devices(platform, stderr);
    std::unique_ptr<HIDDescriptor> found =
        devices.find(OSTREL_MANUFACTURER, OSTREL_PRODUCT, OSTREL_PRODUCT_ID);
    if (!found) {
        std::printf("devices 0\n");
        return 1;
    }
    std::printf("device vendor=%04x product=%04x manufacturer=%s name=%s path=%s\n",
                found->vendorId, found->productId, found->manufacturer, found->product,
                found->path.c_str());
    std::printf("devices 1\n");
    std::printf("lengths input=%d output=%d\n", found->caps.inputReportByteLength,
                found->caps.outputReportByteLength);

    HIDDevice channel(platform, std::move(found));
    HIDOstrel ostrel(&channel);
    std::printf("written %d\n",
                channel.write(HArray(statusRequestFrame().view())) ? REPORT_SIZE : -1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::unique_ptr<HArray> report;
    while (!(report = ostrel.popReport()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::printf("status");
    if (report) {
        for (std::uint8_t byte : report->bytes()) {
            std::printf(" %02x", byte);
        }
    }
    std::printf("\n");
    return report ? 0 : 1;
}
