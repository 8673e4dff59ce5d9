// A simulated controller plugged into the simulated HID system: a device with the real
// controller's identity whose output reports go to the firmware model and whose input
// reports are the firmware's answers.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/OstrelIdentity.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/OstrelFirmware.h"

namespace sim {

class SimulatedOstrel {
public:
    // Plugs a controller into `platform`; an empty path lets the platform choose one. Each
    // controller sits at a simulated location of its own: by default "sim-1" for the first
    // one made on the platform, "sim-2" for the second, and so on (one past the highest
    // "sim-N" there); or `location` when given. `serial`, ASCII, is its USB serial number
    // string; empty: it has none.
    explicit SimulatedOstrel(platform::SimHidPlatform& platform,
                             std::uint16_t productId = OSTREL_PRODUCT_ID, std::string path = {},
                             std::string location = {}, const std::string& serial = {});
    // Unplugs the controller: a channel still open on it sees the device gone.
    ~SimulatedOstrel();
    SimulatedOstrel(const SimulatedOstrel&) = delete;
    SimulatedOstrel& operator=(const SimulatedOstrel&) = delete;

    // The real controller's identity: 24-byte reports, the real ids and strings.
    static platform::SimIdentity identity(std::uint16_t productId = OSTREL_PRODUCT_ID,
                                          std::string path = {}, std::string location = {});

    OstrelFirmware& firmware() { return m_firmware; }
    // The device the controller is plugged in as now (replug() makes a new one; the old one
    // stays valid, unplugged, as long as the platform).
    platform::SimDevice& device() { return *current(); }
    const std::string& path() const { return current()->identity().path; }
    const std::string& location() const { return current()->identity().location; }

    // On: each answer reaches a read one interval of the controller's interrupt endpoint
    // (2 ms at full speed) after the firmware gave it, one answer per interval, as over the
    // bus. Off (the default): answers are there at once, for the tests.
    void setBusTiming(bool on);

    void unplug();
    // Plugs the controller in again after unplug(): a new device at the same location,
    // whose firmware keeps its memory. Its path is the given one again, or a new one of
    // the platform's; its serial number `serial` (ASCII), or the one it had when empty.
    // Nothing happens while it is plugged in.
    void replug(const std::string& serial = {});
    bool plugged() const { return current()->plugged(); }

private:
    std::shared_ptr<platform::SimDevice> current() const;
    // Plugs in a device of `id` whose frames go to the firmware and whose input is its
    // answers, from before anyone can find it.
    void plugIn(platform::SimIdentity id);

    platform::SimHidPlatform& m_platform;
    const std::string m_givenPath;
    mutable std::mutex m_mutex;  // the device pointer, which replug() replaces
    std::shared_ptr<platform::SimDevice> m_device;
    bool m_busTiming = false;
    OstrelFirmware m_firmware;
};

}  // namespace sim
