// HID devices on Linux: discovery through sysfs, reports through the hidraw nodes.
// Needs nothing beyond libc and the C++ standard library, so that it links statically
// into the kernel harness's test binary.
#pragma once

#include <functional>
#include <string>

#include "platform/HidPlatform.h"

namespace platform {

class LinuxHidPlatform : public HidPlatform {
public:
    // Makes the watch that watch() gives: null, with errno saying why, when it cannot.
    // Kept apart, so that this library itself needs nothing beyond libc (UdevWatch.h has
    // the one the programs use).
    using WatchSource = std::function<std::unique_ptr<HidWatch>()>;

    // The roots are parameters so that tests can run the whole enumeration on a fake
    // tree built from captured files. Without `watchSource` the platform gives no watch.
    explicit LinuxHidPlatform(std::string sysfsRoot = "/sys", std::string devRoot = "/dev",
                              WatchSource watchSource = {});

    // <devRoot>/hidrawN for every entry hidrawN of <sysfsRoot>/class/hidraw, by number.
    std::unique_ptr<HidInterfaceSet> presentInterfaces() override;
    // Probe opens the node for reading and writing, Write for writing, Read for reading
    // without blocking (reads wait in poll, where cancelRead() reaches them). A handle
    // must outlive every read() running on it: cancel, let the reader return, then
    // destroy it.
    std::unique_ptr<HidHandle> open(const char* path, OpenMode mode) override;
    // The calling thread's errno of its last failed call.
    std::uint32_t lastError() const override;
    void sleepMs(std::uint32_t milliseconds) override;
    // An advisory flock(LOCK_EX) on the node, through an open file of its own. The holder
    // is told by the kernel: its pid from /proc/locks, its name from /proc/PID/comm;
    // `program` is not needed.
    ClaimResult claim(const char* path, const char* program) override;
    // The watch source's watch; null without one (lastError() ENOTSUP) or when it fails.
    std::unique_ptr<HidWatch> watch() override;

private:
    std::string m_sysfsRoot;
    std::string m_devRoot;
    WatchSource m_watchSource;
};

}  // namespace platform
