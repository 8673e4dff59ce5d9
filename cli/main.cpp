// ostrelctl: the controller from the command line. Chooses the HID system (this machine's,
// or a simulated controller's with --simulated) and turns Ctrl-C into a flag. On Windows the
// C runtime delivers Ctrl-C as SIGINT too, on a thread of its own: the flag is an atomic.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/Ostrelctl.h"
#include "platform/NativeHidPlatform.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    g_interrupted.store(true);
    // A second Ctrl-C ends the program at once.
    std::signal(SIGINT, SIG_DFL);
}

class Platforms final : public ctl::PlatformSource {
public:
    platform::HidPlatform& platform(bool simulated) override {
        if (!simulated) {
            m_native = std::make_unique<platform::NativeHidPlatform>();
            return *m_native;
        }
        m_sim = std::make_unique<platform::SimHidPlatform>();
        m_controller = std::make_unique<sim::SimulatedOstrel>(*m_sim);
        m_controller->setBusTiming(true);  // answers as fast as over the bus, no faster
        return *m_sim;
    }

private:
    // The controller goes before its platform, and both outlive every channel.
    std::unique_ptr<platform::NativeHidPlatform> m_native;
    std::unique_ptr<platform::SimHidPlatform> m_sim;
    std::unique_ptr<sim::SimulatedOstrel> m_controller;
};

}  // namespace

int main(int argc, char* argv[]) {
    std::signal(SIGINT, onInterrupt);
    Platforms platforms;
    return ctl::runOstrelctl(argc, argv, {std::cin, std::cout, std::cerr, stderr}, platforms,
                             g_interrupted);
}
