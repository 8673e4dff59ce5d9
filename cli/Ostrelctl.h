// ostrelctl: the controller from the command line. The whole program but its main: it
// parses the arguments, runs one command and returns the exit code. It writes only to the
// streams it is given and finds the HID system through the caller, which decides what
// --simulated means.
#pragma once

#include <atomic>

#include "cli/context/Context.h"

namespace ctl {

// Runs the command line; `interrupted` becomes true on Ctrl-C.
int runOstrelctl(int argc, const char* const* argv, Console console, PlatformSource& platforms,
                 const std::atomic<bool>& interrupted);

}  // namespace ctl
