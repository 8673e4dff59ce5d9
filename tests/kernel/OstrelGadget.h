// The controller as the harness's USB gadget presents it: its ids, strings, report length
// and report descriptor.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "device/OstrelIdentity.h"
#include "tests/kernel/UsbGadget.h"

namespace kernel_harness {

inline constexpr std::uint16_t GADGET_VENDOR_ID = OSTREL_VENDOR_ID;
inline constexpr std::uint16_t GADGET_PRODUCT_ID = OSTREL_PRODUCT_ID;
inline constexpr const char* GADGET_MANUFACTURER = OSTREL_MANUFACTURER;
inline constexpr const char* GADGET_PRODUCT = OSTREL_PRODUCT;
// 23 payload bytes behind the report id.
inline constexpr int GADGET_REPORT_LENGTH = 24;

// Enumeration under TCG emulation takes a few hundred milliseconds; this is the limit.
inline constexpr std::chrono::milliseconds GADGET_ENUMERATION_LIMIT{15000};

inline std::vector<std::uint8_t> gadgetReportDescriptor() {
    return {
#include "GadgetReportDescriptor.inc"
    };
}

// Each gadget's own serial number, so that a scenario tells its units apart by it.
inline std::string gadgetSerial(const std::string& name) {
    return "SN-" + name;
}

inline GadgetConfig ostrelGadgetConfig(const std::string& name, int udcIndex) {
    GadgetConfig config;
    config.name = name;
    config.udcIndex = udcIndex;
    config.vendorId = GADGET_VENDOR_ID;
    config.productId = GADGET_PRODUCT_ID;
    config.manufacturer = GADGET_MANUFACTURER;
    config.product = GADGET_PRODUCT;
    config.serial = gadgetSerial(name);
    config.reportLength = GADGET_REPORT_LENGTH;
    config.reportDescriptor = gadgetReportDescriptor();
    return config;
}

}  // namespace kernel_harness
