// A temporary sysfs and /dev tree laid out the way the kernel shows a hidraw device:
// class/hidraw/hidrawN -> .../<usb device>/<interface>/<hid device>/hidraw/hidrawN,
// whose `device` link leads back to the HID device.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/OstrelIdentity.h"
#include "platform/linux/tests/Descriptors.h"

namespace testdata {

namespace fs = std::filesystem;

// The HID device's uevent of the controller as the kernel shows it behind a gadget.
inline constexpr const char* GADGET_UEVENT =
    "DRIVER=hid-generic\n"
    "HID_ID=0003:000004D8:00000002\n"
    "HID_NAME=TAVREN INC Ostrel PSU\n"
    "HID_PHYS=usb-dummy_hcd.0-1/input0\n"
    "HID_UNIQ=\n"
    "MODALIAS=hid:b0003g0001v000004D8p00000002\n";

inline constexpr const char* USB_DEVICE_UEVENT =
    "MAJOR=189\n"
    "MINOR=1\n"
    "DEVNAME=bus/usb/001/002\n"
    "DEVTYPE=usb_device\n"
    "DRIVER=usb\n"
    "PRODUCT=4d8/2/100\n"
    "TYPE=0/0/0\n"
    "BUSNUM=001\n"
    "DEVNUM=002\n";

enum class Node { File, Fifo, None };

struct FakeDevice {
    unsigned number = 0;
    std::optional<std::string> uevent = GADGET_UEVENT;
    std::optional<Bytes> descriptor = gadgetDescriptor();
    // No USB parent: the HID device hangs below a virtual device, as with uhid.
    bool usbParent = true;
    // The USB device's folder name, its port chain; empty for "1-<number>". A chain
    // behind hubs ("3-1.4.2") hangs below the folders of its hubs ("3-1", "3-1.4").
    std::string usbPort;
    std::optional<std::string> usbUevent = USB_DEVICE_UEVENT;
    std::optional<std::string> manufacturer = std::string(OSTREL_MANUFACTURER) + "\n";
    std::optional<std::string> product = std::string(OSTREL_PRODUCT) + "\n";
    std::optional<std::string> bcdDevice = "0100\n";
    std::optional<std::string> serial;  // none, as the controller has
    Node node = Node::File;
};

inline void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

inline void writeFile(const fs::path& path, const Bytes& bytes) {
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

class FakeTree {
public:
    FakeTree() {
        std::string pattern = (fs::temp_directory_path() / "ostrel-fake-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_root = pattern;
        fs::create_directories(sys() / "class/hidraw");
        fs::create_directories(dev());
    }
    ~FakeTree() {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    fs::path sys() const { return m_root / "sys"; }
    fs::path dev() const { return m_root / "dev"; }

    struct Added {
        fs::path node;       // <dev>/hidrawN
        fs::path hidDevice;  // the HID device's folder
        fs::path usbDevice;  // the USB device's folder (or the virtual parent)
        fs::path hidraw;     // the hidraw class device's folder
    };

    Added add(const FakeDevice& d) {
        const std::string n = std::to_string(d.number);
        Added added;
        fs::path interface;
        if (d.usbParent) {
            const std::string port = d.usbPort.empty() ? "1-" + n : d.usbPort;
            const std::size_t dash = port.find('-');
            added.usbDevice = sys() / "devices/pci0000:00/0000:00:14.0" /
                              ("usb" + port.substr(0, dash == std::string::npos ? 0 : dash));
            // Each hub of the chain is a folder of its own above the device.
            for (std::size_t dot = port.find('.', dash); dot != std::string::npos;
                 dot = port.find('.', dot + 1)) {
                added.usbDevice /= port.substr(0, dot);
            }
            added.usbDevice /= port;
            interface = added.usbDevice / (port + ":1.0");
        } else {
            added.usbDevice = sys() / "devices/virtual/misc/uhid";
            interface = added.usbDevice;
        }
        const std::string hidName = "0003:04D8:0002." + n;
        added.hidDevice = interface / hidName;
        added.hidraw = added.hidDevice / "hidraw" / ("hidraw" + n);
        fs::create_directories(added.hidraw);
        if (d.usbParent) {
            put(added.usbDevice / "uevent", d.usbUevent);
            put(added.usbDevice / "manufacturer", d.manufacturer);
            put(added.usbDevice / "product", d.product);
            put(added.usbDevice / "bcdDevice", d.bcdDevice);
            put(added.usbDevice / "serial", d.serial);
        }
        put(added.hidDevice / "uevent", d.uevent);
        if (d.descriptor) {
            writeFile(added.hidDevice / "report_descriptor", *d.descriptor);
        }
        fs::create_directory_symlink("../../../" + hidName, added.hidraw / "device");
        fs::create_directory_symlink(fs::relative(added.hidraw, sys() / "class/hidraw"),
                                     sys() / "class/hidraw" / ("hidraw" + n));
        added.node = dev() / ("hidraw" + n);
        if (d.node == Node::File) {
            writeFile(added.node, std::string());
        } else if (d.node == Node::Fifo) {
            if (::mkfifo(added.node.c_str(), 0600) != 0) {
                throw std::runtime_error("mkfifo failed");
            }
        }
        return added;
    }

private:
    static void put(const fs::path& path, const std::optional<std::string>& text) {
        if (text) {
            writeFile(path, *text);
        }
    }

    fs::path m_root;
};

}  // namespace testdata
