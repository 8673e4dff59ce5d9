// The commands of ostrelctl, each run against a controller found through the platform.
// Each returns an exit code of ExitCode.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "cli/Ostrelctl.h"

class HIDDescriptor;

namespace ctl {

struct GlobalOptions {
    int simulated = 0;  // how many simulated controllers to talk to; 0: those on USB
    int timeoutMs = 1000;
    bool verbose = false;
    double waitSeconds = 0;  // how long to wait for a controller another program holds
    std::string device;      // --device: a location or a device path; empty: the only one
    bool all = false;        // --all: every attached controller
};

// What a command wrote to one controller, for the summary of --all.
struct WriteTally {
    int written = 0;
    int verified = 0;
    int failed = 0;  // written and not read back, or left unwritten after a failure
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
};

struct StatusOptions {
    bool json = false;
    bool csv = false;
    double watchSeconds = 0;  // 0: one status
};

int commandStatus(CommandContext& context, const StatusOptions& options);
int commandList(CommandContext& context, bool json);
// Every controller: location, device path, product id, firmware version and mode.
int commandDevices(CommandContext& context, bool json);
int commandGet(CommandContext& context, const std::vector<std::string>& params, bool all,
               bool json);
int commandSet(CommandContext& context, const std::string& param, const std::string& value);
// Who named the output file: the user (written as writeWholeFile does), or the program
// (backup --all's ostrel-LOCATION.json, written as writeMadeUpFile does).
enum class OutputName { User, MadeUp };
// Reads every value and lets the controller go before the output is opened.
int commandBackup(CommandContext& context, const std::string& file,
                  OutputName named = OutputName::User);
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

// Runs `command` on every attached controller at once, each on its own thread, channel and
// table with the controller as context.target and its output kept apart; prints each one's
// output grouped under its location, in location order (an array of objects keyed by
// location when `json`), then the summary table. Returns worstExit() of their exit codes.
// `input`: what "-" reads for each of them (a backup file read once beforehand).
int runOnAll(CommandContext& context, bool json, const std::string& input,
             const std::function<int(CommandContext&)>& command);

// Reads the backup file at `path` ("-": the console's input) into `content` and checks it
// as restore and diff do; false after saying why.
bool readBackupText(CommandContext& context, const std::string& path, std::string& content);

// The worst of the exit codes, in the order that --help documents (worstExitOrder()).
int worstExit(const std::vector<int>& codes);

}  // namespace ctl
