// Discovery through the Linux backend over the sysfs files a real kernel published for the
// harness's gadget (tests/kernel/captured), so the backend's reading of sysfs is checked
// against what the kernel writes, not only against trees we laid out ourselves.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "device/HIDDevices.h"
#include "platform/linux/LinuxHidPlatform.h"
#include "platform/linux/tests/FakeTree.h"

namespace {

namespace fs = std::filesystem;

TEST(CapturedKernelTree, DiscoveryFindsTheGadgetWithItsIdentity) {
    const fs::path sys = fs::path(OSTREL_CAPTURED_SYSFS);
    ASSERT_TRUE(fs::exists(sys / "class/hidraw/hidraw0")) << sys;

    // The node itself is a plain file: it answers no hidraw ioctl, so ids and the
    // descriptor come from the captured sysfs files.
    testdata::FakeTree dev;
    testdata::writeFile(dev.dev() / "hidraw0", std::string());
    platform::LinuxHidPlatform platform(sys.string(), dev.dev().string());

    std::FILE* diagnostics = std::tmpfile();
    ASSERT_NE(diagnostics, nullptr);
    HIDDevices devices(platform, diagnostics);
    const auto found = devices.find("TAVREN INC", "Ostrel PSU", 0x0002);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->vendorId, 0x04D8);
    EXPECT_EQ(found->productId, 0x0002);
    EXPECT_STREQ(found->manufacturer, "TAVREN INC");
    EXPECT_STREQ(found->product, "Ostrel PSU");
    EXPECT_EQ(found->path, (dev.dev() / "hidraw0").string());
    EXPECT_EQ(found->location, "1-1");  // the gadget's root port
    EXPECT_EQ(found->caps.inputReportByteLength, 24);
    EXPECT_EQ(found->caps.outputReportByteLength, 24);

    // The other product id finds nothing and says so.
    EXPECT_EQ(devices.find("TAVREN INC", "Ostrel PSU", 0xD001), nullptr);
    std::rewind(diagnostics);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof line, diagnostics), nullptr);
    EXPECT_STREQ(line, "No device found - set the -manuf, -product, -vendor, -pid propperly:\n");
    std::fclose(diagnostics);
}

}  // namespace
