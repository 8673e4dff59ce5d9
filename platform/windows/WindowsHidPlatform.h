// HID devices on Windows: discovery through SetupAPI, reports through the HID class
// driver's device paths.
#pragma once

#include "platform/HidPlatform.h"

namespace platform {

class WindowsHidPlatform final : public HidPlatform {
public:
    // The present interfaces of the HID class (HidD_GetHidGuid), in SetupAPI's order.
    std::unique_ptr<HidInterfaceSet> presentInterfaces() override;
    // Probe opens the path for reading and writing, Write for synchronous writes, Read
    // for overlapped reads that cancelRead() ends (CancelIoEx, so that another thread can
    // cancel them). A handle must outlive every read() running on it: cancel, let the
    // reader return, then destroy it.
    std::unique_ptr<HidHandle> open(const char* path, OpenMode mode) override;
    // The calling thread's error (GetLastError) of its last failed call here.
    std::uint32_t lastError() const override;
    void sleepMs(std::uint32_t milliseconds) override;
    // A named mutex derived from the device path (Windows ends a dead holder's claim), and
    // beside it a named file mapping in which the holder leaves its pid and `program`.
    // Released on the thread that claimed: the mutex belongs to that thread.
    ClaimResult claim(const char* path, const char* program) override;
    // CM_Register_Notification on the HID interface class: arrivals and removals of
    // interfaces wake the wait, removals with their paths. Null where the system has no
    // such function (before Windows 8, Wine) or refuses it: lastError() tells which.
    std::unique_ptr<HidWatch> watch() override;
};

}  // namespace platform
