// ostrel-watch: the live set of controllers as the programs keep it, one line a change, for
// the scenario that plugs gadgets in and out. Runs until SIGTERM or SIGINT, which cancel the
// watch from a thread of their own.
//
//   ostrel-watch [--poll]
//
// Lines: "watching notified" or "watching polling" first, then "attached LOCATION PATH"
// for each controller there at the start, then "arrived LOCATION PATH", "departed LOCATION
// PATH" and "lookalike LOCATION PATH" (a device that only looks like one) as they happen,
// "ended" last. --poll: without udev's events, by the clock.
#include <pthread.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX's pthread_sigmask and sigwait

#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "device/ControllerWatch.h"
#include "platform/linux/UdevWatch.h"

namespace {

void line(const char* what, const HIDDescriptor& controller) {
    std::printf("%s %s %s\n", what, controller.location.empty() ? "-" : controller.location.c_str(),
                controller.path.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const bool poll = argc == 2 && std::strcmp(argv[1], "--poll") == 0;
    if (argc > 2 || (argc == 2 && !poll)) {
        std::fprintf(stderr, "usage: ostrel-watch [--poll]\n");
        return 2;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    // Blocked before any thread starts, so that only the waiting thread takes them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<platform::LinuxHidPlatform> platform =
        poll ? std::make_unique<platform::LinuxHidPlatform>()
             : std::make_unique<platform::UdevHidPlatform>();
    ControllerWatch watch(*platform);
    std::printf("watching %s\n", watch.polling() ? "polling" : "notified");
    for (const HIDDescriptor& controller : watch.attached()) {
        line("attached", controller);
    }
    std::fflush(stdout);

    std::thread stopper([&] {
        int signal = 0;
        sigwait(&signals, &signal);
        watch.cancel();
    });
    while (!watch.cancelled()) {
        for (const ControllerEvent& event : watch.next(std::chrono::seconds(10))) {
            line(event.kind == ControllerEvent::Kind::Arrived    ? "arrived"
                 : event.kind == ControllerEvent::Kind::Departed ? "departed"
                                                                 : "lookalike",
                 event.controller);
        }
    }
    stopper.join();
    std::printf("ended\n");
    return 0;
}
