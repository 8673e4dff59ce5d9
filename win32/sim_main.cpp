// ostrel-sim.exe: the programmer connected to a simulated controller, with a second window
// to drive that controller. Needs no hardware.
#include <windows.h>

#include "app/COstrelApp.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"
#ifdef OSTREL_BENCH_PROBE
#include "win32/BenchProbe.h"
#endif
#include "win32/SimControlWindow.h"
#include "win32/Win32DialogWindow.h"
#include "win32/Win32Startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    win32::Win32Startup startup;
    platform::SimHidPlatform hid;
    sim::SimulatedOstrel controller(hid);
    win32::Win32DialogWindow window(instance);
    win32::SimControlWindow panel(instance, controller, [&window] { return window.hwnd(); });
#ifdef OSTREL_BENCH_PROBE
    win32::BenchProbe::install(window);
#endif
    COstrelApp program(hid, window, stdout, &startup);
    program.InitInstance();
    return 0;
}
