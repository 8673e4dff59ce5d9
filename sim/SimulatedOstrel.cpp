#include "sim/SimulatedOstrel.h"

#include <chrono>
#include <string_view>
#include <utility>

namespace sim {

namespace {

std::u16string ascii16(const char* text) {
    std::u16string wide;
    for (; *text != '\0'; ++text) {
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(*text)));
    }
    return wide;
}

constexpr std::string_view SIM_LOCATION_PREFIX = "sim-";
// The controller's input endpoint is polled every 2 ms (full speed, bInterval 2).
constexpr std::chrono::microseconds INTERRUPT_INTERVAL = std::chrono::milliseconds(2);

// "sim-<n>", one past the simulated controllers already on the platform.
std::string nextLocation(const platform::SimHidPlatform& platform) {
    std::size_t count = 0;
    for (const auto& device : platform.devices()) {
        if (device->identity().location.starts_with(SIM_LOCATION_PREFIX)) {
            ++count;
        }
    }
    return std::string(SIM_LOCATION_PREFIX) + std::to_string(count + 1);
}

}  // namespace

platform::SimIdentity SimulatedOstrel::identity(std::uint16_t productId, std::string path,
                                                std::string location) {
    platform::SimIdentity id;
    id.path = std::move(path);
    id.location = std::move(location);
    id.vendorId = OSTREL_VENDOR_ID;
    id.productId = productId;
    id.version = 0x0100;
    id.manufacturer = ascii16(OSTREL_MANUFACTURER);
    id.product = ascii16(OSTREL_PRODUCT);
    id.inputReportByteLength = REPORT_SIZE;
    id.outputReportByteLength = REPORT_SIZE;
    return id;
}

SimulatedOstrel::SimulatedOstrel(platform::SimHidPlatform& platform, std::uint16_t productId,
                                 std::string path)
    : m_device(platform.addDevice(identity(productId, std::move(path), nextLocation(platform)))) {
    m_firmware.setSink([device = m_device](const Report& report) { device->queueInput(report); });
    m_device->setWriteHook([firmware = &m_firmware](std::span<const std::uint8_t> frame) {
        firmware->receive(frame);
    });
}

SimulatedOstrel::~SimulatedOstrel() {
    unplug();
    // After these return no hook or sink call is in progress or can start.
    m_device->setWriteHook({});
    m_firmware.setSink({});
}

void SimulatedOstrel::setBusTiming(bool on) {
    m_device->setInputInterval(on ? INTERRUPT_INTERVAL : std::chrono::microseconds(0));
}

void SimulatedOstrel::unplug() {
    m_device->unplug();
}

}  // namespace sim
