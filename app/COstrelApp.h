// The application object: runs the main window modally and ends the program after it.
#pragma once

#include <cstdio>

#include "app/DialogWindow.h"
#include "platform/HidPlatform.h"

// What a platform starts before any window: its common controls and its socket layer.
// Toolkits that register their own widgets and need no sockets pass none.
class AppStartup {
public:
    virtual ~AppStartup() = default;
    virtual void initCommonControls() = 0;
    virtual bool initSockets() = 0;  // false: the program cannot run
};

class COstrelApp {
public:
    // The HID system to search, the window the dialog runs in, where the device search
    // writes its lines, and the platform's start-up (or none). All of them outlive the
    // application object.
    COstrelApp(platform::HidPlatform& platform, DialogWindow& mainWindow,
               std::FILE* diagnostics = stdout, AppStartup* startup = nullptr);

    // Runs the main window to its end. Always false: the program ends after it.
    bool InitInstance();

private:
    platform::HidPlatform& m_platform;
    DialogWindow& m_mainWindow;
    std::FILE* m_diagnostics;
    AppStartup* m_startup;
};
