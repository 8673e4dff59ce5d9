#include "device/HIDDevices.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "device/Wire.h"

namespace {

// UTF-16 units the string buffer holds (512 bytes).
constexpr std::size_t STRING_BUFFER_UNITS = 256;

// One byte per character: the low byte of each unit, ending at the first unit whose low
// byte is 0 and after at most DESCRIPTOR_STRING_SIZE - 1 characters.
void storeLowBytes(const char16_t* units, char (&field)[DESCRIPTOR_STRING_SIZE]) {
    std::fill(std::begin(field), std::end(field), '\0');
    for (int i = 0; i < DESCRIPTOR_STRING_SIZE - 1; ++i) {
        const auto low = static_cast<unsigned char>(units[i] & 0xFF);
        if (low == 0) {
            break;
        }
        field[i] = static_cast<char>(low);
    }
}

using StringGetter = bool (platform::HidHandle::*)(char16_t*, std::size_t);

void readString(platform::HidHandle& handle, StringGetter getter,
                char (&field)[DESCRIPTOR_STRING_SIZE]) {
    char16_t units[STRING_BUFFER_UNITS] = {};
    if ((handle.*getter)(units, STRING_BUFFER_UNITS)) {
        storeLowBytes(units, field);
    } else {
        std::fill(std::begin(field), std::end(field), '\0');
        std::strcpy(field, NOT_PRESENT_TEXT);
    }
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The serial number the device gave in `units` (NUL-terminated within them) as UTF-8, or
// nothing: a serial goes into records that tell units apart, so one that is cut, too long
// for a descriptor, or not clean text is none rather than a guess.
std::optional<std::string> serialText(const char16_t* units, std::size_t size) {
    const char16_t* end = std::find(units, units + size, u'\0');
    const auto count = static_cast<std::size_t>(end - units);
    if (end == units + size || count > USB_SERIAL_MAX_UNITS) {
        return std::nullopt;
    }
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            return std::nullopt;
        }
        // Controls (C0, DEL, C1) and the mark of a sequence the system could not decode.
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xFFFD) {
            return std::nullopt;
        }
        appendUtf8(text, cp);
    }
    return text;
}

// One diagnostic line; a null stream takes none.
[[gnu::format(printf, 2, 3)]] void say(std::FILE* out, const char* format, ...) {
    if (out == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(out, format, arguments);
    va_end(arguments);
}

bool sameText(const char* field, const char* wanted) {
    return wanted != nullptr && std::strcmp(field, wanted) == 0;
}

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

// What sets a lookalike apart from what the scan looked for, the first difference found.
std::string lookalikeReason(const HIDDescriptor& device, std::uint16_t vendorId, bool ours,
                            bool named) {
    if (device.vendorId != vendorId) {
        return "another vendor id (" + hex4(device.vendorId) + ")";
    }
    if (!ours) {
        return "another product id (" + hex4(device.productId) + ")";
    }
    if (!named) {
        return std::string("other names (\"") + device.manufacturer + "\", \"" + device.product +
               "\")";
    }
    return "other report sizes (" + std::to_string(device.caps.inputReportByteLength) + " in, " +
           std::to_string(device.caps.outputReportByteLength) + " out; a controller's are " +
           std::to_string(REPORT_SIZE) + ")";
}

}  // namespace

HIDDevices::HIDDevices(platform::HidPlatform& platform, std::FILE* diagnostics)
    : m_platform(platform), m_diagnostics(diagnostics) {}

std::unique_ptr<HIDDescriptor> HIDDevices::find(const char* manufacturer, const char* product,
                                                std::uint16_t productId) {
    HList<HIDDescriptor> list;
    enumerate(list, manufacturer, product, OSTREL_VENDOR_ID, productId);

    std::unique_ptr<HIDDescriptor> result;
    if (list.count() == 0) {
        say(m_diagnostics,
            "No device found - set the -manuf, -product, -vendor, -pid propperly:\n");
    } else if (list.count() == 1) {
        result.reset(list.first());
    } else {
        say(m_diagnostics,
            "Too many devices - set the -manuf, -product, -vendor, -pid propperly:\n");
        for (HIDDescriptor* found = list.first(); found != nullptr; found = list.next()) {
            say(m_diagnostics, "Manuf=%s product=%s vendor=%x pid=%x\n", found->manufacturer,
                found->product, found->vendorId, found->productId);
            delete found;
        }
    }
    list.removeAll();
    if (m_diagnostics != nullptr) {
        std::fflush(m_diagnostics);
    }
    return result;
}

bool HIDDevices::enumerate(HList<HIDDescriptor>& list, const char* manufacturer,
                           const char* product, std::uint16_t vendorId, std::uint16_t productId) {
    return enumerate(list, manufacturer, product, vendorId, {productId});
}

bool HIDDevices::enumerate(HList<HIDDescriptor>& list, const char* manufacturer,
                           const char* product, std::uint16_t vendorId,
                           std::initializer_list<std::uint16_t> productIds) {
    const bool whole = scan(list, manufacturer, product, vendorId, productIds);
    if (!whole) {
        say(m_searchLog, "the search ended early: interfaces after that were not looked at\n");
    }
    if (m_searchLog != nullptr) {
        std::fflush(m_searchLog);
    }
    return whole;
}

bool HIDDevices::scan(HList<HIDDescriptor>& list, const char* manufacturer, const char* product,
                      std::uint16_t vendorId, std::initializer_list<std::uint16_t> productIds) {
    const std::unique_ptr<platform::HidInterfaceSet> set = m_platform.presentInterfaces();
    if (!set) {
        say(m_diagnostics, "SetupDiGetClassDevs failed with error: %d\n",
            static_cast<int>(m_platform.lastError()));
        return false;
    }

    // Every failure of a set-up step ends the scan; what was found before it stays.
    for (std::uint32_t index = 0;; ++index) {
        const platform::Status present = set->interfaceAt(index);
        if (present == platform::Status::NoMoreItems) {
            say(m_searchLog, "HID interfaces present: %u\n", static_cast<unsigned>(index));
            return true;
        }
        if (present != platform::Status::Ok) {
            say(m_diagnostics, "SetupDiEnumDeviceInterfaces failed with error: %d\n",
                static_cast<int>(m_platform.lastError()));
            return false;
        }

        std::size_t pathSize = 0;
        if (set->pathSize(index, pathSize) != platform::Status::Ok) {
            say(m_diagnostics, "SetupDiGetDeviceInterfaceDetail failed with error: %d\n",
                static_cast<int>(m_platform.lastError()));
            return false;
        }
        // At least one byte, so the path always ends in a NUL we put there ourselves.
        const std::size_t bufferSize = std::max<std::size_t>(pathSize, 1);
        const std::unique_ptr<char[]> path(new (std::nothrow) char[bufferSize]);
        if (!path) {
            say(m_diagnostics, "Unable to allocate memory to get the interface detail data.\n");
            return false;
        }
        path[0] = '\0';
        if (set->path(index, path.get(), bufferSize) != platform::Status::Ok) {
            say(m_diagnostics, "Error in SetupDiGetDeviceInterfaceDetail failed with error: %d\n",
                static_cast<int>(m_platform.lastError()));
            return false;
        }
        path[bufferSize - 1] = '\0';

        std::unique_ptr<platform::HidHandle> probe =
            m_platform.open(path.get(), platform::OpenMode::Probe);
        if (!probe) {
            say(m_searchLog, "%s: not taken: cannot be opened (system error %u)\n", path.get(),
                static_cast<unsigned>(m_platform.lastError()));
            continue;
        }
        // A device whose attributes cannot be read is skipped rather than ending the
        // scan: one odd device must not hide the controller behind it.
        platform::HidAttributes attributes;
        if (!probe->attributes(attributes)) {
            say(m_searchLog, "%s: not taken: its ids cannot be read\n", path.get());
            continue;
        }
        auto descriptor = std::make_unique<HIDDescriptor>();
        readString(*probe, &platform::HidHandle::manufacturerString, descriptor->manufacturer);
        readString(*probe, &platform::HidHandle::productString, descriptor->product);
        platform::HidCaps caps;
        const bool hasCaps = probe->capabilities(caps);

        const bool ours = attributes.vendorId == vendorId &&
                          std::find(productIds.begin(), productIds.end(), attributes.productId) !=
                              productIds.end();
        const bool named = sameText(descriptor->manufacturer, manufacturer) &&
                           sameText(descriptor->product, product);
        const bool sized = hasCaps && caps.inputReportByteLength == REPORT_SIZE &&
                           caps.outputReportByteLength == REPORT_SIZE;
        const char* why = !ours    ? "not a controller's vendor and product id"
                          : !named ? "a controller's ids, other names"
                          : !sized ? "a controller's ids and names, other report sizes"
                                   : nullptr;
        // Only of a device taken: every search probes every interface again.
        if (why == nullptr) {
            char16_t units[STRING_BUFFER_UNITS] = {};
            if (probe->serialNumberString(units, STRING_BUFFER_UNITS)) {
                if (const std::optional<std::string> serial =
                        serialText(units, STRING_BUFFER_UNITS)) {
                    descriptor->serial = *serial;
                } else {
                    say(m_searchLog,
                        "%s: its serial number is over %u UTF-16 units or not clean text: "
                        "taken without one\n",
                        path.get(), static_cast<unsigned>(USB_SERIAL_MAX_UNITS));
                }
            }
        }
        probe.reset();
        say(m_searchLog, "%s: vendor 0x%04x product 0x%04x \"%s\" \"%s\": %s%s\n", path.get(),
            attributes.vendorId, attributes.productId, descriptor->manufacturer,
            descriptor->product,
            why == nullptr ? "taken" : "not taken: ", why == nullptr ? "" : why);
        descriptor->vendorId = attributes.vendorId;
        descriptor->productId = attributes.productId;
        descriptor->path = path.get();
        descriptor->location = set->location(index);
        descriptor->caps = caps;
        if (why != nullptr) {
            // Only on what could be read: a device going away reads as one without names
            // or report sizes for a moment, and must not pass for a lookalike.
            const bool readable = hasCaps &&
                                  !sameText(descriptor->manufacturer, NOT_PRESENT_TEXT) &&
                                  !sameText(descriptor->product, NOT_PRESENT_TEXT);
            if (m_lookalikes != nullptr && readable && (attributes.vendorId == vendorId || named)) {
                m_lookalikes->push_back(
                    {*descriptor, lookalikeReason(*descriptor, vendorId, ours, named)});
            }
            continue;
        }
        if (list.add(descriptor.get())) {
            descriptor.release();
        }
    }
}

std::unique_ptr<HIDDescriptor> findOstrel(HIDDevices& devices) {
    std::unique_ptr<HIDDescriptor> descriptor =
        devices.find(OSTREL_MANUFACTURER, OSTREL_PRODUCT, OSTREL_PRODUCT_ID);
    if (!descriptor) {
        descriptor = devices.find(OSTREL_MANUFACTURER, OSTREL_PRODUCT, OSTREL_PRODUCT_ID_ALT);
    }
    return descriptor;
}

std::vector<std::unique_ptr<HIDDescriptor>> findAllOstrels(HIDDevices& devices, bool* complete) {
    HList<HIDDescriptor> list;
    // One scan for both ids, so that each interface is looked at (and told of) once.
    const bool whole =
        devices.enumerate(list, OSTREL_MANUFACTURER, OSTREL_PRODUCT, OSTREL_VENDOR_ID,
                          {OSTREL_PRODUCT_ID, OSTREL_PRODUCT_ID_ALT});
    if (complete != nullptr) {
        *complete = whole;
    }
    std::vector<std::unique_ptr<HIDDescriptor>> found;
    for (HIDDescriptor* item = list.first(); item != nullptr; item = list.next()) {
        found.emplace_back(item);
    }
    list.removeAll();
    std::stable_partition(found.begin(), found.end(),
                          [](const auto& item) { return item->productId == OSTREL_PRODUCT_ID; });
    return found;
}
