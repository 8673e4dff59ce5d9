// One ostrelctl command line run in-process, with what it printed kept: the unit tests, the
// fuzzer and the kernel harness all drive the program this way.
#pragma once

#include <atomic>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Ostrelctl.h"

struct RunResult {
    int code = -1;
    std::string out;
    std::string err;
};

// `args` without the program's name; `input`: the console's input; `out`: where the
// program's output goes instead of the result (a stream that fails, say).
inline RunResult runOstrelctlLine(std::vector<std::string> args, ctl::PlatformSource& platforms,
                                  const std::atomic<bool>& interrupted,
                                  const std::string& input = "", std::ostream* out = nullptr) {
    args.insert(args.begin(), "ostrelctl");
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::istringstream in(input);
    std::ostringstream kept;
    std::ostringstream err;
    RunResult result;
    result.code =
        ctl::runOstrelctl(static_cast<int>(argv.size()), argv.data(),
                          {in, out != nullptr ? *out : kept, err, nullptr}, platforms, interrupted);
    result.out = kept.str();
    result.err = err.str();
    return result;
}
