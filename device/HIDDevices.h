// Finds the one controller among the HID devices present. Writes its diagnostic lines to
// the given stream (standard output by default).
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "device/HIDDescriptor.h"
#include "device/HList.h"
#include "device/OstrelIdentity.h"
#include "platform/HidPlatform.h"

// A device a scan did not take that looks like what it looked for: the vendor id it looked
// for with another product id, or the ids or both names it looked for with the rest
// otherwise; only one whose names and report sizes could be read. `why` says what differs,
// for a person.
struct Lookalike {
    HIDDescriptor device;  // ids, names, path and location as the scan saw them
    std::string why;
};

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
    // The same for any of `productIds`, in one scan.
    bool enumerate(HList<HIDDescriptor>& list, const char* manufacturer, const char* product,
                   std::uint16_t vendorId, std::initializer_list<std::uint16_t> productIds);

    // Where the scans say what they saw: how many HID interfaces, and for each its ids and
    // why it was taken or not (ostrelctl --verbose). Null, the default: nothing.
    void logSearch(std::FILE* log) { m_searchLog = log; }
    // Where the scans append the lookalikes they pass over. Null, the default: nowhere.
    void collectLookalikes(std::vector<Lookalike>* into) { m_lookalikes = into; }

private:
    bool scan(HList<HIDDescriptor>& list, const char* manufacturer, const char* product,
              std::uint16_t vendorId, std::initializer_list<std::uint16_t> productIds);

    platform::HidPlatform& m_platform;
    std::FILE* m_diagnostics;
    std::FILE* m_searchLog = nullptr;
    std::vector<Lookalike>* m_lookalikes = nullptr;
};

// The controller as the programs look for it: product id OSTREL_PRODUCT_ID, and when that
// finds nothing, OSTREL_PRODUCT_ID_ALT, each with the controller's strings.
std::unique_ptr<HIDDescriptor> findOstrel(HIDDevices& devices);

// Every device the same rules accept, of either product id (OSTREL_PRODUCT_ID first), each
// with its location, in the platform's order within each product id. `complete`, when
// given, tells whether the scan went through to the end.
std::vector<std::unique_ptr<HIDDescriptor>> findAllOstrels(HIDDevices& devices,
                                                           bool* complete = nullptr);
