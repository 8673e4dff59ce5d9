// A channel opened straight on a simulated device, bypassing discovery: for tests of the
// layers above the platform that need a device to talk to.
#pragma once

#include <memory>

#include "device/HIDDescriptor.h"
#include "device/HIDDevice.h"
#include "device/Wire.h"
#include "platform/sim/SimHidPlatform.h"

inline std::unique_ptr<HIDDevice> openSimChannel(platform::SimHidPlatform& platform,
                                                 const platform::SimDevice& device) {
    auto descriptor = std::make_unique<HIDDescriptor>();
    descriptor->path = device.identity().path;
    descriptor->caps = {REPORT_SIZE, REPORT_SIZE, 0};
    return std::make_unique<HIDDevice>(platform, std::move(descriptor));
}
