// ostrel-gadget: plugs one simulated controller into the guest's kernel as a USB gadget and
// keeps it answering until told to stop, so that unmodified programs (the window, a peer
// HID library) can be run against a real hidraw node from a shell script.
//
//   ostrel-gadget --ready FILE [--log FILE] [--memory FILE] [--udc N] [--name NAME]
//                 [--vendor ID] [--product-id ID] [--manufacturer TEXT] [--product TEXT]
//                 [--serial TEXT]
//                 [--version BYTE] [--mode BYTE] [--frame-delay MS] [--write-delay MS]
//
// Its USB serial number is SN-NAME unless --serial gives another ("" for none).
// Once the host has enumerated it, the hidraw node's path is written to the --ready file.
// Every frame the firmware receives is appended to --log as "<ms since start> <hex bytes>".
// --frame-delay holds the gadget for MS after each frame it answered, a slow controller, so
// that a script can act while a program is between two of its frames; --write-delay holds
// it only after each parameter write, so that a script can act part way through a restore
// without the reads before it taking long.
// SIGUSR1 pulls the gadget out (unbinds the UDC), as a user pulling the cable would. SIGUSR2
// while it is plugged ends both delays, so that a script can keep a program busy for as long as
// it needs, then let it go; while it is pulled out, SIGUSR2 plugs it in again (binds the UDC)
// with the firmware's memory kept, and once the host has enumerated it writes the --ready file
// again; SIGTERM or SIGINT ends the program, after writing
// the firmware's parameter memory to
// --memory as "<address hex> <value hex>" lines.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "device/Wire.h"
#include "sim/OstrelFirmware.h"
#include "tests/kernel/GadgetBridge.h"
#include "tests/kernel/OstrelGadget.h"
#include "tests/kernel/PluggedController.h"
#include "tests/kernel/UsbGadget.h"

namespace {

using namespace kernel_harness;

struct Options {
    std::string ready;
    std::string log;
    std::string memory;
    GadgetConfig gadget = ostrelGadgetConfig("ostrel", 0);
    std::uint8_t version = 0x21;
    std::uint8_t mode = 3;
    long frameDelayMs = 0;
    long writeDelayMs = 0;
};

// dummy_hcd's most; whether the one named is there is seen when it is bound.
constexpr long UDC_MOST = 32;

long number(const char* text, long limit) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (end == text || *end != '\0' || value < 0 || value > limit) {
        throw std::invalid_argument(std::string("not a number from 0 to ") + std::to_string(limit) +
                                    ": " + text);
    }
    return value;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) {
            throw std::invalid_argument("missing value after " + flag);
        }
        const char* value = argv[++i];
        if (flag == "--ready") {
            options.ready = value;
        } else if (flag == "--log") {
            options.log = value;
        } else if (flag == "--memory") {
            options.memory = value;
        } else if (flag == "--udc") {
            options.gadget.udcIndex = static_cast<int>(number(value, UDC_MOST - 1));
        } else if (flag == "--name") {
            options.gadget.name = value;
            options.gadget.serial = gadgetSerial(value);
        } else if (flag == "--serial") {
            options.gadget.serial = value;
        } else if (flag == "--vendor") {
            options.gadget.vendorId = static_cast<std::uint16_t>(number(value, 0xFFFF));
        } else if (flag == "--product-id") {
            options.gadget.productId = static_cast<std::uint16_t>(number(value, 0xFFFF));
        } else if (flag == "--manufacturer") {
            options.gadget.manufacturer = value;
        } else if (flag == "--product") {
            options.gadget.product = value;
        } else if (flag == "--version") {
            options.version = static_cast<std::uint8_t>(number(value, 0xFF));
        } else if (flag == "--frame-delay") {
            options.frameDelayMs = number(value, 10000);
        } else if (flag == "--write-delay") {
            options.writeDelayMs = number(value, 10000);
        } else if (flag == "--mode") {
            options.mode = static_cast<std::uint8_t>(number(value, 0xFF));
        } else {
            throw std::invalid_argument("unknown option " + flag);
        }
    }
    if (options.ready.empty()) {
        throw std::invalid_argument("--ready FILE is required");
    }
    return options;
}

long long msSince(const timespec& start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
}

int run(const Options& options) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    // Blocked before any thread starts, so that only sigwait below takes them.
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::mutex logMutex;
    std::FILE* log = options.log.empty() ? nullptr : std::fopen(options.log.c_str(), "w");
    if (!options.log.empty() && log == nullptr) {
        throw std::runtime_error("cannot write " + options.log);
    }

    sim::OstrelFirmware firmware;
    firmware.setFirmwareVersion(options.version);
    sim::Measurements measurements = firmware.measurements();
    measurements.mode = options.mode;
    firmware.setMeasurements(measurements);

    UsbGadget gadget(options.gadget);
    std::atomic<long> frameDelayMs{options.frameDelayMs};
    std::atomic<long> writeDelayMs{options.writeDelayMs};
    const GadgetBridge::Handler onFrame = [&](std::span<const std::uint8_t> frame) {
        {
            std::lock_guard lock(logMutex);
            if (log != nullptr) {
                std::fprintf(log, "%lld", msSince(start));
                for (std::uint8_t byte : frame) {
                    std::fprintf(log, " %02x", byte);
                }
                std::fprintf(log, "\n");
                std::fflush(log);
            }
        }
        const bool write = frame.size() > FRAME_AT_PARAM_OP && frame[0] == CMD_PARAM &&
                           frame[FRAME_AT_PARAM_OP] == PARAM_WRITE;
        if (const long delay = frameDelayMs.load() + (write ? writeDelayMs.load() : 0); delay > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        }
    };
    const auto note = [&](const char* what) {
        std::lock_guard lock(logMutex);
        if (log != nullptr) {
            std::fprintf(log, "%lld %s\n", msSince(start), what);
            std::fflush(log);
        }
    };
    const auto ready = [&](const std::string& hidraw) {
        // Written whole, then renamed, so a script polling for it never reads half.
        const std::string partial = options.ready + ".part";
        std::ofstream(partial) << hidraw << "\n";
        std::rename(partial.c_str(), options.ready.c_str());
    };
    PluggedController plugged = plugController(gadget, firmware, onFrame);
    ready(plugged.hidraw);

    for (;;) {
        int signal = 0;
        sigwait(&signals, &signal);
        if (signal == SIGUSR1 && gadget.plugged()) {
            gadget.unplug();
            note("unplugged");
        } else if (signal == SIGUSR2 && gadget.plugged()) {
            frameDelayMs = 0;
            writeDelayMs = 0;
        } else if (signal == SIGUSR2 && !gadget.plugged()) {
            // The old bridge stopped reading when the device went: a new one on the node.
            firmware.setSink({});
            plugged = PluggedController{};
            plugged = plugController(gadget, firmware, onFrame);
            note("plugged");
            ready(plugged.hidraw);
        } else if (signal != SIGUSR1 && signal != SIGUSR2) {
            break;
        }
    }

    firmware.setSink({});
    if (!options.memory.empty()) {
        std::ofstream memory(options.memory);
        for (int address = 0; address < 256; ++address) {
            char line[16];
            std::snprintf(line, sizeof line, "%02x %02x\n", address,
                          firmware.paramByte(static_cast<std::uint8_t>(address)));
            memory << line;
        }
    }
    // The bridge may still be handing over a frame: the log closes under its lock.
    std::lock_guard lock(logMutex);
    if (log != nullptr) {
        std::fclose(log);
        log = nullptr;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(parse(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ostrel-gadget: %s\n", error.what());
        return 1;
    }
}
