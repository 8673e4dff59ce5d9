// What every command of ostrelctl runs with: the streams it writes to, where the HID system
// comes from, the options given before the command, and the exit codes it ends with. The
// lowest layer of cli/: it includes nothing of the others.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <string>

#include "platform/HidPlatform.h"

class HIDDescriptor;

namespace ctl {

enum ExitCode : int {
    EXIT_OK = 0,
    EXIT_USAGE = 1,          // bad usage or bad input
    EXIT_NO_DEVICE = 2,      // no controller found, or several
    EXIT_LOST = 3,           // the controller was lost during the command
    EXIT_TIMEOUT = 4,        // a read timed out, or a write was refused or did not read back
    EXIT_CLAIMED = 5,        // another program of ours is using the controller
    EXIT_DIFFERS = 6,        // diff --exit-code: the file and the controller differ
    EXIT_INTERRUPTED = 130,  // Ctrl-C (SIGINT) or SIGTERM stopped the command part way
};

// --simulated: simulated controllers instead of the machine's, either so many plugged in
// from the start or plugged in and pulled out on a clock by a plug plan (its text, checked
// by the command line).
struct Simulation {
    int controllers = 0;
    std::string plan;
    std::uint8_t firmware = 0;  // their firmware version (major in the high nibble); 0: the
                                // simulator's own
    // The trace they all replay: a built-in one's name, or a file's name and its text as the
    // command line read it once (checked); empty: none, the measurements stand still.
    std::string trace;
    std::string traceText;
    bool on() const { return controllers > 0 || !plan.empty(); }
};

// Where the program's HID devices come from.
class PlatformSource {
public:
    virtual ~PlatformSource() = default;
    // The machine's devices (simulation off), or the simulated ones. Called more than once
    // only with the same argument, which returns the same platform.
    virtual platform::HidPlatform& platform(const Simulation& simulated) = 0;
};

struct Console {
    std::istream& in;        // "-" as a file to read
    std::ostream& out;       // data
    std::ostream& err;       // errors, warnings, progress
    std::FILE* diagnostics;  // the device search's lines under --verbose
    bool colour = false;     // `out` is a terminal that may show colours (not under NO_COLOR)
    int width = 0;           // `out` is a terminal so many columns wide; 0: it is none
};

// The last firmware major version a simulated controller can have (the simulator's panel
// offers 1.x and 2.x).
inline constexpr int SIMULATED_MAJOR_LAST = 2;

struct GlobalOptions {
    Simulation simulated;  // off: the controllers on USB
    int timeoutMs = 1000;
    bool verbose = false;
    double waitSeconds = 0;  // how long to wait for a controller another program holds
    std::string device;      // --device: a location or a device path; empty: the only one
    bool all = false;        // --all: every attached controller
};

// What a command did to one controller, for the summary of --all: its columns show only
// where some controller has them.
struct WriteTally {
    bool counted = false;  // a command that writes filled the three counts (zeros too)
    int written = 0;
    int verified = 0;
    int failed = 0;      // written and not read back, or left unwritten after a failure
    int differing = -1;  // diff: how many values differ from the file; -1: none compared
};

struct CommandContext {
    Console console;
    PlatformSource& platforms;
    GlobalOptions global;
    const std::atomic<bool>& interrupted;
    // The controller chosen before the command ran (--all); null: the command chooses by
    // --device, or takes the only one.
    const HIDDescriptor* target = nullptr;
    WriteTally* tally = nullptr;  // filled when not null
    // Whether the command claims the controller it opens (its row of the table of verbs).
    bool claims = true;
};

// Says `message` on the error stream, as the program's. Its texts from outside (paths,
// selectors, holders, a file's contents) may hold control bytes: they are escaped.
void say(CommandContext& context, const std::string& message);
// Says `message` as say() does, and returns `code`.
int fail(CommandContext& context, int code, const std::string& message);

// `when` in UTC, ISO 8601: "2026-12-08T10:15:00Z", or with milliseconds
// "2026-12-08T10:15:00.250Z".
std::string utcText(std::chrono::system_clock::time_point when, bool milliseconds);
// Now in UTC, ISO 8601 ("2026-12-08T10:11:12Z"): the stamps of status lines and backups.
std::string utcNow();

}  // namespace ctl
