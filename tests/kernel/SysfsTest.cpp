// What the kernel publishes in sysfs about the gadget's hidraw node, the input of the Linux
// backend's discovery. With OSTREL_CAPTURE_DIR set, the files are also copied there as a
// small sysfs tree (same relative paths and links) for tests that run on a fake tree.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/kernel/OstrelGadget.h"

namespace kernel_harness {
namespace {

namespace fs = std::filesystem;

// Copies a sysfs file to the same path below `root`.
void captureFile(const fs::path& root, const fs::path& file) {
    const fs::path real = fs::canonical(file);
    const fs::path target = root / real.relative_path();
    fs::create_directories(target.parent_path());
    const std::string content = readFile(real.string());
    FILE* out = std::fopen(target.c_str(), "wb");
    ASSERT_NE(out, nullptr) << target;
    EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), out), content.size());
    std::fclose(out);
}

// Recreates a sysfs link, with the kernel's own relative target, below `root`.
void captureLink(const fs::path& root, const fs::path& link) {
    const fs::path where = fs::canonical(link.parent_path()) / link.filename();
    const fs::path target = root / where.relative_path();
    fs::create_directories(target.parent_path());
    fs::remove(target);
    fs::create_symlink(fs::read_symlink(link), target);
}

TEST(KernelSysfs, DescribesTheGadgetAsDiscoveryReadsIt) {
    UsbGadget gadget(ostrelGadgetConfig("sysfs", 0));
    gadget.plug();
    const std::string node = gadget.waitForHidraw(GADGET_ENUMERATION_LIMIT);
    ASSERT_FALSE(node.empty()) << "the host never enumerated the gadget";

    const fs::path classEntry = UsbGadget::hidrawSysfs(node);
    const fs::path hid = classEntry / "device";
    // The USB device is two levels above the HID device: HID device, interface, device.
    const fs::path usb = fs::canonical(hid).parent_path().parent_path();

    const std::string uevent = readFile((hid / "uevent").string());
    EXPECT_NE(uevent.find("HID_ID=0003:000004D8:00000002\n"), std::string::npos) << uevent;
    EXPECT_NE(uevent.find("HID_NAME=TAVREN INC Ostrel PSU\n"), std::string::npos) << uevent;
    const std::string descriptor = readFile((hid / "report_descriptor").string());
    const std::vector<std::uint8_t> expected = gadgetReportDescriptor();
    EXPECT_EQ(std::vector<std::uint8_t>(descriptor.begin(), descriptor.end()), expected);
    EXPECT_EQ(readFile((usb / "manufacturer").string()), "TAVREN INC\n");
    EXPECT_EQ(readFile((usb / "product").string()), "Ostrel PSU\n");
    EXPECT_EQ(readFile((usb / "serial").string()), gadgetSerial("sysfs") + "\n");
    EXPECT_EQ(readFile((usb / "idVendor").string()), "04d8\n");
    EXPECT_EQ(readFile((usb / "idProduct").string()), "0002\n");

    const char* captureDir = std::getenv("OSTREL_CAPTURE_DIR");
    if (captureDir == nullptr || *captureDir == '\0') {
        return;
    }
    const fs::path root = captureDir;
    captureLink(root, classEntry);
    captureLink(root, hid);
    captureFile(root, classEntry / "uevent");
    captureFile(root, hid / "uevent");
    captureFile(root, hid / "report_descriptor");
    for (const char* name : {"manufacturer", "product", "idVendor", "idProduct", "uevent"}) {
        captureFile(root, usb / name);
    }
    std::printf("captured the sysfs files of %s into %s\n", node.c_str(), captureDir);
}

}  // namespace
}  // namespace kernel_harness
