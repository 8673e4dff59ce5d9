#include "win32/Win32Startup.h"

// winsock2.h before windows.h, or windows.h brings the old winsock.h along.
#include <winsock2.h>
//
#include <windows.h>
//
#include <commctrl.h>

namespace win32 {

Win32Startup::~Win32Startup() {
    if (m_socketsStarted) {
        WSACleanup();
    }
}

void Win32Startup::initCommonControls() {
    INITCOMMONCONTROLSEX controls{};
    static_assert(sizeof controls == 8);
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
}

bool Win32Startup::initSockets() {
    if (m_socketsStarted) {
        return true;
    }
    WSADATA data{};
    m_socketsStarted = WSAStartup(MAKEWORD(1, 1), &data) == 0;
    return m_socketsStarted;
}

}  // namespace win32
