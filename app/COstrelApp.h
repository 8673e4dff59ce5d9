// The application object: runs the main window modally and ends the program after it.
#pragma once

#include <cstdio>

#include "app/DialogWindow.h"
#include "platform/HidPlatform.h"

class COstrelApp {
public:
    // The HID system to search, the window the dialog runs in, and where the device
    // search writes its lines. All of them outlive the application object.
    COstrelApp(platform::HidPlatform& platform, DialogWindow& mainWindow,
               std::FILE* diagnostics = stdout);

    // Runs the main window to its end. Always false: the program ends after it.
    bool InitInstance();

private:
    platform::HidPlatform& m_platform;
    DialogWindow& m_mainWindow;
    std::FILE* m_diagnostics;
};
