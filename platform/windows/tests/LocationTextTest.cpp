// The Windows backend's reading of where a device is plugged, natively and under Wine.
#include <gtest/gtest.h>

#include <string>

#include "platform/windows/LocationText.h"

namespace {

TEST(WindowsLocation, UsbDeviceInstanceIds) {
    const struct {
        const char* id;
        bool usbDevice;
    } cases[] = {
        {"USB\\VID_04D8&PID_0002\\5&2C9A1B3&0&2", true},
        {"usb\\vid_04d8&pid_d001\\ABC123", true},              // ids are not case-sensitive
        {"USB\\VID_04D8&PID_0002&MI_00\\6&1A&0&0000", false},  // a composite's function
        {"USB\\VID_04D8&PID_0002&mi_01\\6&1A&0&0001", false},
        {"HID\\VID_04D8&PID_0002\\7&3F&0&0000", false},  // the HID collection itself
        {"USB\\ROOT_HUB30\\4&1B&0&0", true},             // a hub is a USB device too
        {"WINEBUS\\VID_04D8&PID_0002\\0", false},
        {"USBSTOR\\DISK\\1", false},
        {"USB\\VID_04D8&PID_0002", false},  // two parts only
        {"USB\\\\5&2C", false},
        {"USB\\VID_04D8&PID_0002\\", false},
        {"USB\\VID_04D8&PID_0002\\1\\2", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(platform::isUsbDeviceInstanceId(c.id), c.usbDevice);
    }
}

TEST(WindowsLocation, RegistryTextBecomesTheLocationOrNothing) {
    const std::u16string tooLong(platform::WINDOWS_LOCATION_MAX_CHARS + 1, u'x');
    const std::u16string longest(platform::WINDOWS_LOCATION_MAX_CHARS, u'x');
    const struct {
        std::u16string units;
        std::string location;
    } cases[] = {
        {u"Port_#0002.Hub_#0003", "Port_#0002.Hub_#0003"},  // no terminator in the buffer
        {std::u16string(u"Port_#0001.Hub_#0001\0garbage", 28), "Port_#0001.Hub_#0001"},
        {u"  Port_#0004.Hub_#0002 ", "Port_#0004.Hub_#0002"},
        {u"0000.0014.0000.001.003.000.000.000.000", "0000.0014.0000.001.003.000.000.000.000"},
        {u"USB Composite Device", "USB Composite Device"},
        {longest, std::string(longest.begin(), longest.end())},
        {tooLong, ""},
        {u"", ""},
        {u"   ", ""},
        {std::u16string(u"\0Port_#0002", 11), ""},
        {u"Port_#0002\tHub_#0003", ""},  // control character
        {u"Port_\u00A70002", ""},        // beyond ASCII
        {u"Port_\u0141002", ""},         // a unit whose low byte alone would pass
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        EXPECT_EQ(platform::locationFromRegistryText(c.units), c.location);
    }
}

}  // namespace
