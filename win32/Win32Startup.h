// What a Windows program starts before its window: the common controls and Windows
// Sockets 1.1. The sockets are cleaned up when the object goes.
#pragma once

#include "app/COstrelApp.h"

namespace win32 {

class Win32Startup final : public AppStartup {
public:
    Win32Startup() = default;
    ~Win32Startup() override;
    Win32Startup(const Win32Startup&) = delete;
    Win32Startup& operator=(const Win32Startup&) = delete;

    void initCommonControls() override;
    bool initSockets() override;

private:
    bool m_socketsStarted = false;
};

}  // namespace win32
