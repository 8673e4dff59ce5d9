#include "sim/SimulatedOstrel.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
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

// "sim-<n>", one past the highest of the simulated controllers on the platform, so that a
// controller plugged in again at its place is not counted twice.
std::string nextLocation(const platform::SimHidPlatform& platform) {
    unsigned long highest = 0;
    for (const auto& device : platform.devices()) {
        const std::string& location = device->identity().location;
        if (location.starts_with(SIM_LOCATION_PREFIX)) {
            highest = std::max(
                highest, std::strtoul(location.c_str() + SIM_LOCATION_PREFIX.size(), nullptr, 10));
        }
    }
    return std::string(SIM_LOCATION_PREFIX) + std::to_string(highest + 1);
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
                                 std::string path, std::string location, const std::string& serial)
    : m_platform(platform), m_givenPath(std::move(path)) {
    // Answers go to whichever device the controller is plugged in as.
    m_firmware.setSink([this](const Report& report) { current()->queueInput(report); });
    if (location.empty()) {
        location = nextLocation(platform);
    }
    platform::SimIdentity id = identity(productId, m_givenPath, std::move(location));
    if (!serial.empty()) {
        id.serial = ascii16(serial.c_str());
    }
    plugIn(std::move(id));
}

SimulatedOstrel::~SimulatedOstrel() {
    unplug();
    // After these return no hook or sink call is in progress or can start.
    current()->setWriteHook({});
    m_firmware.setSink({});
}

std::shared_ptr<platform::SimDevice> SimulatedOstrel::current() const {
    std::lock_guard lock(m_mutex);
    return m_device;
}

void SimulatedOstrel::plugIn(platform::SimIdentity id) {
    // No lock of this object is held around the device's own: a frame's hook takes the
    // firmware's lock and then, for the answer, this object's.
    m_platform.addDevice(std::move(id), [this](const std::shared_ptr<platform::SimDevice>& made) {
        bool busTiming = false;
        {
            std::lock_guard lock(m_mutex);
            busTiming = m_busTiming;
        }
        made->setInputInterval(busTiming ? INTERRUPT_INTERVAL : std::chrono::microseconds(0));
        made->setWriteHook([firmware = &m_firmware](std::span<const std::uint8_t> frame) {
            firmware->receive(frame);
        });
        std::lock_guard lock(m_mutex);
        m_device = made;
    });
}

void SimulatedOstrel::setBusTiming(bool on) {
    {
        std::lock_guard lock(m_mutex);
        m_busTiming = on;
    }
    current()->setInputInterval(on ? INTERRUPT_INTERVAL : std::chrono::microseconds(0));
}

void SimulatedOstrel::unplug() {
    current()->unplug();
}

void SimulatedOstrel::replug(const std::string& serial) {
    const std::shared_ptr<platform::SimDevice> old = current();
    if (old->plugged()) {
        return;
    }
    // No frame reaches the old device any more; its hook goes before the new one's comes.
    old->setWriteHook({});
    platform::SimIdentity id = old->identity();
    id.path = m_givenPath;
    if (!serial.empty()) {
        id.serial = ascii16(serial.c_str());
    }
    plugIn(std::move(id));
}

}  // namespace sim
