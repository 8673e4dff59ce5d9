// ostrelctl: the controller from the command line. Chooses the HID system (this machine's,
// or a simulated controller's with --simulated) and turns Ctrl-C and SIGTERM into a flag. On
// Windows the C runtime delivers Ctrl-C as SIGINT too, on a thread of its own: the flag is an
// atomic.
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
#else
#include <unistd.h>
#endif

#include "cli/Ostrelctl.h"
#include "cli/mqtt/Mqtt.h"
#include "platform/NativeHidPlatform.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/PlugPlan.h"
#include "sim/SimulatedOstrel.h"

namespace {

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
        for (int i = 0; i < simulated.controllers; ++i) {
            // sim-1, sim-2, ...: each made on this platform gets the next location.
            m_controllers.push_back(std::make_unique<sim::SimulatedOstrel>(*m_sim));
            m_controllers.back()->setBusTiming(true);  // as fast as over the bus, no faster
        }
        if (!simulated.plan.empty()) {
            std::string error;
            // The command line has checked the plan; its clock starts with the platform.
            if (auto plan = sim::parsePlugPlan(simulated.plan, error)) {
                m_runner = std::make_unique<sim::PlugPlanRunner>(*m_sim, std::move(*plan), true);
                m_runner->applyUntil(std::chrono::milliseconds(0));  // in before anyone looks
                m_runner->start();
            }
        }
        return *m_sim;
    }

private:
    std::mutex m_mutex;
    // The controllers go before their platform, and both outlive every channel.
    std::unique_ptr<platform::NativeHidPlatform> m_native;
    std::unique_ptr<platform::SimHidPlatform> m_sim;
    std::vector<std::unique_ptr<sim::SimulatedOstrel>> m_controllers;
    std::unique_ptr<sim::PlugPlanRunner> m_runner;
};

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

}  // namespace

int main(int argc, char* argv[]) {
#ifdef OSTREL_MQTT
    ctl::mqtt::useRunner(&ctl::mqtt::runMqtt);
#endif
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    Platforms platforms;
    return ctl::runOstrelctl(argc, argv, {std::cin, std::cout, std::cerr, stderr, colourOut()},
                             platforms, g_interrupted);
}
