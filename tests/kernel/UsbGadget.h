// A USB HID gadget made through configfs on one of dummy_hcd's UDCs, so that the same
// kernel enumerates it as a real USB HID device on the matching dummy host controller.
// Needs root, configfs mounted at /sys/kernel/config and the usb_f_hid function.
// Failures throw std::runtime_error with the path and the reason.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kernel_harness {

struct GadgetConfig {
    std::string name;  // folder under usb_gadget/
    int udcIndex = 0;  // dummy_udc.N, enumerated on dummy_hcd.N
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string manufacturer;
    std::string product;
    std::string serial;  // none when empty, as on many controllers
    int reportLength = 0;
    std::vector<std::uint8_t> reportDescriptor;
};

class UsbGadget {
public:
    // Builds the configfs tree; the gadget is not yet plugged in.
    explicit UsbGadget(GadgetConfig config);
    UsbGadget(const UsbGadget&) = delete;
    UsbGadget& operator=(const UsbGadget&) = delete;
    // Unplugs when plugged, then removes the configfs tree. Never throws.
    ~UsbGadget();

    // Binds the gadget to its UDC: the host side sees a device plugged in.
    void plug();
    // Writes an empty line to UDC: the host side sees the device pulled out.
    void unplug();
    bool plugged() const { return m_plugged; }

    // The gadget side's character device, /dev/hidgN (exists once the function is bound).
    std::string waitForHidg(std::chrono::milliseconds limit) const;
    // The host side's /dev/hidrawN of this gadget, once enumerated and its node exists.
    std::string waitForHidraw(std::chrono::milliseconds limit) const;
    // Sysfs folder of that node, /sys/class/hidraw/hidrawN.
    static std::string hidrawSysfs(const std::string& devicePath);

    const GadgetConfig& config() const { return m_config; }
    std::string udcName() const;

private:
    std::string findHidraw() const;
    // The name in /sys/class/hidraw of a node on this gadget's UDC, or empty.
    std::string hidrawEntry() const;
    void remove() noexcept;

    GadgetConfig m_config;
    std::string m_root;                  // /sys/kernel/config/usb_gadget/<name>
    std::vector<std::string> m_created;  // folders and links, in creation order
    bool m_plugged = false;
};

// Small file helpers shared by the harness.
std::string readFile(const std::string& path);  // throws when it cannot be read
bool tryReadFile(const std::string& path, std::string& content);
void writeFile(const std::string& path, const std::string& content);  // throws
std::string trimmed(std::string text);

}  // namespace kernel_harness
