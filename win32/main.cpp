// ostrel.exe: the programmer for a controller on this machine's USB.
#include <windows.h>

#include "app/COstrelApp.h"
#include "platform/NativeHidPlatform.h"
#include "win32/Win32DialogWindow.h"
#include "win32/Win32Startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    win32::Win32Startup startup;
    platform::NativeHidPlatform hid;
    win32::Win32DialogWindow window(instance);
    COstrelApp program(hid, window, stdout, &startup);
    program.InitInstance();
    return 0;
}
