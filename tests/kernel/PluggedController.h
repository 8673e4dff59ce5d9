// A controller plugged in: the gadget bound to its UDC, the firmware answering through a
// bridge on its /dev/hidgN, and the host's hidraw node enumerated. The harness's tests and
// the gadget program all start a controller this way.
#pragma once

#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

#include "sim/OstrelFirmware.h"
#include "tests/kernel/GadgetBridge.h"
#include "tests/kernel/OstrelGadget.h"
#include "tests/kernel/UsbGadget.h"

namespace kernel_harness {

struct PluggedController {
    std::unique_ptr<GadgetBridge> bridge;
    std::string hidraw;  // the host's node, /dev/hidrawN
};

// Plugs `gadget` in and lets `firmware` answer on it; `onFrame` also sees each frame the
// firmware received. Throws std::runtime_error when a step does not happen within the
// enumeration limit; the firmware then sends to nobody. The caller clears the firmware's
// sink before the bridge goes.
inline PluggedController plugController(UsbGadget& gadget, sim::OstrelFirmware& firmware,
                                        GadgetBridge::Handler onFrame = {}) {
    gadget.plug();
    const std::string hidg = gadget.waitForHidg(GADGET_ENUMERATION_LIMIT);
    if (hidg.empty()) {
        throw std::runtime_error("no /dev/hidgN appeared for the gadget " + gadget.config().name);
    }
    PluggedController plugged;
    plugged.bridge = std::make_unique<GadgetBridge>(
        hidg, [&firmware, onFrame = std::move(onFrame)](std::span<const std::uint8_t> frame) {
            firmware.receive(frame);
            if (onFrame) {
                onFrame(frame);
            }
        });
    GadgetBridge* bridge = plugged.bridge.get();
    firmware.setSink([bridge](const sim::Report& report) { bridge->send(report); });
    plugged.hidraw = gadget.waitForHidraw(GADGET_ENUMERATION_LIMIT);
    if (plugged.hidraw.empty()) {
        firmware.setSink({});
        throw std::runtime_error("the host never enumerated the gadget " + gadget.config().name);
    }
    return plugged;
}

}  // namespace kernel_harness
