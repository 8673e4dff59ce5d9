// A simulated controller plugged into the simulated HID system: a device with the real
// controller's identity whose output reports go to the firmware model and whose input
// reports are the firmware's answers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/OstrelIdentity.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/OstrelFirmware.h"

namespace sim {

class SimulatedOstrel {
public:
    // Plugs a controller into `platform`; an empty path lets the platform choose one. Each
    // controller sits at a simulated location of its own: "sim-1" for the first one made on
    // the platform, "sim-2" for the second, and so on.
    explicit SimulatedOstrel(platform::SimHidPlatform& platform,
                             std::uint16_t productId = OSTREL_PRODUCT_ID, std::string path = {});
    // Unplugs the controller: a channel still open on it sees the device gone.
    ~SimulatedOstrel();
    SimulatedOstrel(const SimulatedOstrel&) = delete;
    SimulatedOstrel& operator=(const SimulatedOstrel&) = delete;

    // The real controller's identity: 24-byte reports, the real ids and strings.
    static platform::SimIdentity identity(std::uint16_t productId = OSTREL_PRODUCT_ID,
                                          std::string path = {}, std::string location = {});

    OstrelFirmware& firmware() { return m_firmware; }
    platform::SimDevice& device() { return *m_device; }
    const std::string& path() const { return m_device->identity().path; }
    const std::string& location() const { return m_device->identity().location; }

    // On: each answer reaches a read one interval of the controller's interrupt endpoint
    // (2 ms at full speed) after the firmware gave it, one answer per interval, as over the
    // bus. Off (the default): answers are there at once, for the tests.
    void setBusTiming(bool on);

    void unplug();
    bool plugged() const { return m_device->plugged(); }

private:
    std::shared_ptr<platform::SimDevice> m_device;
    OstrelFirmware m_firmware;
};

}  // namespace sim
