// The Windows backend's reading of where a device is plugged, natively and under Wine.
#include <gtest/gtest.h>

#include <string>

#include "platform/windows/LocationText.h"

namespace {

TEST(WindowsLocation, UsbDeviceInstanceIds) {
    // Ids are not case-sensitive; a hub is a USB device too.
    for (const char* id : {"USB\\VID_04D8&PID_0002\\5&2C9A1B3&0&2", "usb\\vid_04d8&pid_d001\\ABC1",
                           "USB\\ROOT_HUB30\\4&1B&0&0"}) {
        EXPECT_TRUE(platform::isUsbDeviceInstanceId(id)) << id;
    }
    // Functions of a composite device, the HID collection itself, other buses, malformed ids.
    for (const char* id :
         {"USB\\VID_04D8&PID_0002&MI_00\\6&1A&0&0000", "USB\\VID_04D8&PID_0002&mi_01\\6&1A",
          "HID\\VID_04D8&PID_0002\\7&3F&0&0000", "WINEBUS\\VID_04D8&PID_0002\\0",
          "USBSTOR\\DISK\\1", "USB\\VID_04D8&PID_0002", "USB\\\\5&2C", "USB\\VID_04D8&PID_0002\\",
          "USB\\VID_04D8&PID_0002\\1\\2", ""}) {
        EXPECT_FALSE(platform::isUsbDeviceInstanceId(id)) << id;
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
