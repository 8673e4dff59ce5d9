// ostrelctl: the controller from the command line. Chooses the HID system (this machine's,
// or a simulated controller's with --simulated) and turns Ctrl-C and SIGTERM into a flag. On
// Windows the C runtime delivers Ctrl-C as SIGINT too, on a thread of its own: the flag is an
// atomic. The program's texts are UTF-8 everywhere: on Windows the arguments are taken from
// the wide command line, and text for a console is handed over as UTF-16. Built twice: as
// ostrelctl, which hands `mqtt` over to the other, and as ostrelctl-mqtt, which has Paho.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// windows.h first.
#include <shellapi.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "cli/Ostrelctl.h"
#include "platform/NativeHidPlatform.h"
#include "platform/sim/SimHidPlatform.h"
#include "services/mqtt/Mqtt.h"
#include "sim/PlugPlan.h"
#include "sim/SimPanel.h"
#include "sim/SimulatedOstrel.h"
#include "sim/Trace.h"
#include "sim/TraceRunner.h"

namespace {

static_assert(ctl::SIMULATED_MAJOR_LAST == sim::SimPanel::MAJOR_LAST);

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// The first asks the command to stop after the write in progress and its read-back, and to
// say what was and was not written; a second ends the program at once.
extern "C" void onInterrupt(int signal) {
    if (g_interrupted.exchange(true)) {
        std::_Exit(ctl::EXIT_INTERRUPTED);
    }
#ifdef _WIN32
    std::signal(signal, onInterrupt);  // the C runtime resets a handler once it has run
#else
    static_cast<void>(signal);
#endif
}

class Platforms final : public ctl::PlatformSource {
public:
    platform::HidPlatform& platform(const ctl::Simulation& simulated) override {
        // --all asks from each controller's thread: made once, the same one for all.
        std::lock_guard lock(m_mutex);
        if (m_native) {
            return *m_native;
        }
        if (m_sim) {
            return *m_sim;
        }
        if (!simulated.on()) {
            m_native = std::make_unique<platform::NativeHidPlatform>();
            return *m_native;
        }
        m_sim = std::make_unique<platform::SimHidPlatform>();
        if (!simulated.trace.empty()) {
            // The command line has checked the trace; a built-in one is made in the counts of
            // the controllers' firmware. Its clock starts with the platform.
            std::string error;
            const std::uint8_t version =
                simulated.firmware != 0 ? simulated.firmware : sim::OstrelFirmware::DEFAULT_VERSION;
            if (auto trace = simulated.traceText.empty()
                                 ? sim::builtinTrace(simulated.trace, version)
                                 : sim::parseTrace(simulated.traceText, error)) {
                m_trace = std::make_unique<sim::TraceRunner>(std::move(*trace));
                m_trace->start();
            }
        }
        // Those of --simulated=N and those a plan plugs in alike: the version asked for, then
        // the trace from its values then in force.
        const sim::PlugPlanRunner::Prepare prepare =
            [version = simulated.firmware,
             trace = m_trace.get()](sim::SimulatedOstrel& controller) {
                if (version != 0) {
                    sim::setFirmwareVersion(controller, version);
                }
                if (trace != nullptr) {
                    trace->add(controller.firmware());
                }
            };
        for (int i = 0; i < simulated.controllers; ++i) {
            // sim-1, sim-2, ...: each made on this platform gets the next location.
            m_controllers.push_back(std::make_unique<sim::SimulatedOstrel>(*m_sim));
            m_controllers.back()->setBusTiming(true);  // as fast as over the bus, no faster
            prepare(*m_controllers.back());
        }
        if (!simulated.plan.empty()) {
            std::string error;
            // The command line has checked the plan; its clock starts with the platform.
            if (auto plan = sim::parsePlugPlan(simulated.plan, error)) {
                m_runner =
                    std::make_unique<sim::PlugPlanRunner>(*m_sim, std::move(*plan), true, prepare);
                m_runner->applyUntil(std::chrono::milliseconds(0));  // in before anyone looks
                m_runner->start();
            }
        }
        return *m_sim;
    }

    ~Platforms() override {
        // No controller made by the plan while the trace that would play on it goes.
        if (m_runner) {
            m_runner->stop();
        }
    }

private:
    std::mutex m_mutex;
    // The controllers go before their platform, and both outlive every channel; the trace
    // goes before the controllers it plays on.
    std::unique_ptr<platform::NativeHidPlatform> m_native;
    std::unique_ptr<platform::SimHidPlatform> m_sim;
    std::vector<std::unique_ptr<sim::SimulatedOstrel>> m_controllers;
    std::unique_ptr<sim::PlugPlanRunner> m_runner;
    std::unique_ptr<sim::TraceRunner> m_trace;
};

#ifdef _WIN32
// The arguments as the user typed them, in UTF-8: the C runtime's argv holds them in the
// ANSI code page, which loses every character outside it and would mix encodings in one
// line. Empty when the wide command line cannot be had.
std::vector<std::string> utf8Arguments() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(static_cast<std::size_t>(std::max(size, 1)), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argument.data(), size, nullptr, nullptr);
        argument.pop_back();  // the terminating zero
        arguments.push_back(std::move(argument));
    }
    LocalFree(wide);
    return arguments;
}

// The program's UTF-8 text for a console: a console shows bytes in its own code page, and
// even set to UTF-8 some (Wine's, older Windows ones) mangle it, so the text goes to
// WriteConsoleW as UTF-16, whole characters at a time. A file or a pipe gets the bytes as
// they are, as on Linux.
class ConsoleBuffer final : public std::streambuf {
public:
    explicit ConsoleBuffer(DWORD which) : m_console(GetStdHandle(which)) {
        DWORD mode = 0;
        if (m_console == INVALID_HANDLE_VALUE || !GetConsoleMode(m_console, &mode)) {
            m_console = nullptr;
        }
    }
    ~ConsoleBuffer() override { sync(); }
    ConsoleBuffer(const ConsoleBuffer&) = delete;
    ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;

    bool isConsole() const { return m_console != nullptr; }

protected:
    int_type overflow(int_type ch) override {
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            m_pending.push_back(traits_type::to_char_type(ch));
        }
        return traits_type::not_eof(ch);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        m_pending.append(text, static_cast<std::size_t>(count));
        return count;
    }
    int sync() override {
        // A character cut by the end of the buffer waits for its other bytes.
        std::size_t whole = m_pending.size();
        std::size_t lead = whole;
        while (lead > 0 && whole - lead < 4 && (m_pending[lead - 1] & 0xC0) == 0x80) {
            --lead;
        }
        if (lead > 0) {
            const auto first = static_cast<unsigned char>(m_pending[lead - 1]);
            const std::size_t length = first >= 0xF0   ? 4
                                       : first >= 0xE0 ? 3
                                       : first >= 0xC0 ? 2
                                                       : 1;
            if (whole - (lead - 1) < length) {
                whole = lead - 1;
            }
        }
        const int units =
            MultiByteToWideChar(CP_UTF8, 0, m_pending.data(), static_cast<int>(whole), nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(std::max(units, 0)), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, m_pending.data(), static_cast<int>(whole), wide.data(),
                            units);
        DWORD written = 0;
        const bool done =
            wide.empty() || WriteConsoleW(m_console, wide.data(), static_cast<DWORD>(wide.size()),
                                          &written, nullptr);
        m_pending.erase(0, whole);
        return done ? 0 : -1;
    }

private:
    HANDLE m_console;
    std::string m_pending;
};
#endif

// Colour for a person at a terminal, not for a file or a pipe, and never under NO_COLOR
// (set and not empty). Windows' console shows the escapes once asked to.
bool colourOut() {
    const char* noColour = std::getenv("NO_COLOR");
    if (noColour != nullptr && *noColour != '\0') {
        return false;
    }
#ifdef _WIN32
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(out, &mode) != 0 &&
           ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
            SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0);
#else
    return isatty(STDOUT_FILENO) == 1;
#endif
}

// The columns of the terminal the output is, for lines that must not wrap; 0 when the
// output is no terminal (a file or a pipe takes whole lines).
int outWidth() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 0;
#else
    winsize size{};
    if (isatty(STDOUT_FILENO) == 1 && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
        return size.ws_col > 0 ? size.ws_col : 80;
    }
    return 0;
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
#if defined(OSTREL_MQTT)
    ctl::mqtt::useRunner(&ctl::mqtt::runMqtt);
#elif defined(OSTREL_MQTT_PROGRAM)
    ctl::mqtt::useProgram(OSTREL_MQTT_PROGRAM, argv);
#endif
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    Platforms platforms;
#ifdef _WIN32
    std::vector<std::string> arguments = utf8Arguments();
    std::vector<char*> pointers;
    for (std::string& argument : arguments) {
        pointers.push_back(argument.data());
    }
    if (!arguments.empty()) {
        argc = static_cast<int>(pointers.size());
        pointers.push_back(nullptr);
        argv = pointers.data();
    }
    ConsoleBuffer outConsole(STD_OUTPUT_HANDLE);
    ConsoleBuffer errConsole(STD_ERROR_HANDLE);
    std::ostream out(outConsole.isConsole() ? &outConsole : std::cout.rdbuf());
    std::ostream err(errConsole.isConsole() ? &errConsole : std::cerr.rdbuf());
    err.setf(std::ios::unitbuf);
    const int status =
        ctl::runOstrelctl(argc, argv, {std::cin, out, err, stderr, colourOut(), outWidth()},
                          platforms, g_interrupted);
    out.flush();
    return status;
#else
    return ctl::runOstrelctl(argc, argv,
                             {std::cin, std::cout, std::cerr, stderr, colourOut(), outWidth()},
                             platforms, g_interrupted);
#endif
}
