#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/SysfsText.h"

namespace {

using platform::parseHidId;
using platform::sysfsStringToUtf16;

struct HidIdCase {
    const char* uevent;
    bool valid;
    std::uint32_t bus;
    std::uint16_t vendor;
    std::uint16_t product;
};

TEST(HidIdLine, ParsesOrRejects) {
    const HidIdCase cases[] = {
        {"DRIVER=hid-generic\nHID_ID=0003:000004D8:00000002\nHID_NAME=TAVREN INC Ostrel PSU\n",
         true, 3, 0x04D8, 0x0002},
        {"HID_ID=0003:000004d8:0000d001", true, 3, 0x04D8, 0xD001},  // no final newline
        {"HID_ID=5:46D:C31C\n", true, 5, 0x046D, 0xC31C},
        {"HID_ID=0003:000004D8:00000002\nHID_ID=0003:00001111:00002222\n", true, 3, 0x04D8, 2},
        {"", false, 0, 0, 0},
        {"DRIVER=hid-generic\nHID_NAME=x\n", false, 0, 0, 0},
        {" HID_ID=0003:000004D8:00000002\n", false, 0, 0, 0},
        {"HID_ID=0003:000004D8\n", false, 0, 0, 0},
        {"HID_ID=0003:000004D8:00000002:00000001\n", false, 0, 0, 0},
        {"HID_ID=0003::00000002\n", false, 0, 0, 0},
        {"HID_ID=0003:000104D8:00000002\n", false, 0, 0, 0},   // vendor beyond 16 bits
        {"HID_ID=0003:0000004D8:00000002\n", false, 0, 0, 0},  // nine digits
        {"HID_ID=0003:0x04D8:00000002\n", false, 0, 0, 0},
        {"HID_ID=0003:000004D8:00000002 \n", false, 0, 0, 0},
        {"HID_ID=0003:000004D8:-0000002\n", false, 0, 0, 0},
    };
    for (const HidIdCase& c : cases) {
        SCOPED_TRACE(c.uevent);
        const auto id = parseHidId(c.uevent);
        ASSERT_EQ(id.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(id->bus, c.bus);
            EXPECT_EQ(id->vendorId, c.vendor);
            EXPECT_EQ(id->productId, c.product);
        }
    }
    // A NUL inside the file is just another byte.
    using namespace std::literals;
    EXPECT_FALSE(
        parseHidId("HID_ID=0003:0000\0"
                   "4D8:00000002\n"sv));
}

TEST(UsbPortChain, TakesOnlyTheKernelsNamesOfUsbDevices) {
    for (const char* name : {"1-1", "1-1.4.2", "12-3.1", "999-255", "1-1.2.3.4.5.6.7"}) {
        EXPECT_EQ(platform::usbPortChain(name), std::optional<std::string>(name)) << name;
    }
    // Beyond seven tiers, a root hub, interfaces, numbers out of range or with a leading
    // zero, empty parts, anything else in the name.
    for (const char* name :
         {"1-1.2.3.4.5.6.7.1", "usb1", "1-1:1.0", "1-1.4:1.0", "1000-1", "1-256", "1-0", "01-1",
          "1-01", "1-", "-1", "1-1.", "1-1..2", "1-1.4 ", "1--1", "1-1.+4", ""}) {
        EXPECT_EQ(platform::usbPortChain(name), std::nullopt) << name;
    }
}

TEST(UeventLine, MatchesWholeLinesOnly) {
    EXPECT_TRUE(platform::ueventHasLine("MAJOR=189\nDEVTYPE=usb_device\n", "DEVTYPE=usb_device"));
    EXPECT_TRUE(platform::ueventHasLine("DEVTYPE=usb_device", "DEVTYPE=usb_device"));
    EXPECT_FALSE(platform::ueventHasLine("DEVTYPE=usb_interface\n", "DEVTYPE=usb_device"));
    EXPECT_FALSE(platform::ueventHasLine("DEVTYPE=usb_device_x\n", "DEVTYPE=usb_device"));
    EXPECT_FALSE(platform::ueventHasLine("XDEVTYPE=usb_device\n", "DEVTYPE=usb_device"));
}

struct Utf8Case {
    std::vector<std::uint8_t> bytes;
    std::u16string expected;
};

TEST(SysfsString, DecodesUtf8AndReplacesInvalidSequences) {
    const Utf8Case cases[] = {
        {{'T', 'A', 'V', 'R', 'E', 'N', ' ', 'I', 'N', 'C', '\n'}, u"TAVREN INC"},
        {{'a', 'b'}, u"ab"},          // no newline to drop
        {{'a', '\n', '\n'}, u"a\n"},  // only one newline dropped
        {{'\n'}, u""},
        {{0xC3, 0xBC, 0xCE, 0xA9, 0xE2, 0x82, 0xAC}, u"\u00FC\u03A9\u20AC"},
        {{0xF0, 0x9F, 0x94, 0x8C}, u"\U0001F50C"},                // surrogate pair
        {{0xFF, 'a'}, u"\uFFFDa"},                                // never a lead byte
        {{0x80}, u"\uFFFD"},                                      // lone continuation
        {{0xC0, 0xAF}, u"\uFFFD\uFFFD"},                          // overlong '/'
        {{0xE0, 0x80, 0xAF}, u"\uFFFD\uFFFD\uFFFD"},              // overlong, 3 bytes
        {{0xED, 0xA0, 0x80}, u"\uFFFD\uFFFD\uFFFD"},              // encoded surrogate
        {{0xF4, 0x90, 0x80, 0x80}, u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {{0xE2, 0x82, 'x'}, u"\uFFFDx"},                          // cut short by ASCII
        {{0xF0, 0x9F, 0x94}, u"\uFFFD"},                          // cut short by the end
        {{0xE2, 0x82, '\n'}, u"\uFFFD"},
    };
    for (const Utf8Case& c : cases) {
        EXPECT_EQ(sysfsStringToUtf16(c.bytes), c.expected)
            << "input of " << c.bytes.size() << " bytes starting 0x" << std::hex
            << (c.bytes.empty() ? 0 : c.bytes[0]);
    }
}

TEST(SysfsHex, ParsesOneNumber) {
    EXPECT_EQ(platform::parseSysfsHex("0110\n"), 0x0110u);
    EXPECT_EQ(platform::parseSysfsHex("ffff"), 0xFFFFu);
    EXPECT_FALSE(platform::parseSysfsHex(""));
    EXPECT_FALSE(platform::parseSysfsHex("\n"));
    EXPECT_FALSE(platform::parseSysfsHex("01 10\n"));
    EXPECT_FALSE(platform::parseSysfsHex("123456789"));
}

TEST(ProcLocks, FindsTheFlockHolderOfOneFile) {
    constexpr const char* LOCKS =
        "1: POSIX  ADVISORY  WRITE 100 00:05:77 0 EOF\n"
        "2: FLOCK  ADVISORY  WRITE 4242 00:1a:77 0 EOF\n"
        "2: -> FLOCK  ADVISORY  WRITE 4243 00:1a:77 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 17 103:02:77 0 EOF\n"
        "4: FLOCK  ADVISORY  WRITE x 00:05:78 0 EOF\n"
        "5: FLOCK  ADVISORY  WRITE 5 00:05:79\n";
    struct Case {
        std::uint32_t major, minor;
        std::uint64_t inode;
        std::optional<std::uint32_t> pid;
    };
    for (const Case& c : {Case{0, 0x1a, 77, 4242}, Case{0x103, 2, 77, 17},
                          Case{0, 5, 77, std::nullopt},     // a record lock only
                          Case{0, 0x1a, 78, std::nullopt},  // another inode
                          Case{0, 5, 78, std::nullopt},     // no pid
                          Case{0, 5, 79, 5}}) {             // the range cut off
        EXPECT_EQ(platform::parseFlockHolder(LOCKS, c.major, c.minor, c.inode), c.pid)
            << c.major << ":" << c.minor << ":" << c.inode;
    }
    EXPECT_FALSE(platform::parseFlockHolder("", 0, 5, 77));
    EXPECT_FALSE(platform::parseFlockHolder("1: FLOCK A W 9 00:05\n", 0, 5, 77));
}

}  // namespace
