// ostrelctl: the controller from the command line. The whole program but its main: it
// parses the arguments, runs one command and returns the exit code. It writes only to the
// streams it is given and finds the HID system through the caller, which decides what
// --simulated means.
#pragma once

#include <atomic>

#include "core/context/Context.h"

namespace ctl {

// Runs the command line; `interrupted` becomes true on the first Ctrl-C or SIGTERM, after
// which a command stops at its next read or write, finishing the write in progress and its
// read-back first. (A second one is the caller's: it ends the program at once.)
int runOstrelctl(int argc, const char* const* argv, Console console, PlatformSource& platforms,
                 const std::atomic<bool>& interrupted);

}  // namespace ctl
