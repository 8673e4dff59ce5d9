#include "win32/BenchProbe.h"

// psapi.h needs windows.h first.
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/Resource.h"
#include "app/StringTable.h"
#include "win32/Win32DialogWindow.h"

namespace win32 {
namespace {

BenchProbe* g_probe = nullptr;  // one per program; hook procedures have no context

// 100-ns intervals between 1601-01-01 and the Unix epoch: the figures are Unix times, so
// that the script can set them against the moment it launched Wine.
constexpr long long FILETIME_UNIX_EPOCH = 116'444'736'000'000'000LL;

long long to100Ns(const FILETIME& time) {
    return static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) |
                                  time.dwLowDateTime);
}

long long unixNs(const FILETIME& time) {
    return (to100Ns(time) - FILETIME_UNIX_EPOCH) * 100;
}

long long nowNs() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return unixNs(now);
}

struct ProcessTimes {
    long long createdNs;
    long long cpu100Ns;  // kernel and user
};

ProcessTimes processTimes() {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return {unixNs(created), to100Ns(kernel) + to100Ns(user)};
}

}  // namespace

void BenchProbe::install(Win32DialogWindow& window) {
    const char* value = std::getenv(BENCH_ENVIRONMENT);
    if (value == nullptr || g_probe != nullptr) {
        return;
    }
    char* end = nullptr;
    const long seconds = std::strtol(value, &end, 10);
    if (end == value || *end != '\0' || seconds < 0 || seconds > 86'400) {
        return;
    }
    g_probe = new BenchProbe(window, static_cast<int>(seconds));
}

BenchProbe::BenchProbe(Win32DialogWindow& window, int idleSeconds)
    : m_window(window), m_idleSeconds(idleSeconds) {
    // Posted messages (the first WM_PAINT comes through the dialog's loop) and sent ones
    // once handled (WM_SETTEXT of the caption, a WM_PAINT that UpdateWindow sends).
    const DWORD thread = GetCurrentThreadId();
    m_getMessageHook = SetWindowsHookExA(WH_GETMESSAGE, &onGetMessage, nullptr, thread);
    m_sentMessageHook = SetWindowsHookExA(WH_CALLWNDPROCRET, &onSentMessageDone, nullptr, thread);
}

LRESULT CALLBACK BenchProbe::onGetMessage(int code, WPARAM wParam, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && msg->message == WM_PAINT) {
        g_probe->painted(msg->hwnd);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK BenchProbe::onSentMessageDone(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION) {
        if (sent->message == WM_PAINT) {
            g_probe->painted(sent->hwnd);
        } else if (sent->message == WM_SETTEXT) {
            g_probe->captionSet(sent->hwnd);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void BenchProbe::painted(HWND hwnd) {
    if (m_shownNs == 0 && hwnd != nullptr && hwnd == m_window.hwnd()) {
        m_shownNs = nowNs();
        unhookWhenDone();
    }
}

void BenchProbe::unhookWhenDone() {
    // The idle figures are those of the program alone, without the hooks' calls.
    if (m_shownNs != 0 && m_statusNs != 0 && m_getMessageHook != nullptr) {
        UnhookWindowsHookEx(m_getMessageHook);
        UnhookWindowsHookEx(m_sentMessageHook);
        m_getMessageHook = nullptr;
        m_sentMessageHook = nullptr;
    }
}

void BenchProbe::captionSet(HWND hwnd) {
    if (m_statusNs != 0 || hwnd == nullptr || hwnd != m_window.hwnd()) {
        return;
    }
    char caption[64] = {};
    GetWindowTextA(hwnd, caption, sizeof caption);
    if (std::strcmp(caption, TEXT_INITIAL_CAPTION) == 0) {
        return;
    }
    m_statusNs = nowNs();
    m_cpuAtStatus100Ns = processTimes().cpu100Ns;
    // A thread timer: it fires in whichever loop runs, the dialog's or a message box's.
    SetTimer(nullptr, 0, static_cast<UINT>(m_idleSeconds) * 1000, &onIdleOver);
    unhookWhenDone();
}

void CALLBACK BenchProbe::onIdleOver(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    g_probe->finish();
}

void BenchProbe::finish() {
    const ProcessTimes times = processTimes();
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf(
        "bench created-ns %lld window-shown-ns %lld first-status-ns %lld idle-seconds %d "
        "idle-cpu-us %lld peak-working-set-kb %llu private-kb %llu\n",
        times.createdNs, m_shownNs, m_statusNs, m_idleSeconds,
        (times.cpu100Ns - m_cpuAtStatus100Ns) / 10,
        static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024),
        static_cast<unsigned long long>(memory.PagefileUsage / 1024));
    std::fflush(stdout);
    m_window.endDialog(DIALOG_CANCEL);
}

}  // namespace win32
