// Finds the one controller among the HID devices present. Writes its diagnostic lines to
// the given stream (standard output by default).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "device/HIDDescriptor.h"
#include "device/HList.h"
#include "device/OstrelIdentity.h"
#include "platform/HidPlatform.h"

class HIDDevices {
public:
    explicit HIDDevices(platform::HidPlatform& platform, std::FILE* diagnostics = stdout);

    // The single device with vendor OSTREL_VENDOR_ID, `productId`, both strings equal
    // byte for byte and 24-byte input and output reports; null when none or several match.
    std::unique_ptr<HIDDescriptor> find(const char* manufacturer, const char* product,
                                        std::uint16_t productId);

    // Appends a new descriptor (owned by whoever takes it out) for every matching device.
    // False when the scan ended early (the set could not be had, or a set-up step failed):
    // then devices after the failure were not looked at.
    bool enumerate(HList<HIDDescriptor>& list, const char* manufacturer, const char* product,
                   std::uint16_t vendorId, std::uint16_t productId);

private:
    platform::HidPlatform& m_platform;
    std::FILE* m_diagnostics;
};

// The controller as the programs look for it: product id OSTREL_PRODUCT_ID, and when that
// finds nothing, OSTREL_PRODUCT_ID_ALT, each with the controller's strings.
std::unique_ptr<HIDDescriptor> findOstrel(HIDDevices& devices);

// Every device the same rules accept, of either product id (OSTREL_PRODUCT_ID first), each
// with its location, in the platform's order within each product id. `complete`, when
// given, tells whether both scans went through to the end.
std::vector<std::unique_ptr<HIDDescriptor>> findAllOstrels(HIDDevices& devices,
                                                           bool* complete = nullptr);
