// The idle anchor of the Windows benchmark: the least a dialog program like ostrel-sim.exe
// can cost at idle. One static dialog with the programmer's two timers (200 ms and 1000 ms)
// that do nothing, and one more thread blocked in WaitForSingleObject as the programmer's
// reader thread is. Built in the windows preset, never packaged; scripts/bench-windows.sh
// measures it beside ostrel-sim.exe.
#include <windows.h>

#include <array>

namespace {

constexpr UINT_PTR PUMP_TIMER = 1;
constexpr UINT PUMP_PERIOD_MS = 200;
constexpr UINT_PTR POLL_TIMER = 2;
constexpr UINT POLL_PERIOD_MS = 1000;

INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetTimer(hwnd, PUMP_TIMER, PUMP_PERIOD_MS, nullptr);
            SetTimer(hwnd, POLL_TIMER, POLL_PERIOD_MS, nullptr);
            return TRUE;
        case WM_TIMER:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(hwnd, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

DWORD WINAPI waitForever(LPVOID event) {
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

// A DLGTEMPLATE without controls: style, no menu, the default class, a caption.
struct alignas(4) BareTemplate {
    DLGTEMPLATE header;
    std::array<WORD, 3> menuClassCaption;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, &waitForever, never, 0, nullptr);
    const BareTemplate dialog{
        {WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE | DS_CENTER, 0, 0, 0, 0,
         200, 100},
        {0, 0, 0}};
    const INT_PTR code = DialogBoxIndirectParamA(instance, &dialog.header, nullptr, &dialogProc, 0);
    SetEvent(never);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(never);
    return static_cast<int>(code);
}
