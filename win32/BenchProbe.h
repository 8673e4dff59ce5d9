// Opt-in timing for the Windows window benchmark: with OSTREL_SIM_BENCH=<seconds> set,
// ostrel-sim-bench.exe prints one line to stdout with the wall-clock times of the process's
// creation, of the main window's first paint and of the first status shown (the caption
// leaves its initial text), the CPU time of the idle seconds that follow, the peak working
// set and the private memory, and then ends the dialog. It only watches the thread's
// messages through hooks.
#pragma once

#include <windows.h>

namespace win32 {

class Win32DialogWindow;

inline constexpr const char* BENCH_ENVIRONMENT = "OSTREL_SIM_BENCH";

class BenchProbe {
public:
    // Does nothing unless the environment asks for it. Call on the window's thread before
    // the dialog runs; the probe lives as long as the program.
    static void install(Win32DialogWindow& window);

private:
    BenchProbe(Win32DialogWindow& window, int idleSeconds);
    static LRESULT CALLBACK onGetMessage(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK onSentMessageDone(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK onIdleOver(HWND, UINT, UINT_PTR, DWORD);
    void painted(HWND hwnd);
    void captionSet(HWND hwnd);
    void unhookWhenDone();
    void finish();

    Win32DialogWindow& m_window;
    int m_idleSeconds;
    long long m_shownNs = 0;
    long long m_statusNs = 0;
    long long m_cpuAtStatus100Ns = 0;
    HHOOK m_getMessageHook = nullptr;
    HHOOK m_sentMessageHook = nullptr;
};

}  // namespace win32
