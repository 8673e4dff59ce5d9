// The publisher as a process of its own, on simulated controllers, for the tests that kill
// it (its last will) and restart it (its buffer on disk): runMqtt as `ostrelctl
// --simulated=N [--device SEL] [--timeout MS] mqtt --config FILE` will call it.
//   mqtt_publisher_under_test N CONFIG [--device SEL] [--timeout MS] [--silent K]
//                             [--log FILE] [--state DIR]
// Every message queued goes to the log file as "TOPIC PAYLOAD", and the wait before each next
// connection attempt as "next-attempt-ms MS" (no topic of the publisher's). SIGUSR1 unplugs sim-2;
// SIGUSR2 changes sim-1's state and a flag bit; SIGINT and SIGTERM end it cleanly.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "services/mqtt/Mqtt.h"
#include "services/mqtt/tests/SimFigures.h"

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_unplug{false};
std::atomic<int> g_changes{0};

extern "C" void onStop(int) {
    g_interrupted.store(true);
}
extern "C" void onUnplug(int) {
    g_unplug.store(true);
}
extern "C" void onChange(int) {
    g_changes.fetch_add(1);
}

class Platforms final : public ctl::PlatformSource {
public:
    Platforms(int count, int silent) : m_controllers(plugSimControllers(m_platform, count, true)) {
        if (silent >= 1 && silent <= count) {
            // Takes every frame and answers none.
            m_controllers[static_cast<std::size_t>(silent - 1)]->device().setWriteHook(
                [](std::span<const std::uint8_t>) {});
        }
    }
    platform::HidPlatform& platform(const ctl::Simulation&) override { return m_platform; }
    sim::SimulatedOstrel& controller(std::size_t index) { return *m_controllers.at(index); }
    std::size_t count() const { return m_controllers.size(); }

private:
    platform::SimHidPlatform m_platform;
    std::vector<std::unique_ptr<sim::SimulatedOstrel>> m_controllers;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::cerr << "usage: " << argv[0] << " N CONFIG [options]\n";
        return 2;
    }
    const int count = std::atoi(argv[1]);
    ctl::mqtt::MqttOptions options;
    options.configPath = argv[2];
    ctl::GlobalOptions global;
    global.simulated.controllers = count;
    int silent = 0;
    std::string log;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--device") {
            global.device = value;
        } else if (name == "--timeout") {
            global.timeoutMs = std::atoi(value.c_str());
        } else if (name == "--silent") {
            silent = std::atoi(value.c_str());
        } else if (name == "--log") {
            log = value;
        } else if (name == "--state") {
            options.stateDirectory = value;
        } else {
            std::cerr << "unknown option " << name << '\n';
            return 2;
        }
    }
    std::ofstream logFile;
    if (!log.empty()) {
        logFile.open(log, std::ios::app);
        options.queued = [&logFile](const std::string& topic, const std::string& payload) {
            logFile << topic << ' ' << payload << std::endl;
        };
        options.waits = [&logFile](std::chrono::steady_clock::duration wait) {
            logFile << "next-attempt-ms "
                    << std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()
                    << std::endl;
        };
    }
    std::signal(SIGINT, onStop);
    std::signal(SIGTERM, onStop);
    std::signal(SIGUSR1, onUnplug);
    std::signal(SIGUSR2, onChange);

    Platforms platforms(count, silent);
    // The signals' work, done on a thread: unplugging and changing figures is no work for a
    // signal handler.
    std::thread plugs([&] {
        int changed = 0;
        while (!g_interrupted.load()) {
            if (g_unplug.exchange(false) && platforms.count() >= 2) {
                platforms.controller(1).unplug();
            }
            for (; changed < g_changes.load(); ++changed) {
                sim::Measurements figures = platforms.controller(0).firmware().measurements();
                figures.state = static_cast<std::int8_t>(figures.state + 1);
                figures.voltageFlags ^= 0x04;
                platforms.controller(0).firmware().setMeasurements(figures);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    ctl::CommandContext context{
        {std::cin, std::cout, std::cerr, stderr}, platforms, global, g_interrupted};
    const int code = ctl::mqtt::runMqtt(context, options);
    g_interrupted.store(true);
    plugs.join();
    return code;
}
