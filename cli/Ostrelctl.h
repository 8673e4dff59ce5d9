// ostrelctl: the controller from the command line. The whole program but its main: it
// parses the arguments, runs one command and returns the exit code. It writes only to the
// streams it is given and finds the HID system through the caller, which decides what
// --simulated means.
#pragma once

#include <atomic>
#include <cstdio>
#include <iosfwd>
#include <string>

#include "platform/HidPlatform.h"

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

// Where the program's HID devices come from.
class PlatformSource {
public:
    virtual ~PlatformSource() = default;
    // The machine's devices (simulated 0), or those of `simulated` simulated controllers.
    // Called more than once only with the same argument, which returns the same platform.
    virtual platform::HidPlatform& platform(int simulated) = 0;
};

struct Console {
    std::istream& in;        // "-" as a file to read
    std::ostream& out;       // data
    std::ostream& err;       // errors, warnings, progress
    std::FILE* diagnostics;  // the device search's lines under --verbose
};

// Runs the command line; `interrupted` becomes true on the first Ctrl-C or SIGTERM, after
// which a command stops at its next read or write, finishing the write in progress and its
// read-back first. (A second one is the caller's: it ends the program at once.)
int runOstrelctl(int argc, const char* const* argv, Console console, PlatformSource& platforms,
                 const std::atomic<bool>& interrupted);

// "ostrelctl 1.0.0".
std::string ostrelctlVersion();

}  // namespace ctl
