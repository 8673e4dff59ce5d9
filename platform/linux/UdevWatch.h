// Notifications of hidraw nodes coming and going, from udev's netlink events: each one is
// sent once udevd has finished with the device (its node is there with the owner and mode
// its rules give), so a search it prompts can open the node. Needs libudev, a shared
// library only, loaded when the first watch is made: kept out of ostrel_platform_linux, which
// links statically into the kernel harness.
#pragma once

#include <memory>

#include "platform/HidPlatform.h"
#include "platform/linux/LinuxHidPlatform.h"

namespace platform {

// A watch on udev's events of the subsystem hidraw; null, with errno, when udevd is not
// running here (no /run/udev/control: nobody would send them), libudev.so.1 cannot be loaded
// (ELIBACC) or the monitor cannot be made. The paths of departed interfaces are the removed
// nodes, /dev/hidrawN.
std::unique_ptr<HidWatch> watchHidrawThroughUdev();

// The programs' Linux backend: LinuxHidPlatform on /sys and /dev, watched through udev.
class UdevHidPlatform final : public LinuxHidPlatform {
public:
    UdevHidPlatform() : LinuxHidPlatform("/sys", "/dev", &watchHidrawThroughUdev) {}
};

}  // namespace platform
