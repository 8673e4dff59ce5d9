// The commands of ostrelctl, each run against a controller found through the platform.
// Each returns an exit code of ExitCode.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "cli/Ostrelctl.h"

namespace ctl {

struct GlobalOptions {
    bool simulated = false;
    int timeoutMs = 1000;
    bool verbose = false;
    double waitSeconds = 0;  // how long to wait for a controller another program holds
};

struct CommandContext {
    Console console;
    PlatformSource& platforms;
    GlobalOptions global;
    const std::atomic<bool>& interrupted;
};

struct StatusOptions {
    bool json = false;
    bool csv = false;
    double watchSeconds = 0;  // 0: one status
};

int commandStatus(CommandContext& context, const StatusOptions& options);
int commandList(CommandContext& context, bool json);
int commandGet(CommandContext& context, const std::vector<std::string>& params, bool all,
               bool json);
int commandSet(CommandContext& context, const std::string& param, const std::string& value);
int commandBackup(CommandContext& context, const std::string& file);
struct RestoreOptions {
    bool dryRun = false;
    bool convert = false;  // across firmware families: write the nearest values
};

struct DiffOptions {
    bool json = false;
    bool exitCode = false;  // EXIT_DIFFERS when a value differs
};

int commandRestore(CommandContext& context, const std::string& file, const RestoreOptions& options);
int commandDiff(CommandContext& context, const std::string& file, const DiffOptions& options);
int commandFactoryReset(CommandContext& context, bool yes);
// The Prometheus exposition of every controller to `output` (empty or "-": standard output).
int commandMetrics(CommandContext& context, const std::string& output);

}  // namespace ctl
