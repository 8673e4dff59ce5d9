// ostrelctl as a user runs it: whole processes, timed from start to exit. Prints the median of
// many runs of --version beside /bin/true's (the start alone), of one get and of a backup of
// every parameter on the simulated controller beside the floor the bus sets, of a backup
// --all of four controllers beside that of one, of the station from a simulated plug to its
// PASS line beside restore alone, and of devices over 16 controllers, one silent, beside one.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Ostrelctl.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"

// NOLINTNEXTLINE(readability-redundant-declaration): POSIX leaves it to the program.
extern char** environ;

namespace {

constexpr int RUNS = 9;
// The short runs, many times: their medians are what is compared.
constexpr int QUICK_RUNS = 101;

// posix_spawn's argument vector over `args`, which must outlive it.
std::vector<char*> argumentVector(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// Milliseconds from spawn to exit of `program`, or a negative value when the run failed.
double timedRun(std::vector<std::string> args, const char* program = OSTRELCTL) {
    args.insert(args.begin(), program);
    std::vector<char*> argv = argumentVector(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

struct Figures {
    double median = 0;
    double min = 0;
    double max = 0;
};

// The median, fastest and slowest of `runs` runs; nothing when a run failed.
bool measure(const std::vector<std::string>& args, Figures& figures, int runs = RUNS) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = timedRun(args);
        if (ms < 0) {
            return false;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    figures = {times[times.size() / 2], times.front(), times.back()};
    return true;
}

// Each question is one round trip: the output report, then the answer at the interrupt
// endpoint's next poll. The simulated controller answers one poll interval after the
// question, as over a full-speed bus, so no program can be faster than this floor.
constexpr double POLL_INTERVAL_MS = 2.0;

// One line: the figures, the floor of `roundTrips` round trips, their ratio and the target.
bool report(const char* what, const std::vector<std::string>& args, int roundTrips, double targetMs,
            int runs = RUNS) {
    Figures f;
    if (!measure(args, f, runs)) {
        std::printf("%-40s FAILED (a run did not end with exit code 0)\n", what);
        return false;
    }
    const double floor = roundTrips * POLL_INTERVAL_MS;
    std::printf(
        "%-40s median %6.2f ms (min %.2f, max %.1f, %d runs); floor %.0f ms (%d round trips x "
        "%.0f ms): %.2f x floor; target < %.0f ms (%.1f x floor)\n",
        what, f.median, f.min, f.max, runs, floor, roundTrips, POLL_INTERVAL_MS, f.median / floor,
        targetMs, targetMs / floor);
    return true;
}

// The start alone: --version, which reads no device, beside the least a process costs here,
// the two taken in turn so that a change of the machine's load meets both alike.
bool reportStart() {
    std::vector<double> version;
    std::vector<double> nothing;
    for (int i = 0; i < QUICK_RUNS; ++i) {
        nothing.push_back(timedRun({}, "/bin/true"));
        version.push_back(timedRun({"--version"}));
        if (nothing.back() < 0 || version.back() < 0) {
            std::printf("ostrelctl --version FAILED\n");
            return false;
        }
    }
    std::sort(version.begin(), version.end());
    std::sort(nothing.begin(), nothing.end());
    const double median = version[version.size() / 2];
    const double floor = nothing[nothing.size() / 2];
    std::printf(
        "%-40s median %6.2f ms (min %.2f, max %.1f, %d runs); /bin/true %.2f ms (min %.2f): "
        "+%.2f ms; target < +2 ms\n",
        "ostrelctl --version", median, version.front(), version.back(), QUICK_RUNS, floor,
        nothing.front(), median - floor);
    return true;
}

// `backup --all` of `count` simulated controllers beside a backup of one: they run in
// parallel, each on its own channel and thread, so the whole should take barely longer.
bool reportAll(int count, const std::string& folder, const std::string& file) {
    Figures one;
    Figures all;
    const std::string simulated = "--simulated=" + std::to_string(count);
    if (!measure({"--simulated", "backup", file}, one) ||
        !measure({simulated, "--all", "backup", folder}, all)) {
        std::printf("ostrelctl %s --all backup FAILED\n", simulated.c_str());
        return false;
    }
    std::printf(
        "ostrelctl %s --all backup DIR             median %6.1f ms (min %.1f, max %.1f, "
        "%d runs); one controller %.1f ms: %.2f x one; target < 1.3 x one\n",
        simulated.c_str(), all.median, all.min, all.max, RUNS, one.median, all.median / one.median);
    return true;
}

// `backup` with the first parameter (Delay before PSU startup, raw 5) one higher: a profile
// that differs from a fresh simulated controller in one value. False when it is not there.
bool changedProfile(const std::string& backup, const std::string& profile) {
    std::FILE* in = std::fopen(backup.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    std::string text;
    char chunk[4096];
    for (std::size_t n = 0; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        text.append(chunk, n);
    }
    std::fclose(in);
    const std::string from = "\"raw\": 5,\n      \"text\": \"5\"";
    const std::size_t at = text.find(from, text.find("\"address\": 3,"));
    if (at == std::string::npos) {
        return false;
    }
    text.replace(at, from.size(), "\"raw\": 6,\n      \"text\": \"6\"");
    std::FILE* out = std::fopen(profile.c_str(), "wb");
    const bool written =
        out != nullptr && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return out != nullptr && std::fclose(out) == 0 && written;
}

// One station run: controller sim-1 plugged in `plugMs` after the start; the milliseconds from
// the plug to the PASS line, reckoned from the line that says the station listens (the plan's
// clock starts just before it), or a negative value when it did not pass.
double stationPlugToPass(const std::string& profile, int plugMs) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        return -1;
    }
    char plan[64];
    std::snprintf(plan, sizeof plan, "--simulated=plug:1@%d.%03d", plugMs / 1000, plugMs % 1000);
    std::vector<std::string> args{OSTRELCTL, plan, "station", profile};
    std::vector<char*> argv = argumentVector(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, OSTRELCTL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (spawned != 0) {
        close(pipeEnds[0]);
        return -1;
    }
    std::FILE* out = fdopen(pipeEnds[0], "r");
    std::chrono::steady_clock::time_point listening;
    double ms = -1;
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr) {
        const std::string text = line;
        if (text.starts_with("Programming each")) {
            listening = std::chrono::steady_clock::now();
        } else if (text.find("  PASS  ") != std::string::npos) {
            ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                           listening)
                     .count() -
                 plugMs;
            kill(pid, SIGINT);
        } else if (text.find("  FAIL  ") != std::string::npos) {
            kill(pid, SIGINT);
        }
    }
    std::fclose(out);
    int status = 0;
    waitpid(pid, &status, 0);
    return ms;
}

// The station from a simulated plug to PASS beside restore of the same profile alone (a
// whole process: its start, the search and the writing).
bool reportStation(const std::string& backup) {
    const std::string profile = backup + ".profile.json";
    Figures restore;
    if (!changedProfile(backup, profile) ||
        !measure({"--simulated", "restore", profile}, restore)) {
        std::printf("ostrelctl station FAILED (no profile, or restore failed)\n");
        return false;
    }
    std::vector<double> times;
    for (int i = 0; i < RUNS; ++i) {
        times.push_back(stationPlugToPass(profile, 300));
        if (times.back() < 0) {
            std::printf("ostrelctl station FAILED (no PASS line)\n");
            std::remove(profile.c_str());
            return false;
        }
    }
    std::remove(profile.c_str());
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf(
        "%-40s median %6.1f ms (min %.1f, max %.1f, %d runs); restore alone %.1f ms: %.2f x "
        "restore; target < 1.2 x restore (+250 ms where the watch polls)\n",
        "ostrelctl station, plug to PASS", median, times.front(), times.back(), RUNS,
        restore.median, median / restore.median);
    return true;
}

// Simulated controllers at the bus's pace, `silent` of them (the first) answering nothing.
class Bench final : public ctl::PlatformSource {
public:
    Bench(int count, int silent) {
        m_platform.setRealSleep(true);
        for (int i = 0; i < count; ++i) {
            auto& controller =
                *m_controllers.emplace_back(std::make_unique<sim::SimulatedOstrel>(m_platform));
            controller.setBusTiming(true);
            if (i < silent) {
                controller.device().setWriteHook([](std::span<const std::uint8_t>) {});
            }
        }
    }
    platform::HidPlatform& platform(const ctl::Simulation&) override { return m_platform; }

private:
    platform::SimHidPlatform m_platform;
    std::vector<std::unique_ptr<sim::SimulatedOstrel>> m_controllers;
};

// Milliseconds of one `devices` over the controllers of `bench`, in this process.
double devicesMs(Bench& bench) {
    const char* argv[] = {"ostrelctl", "--timeout", "1000", "devices"};
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in;
    const std::atomic<bool> interrupted{false};
    const auto start = std::chrono::steady_clock::now();
    ctl::runOstrelctl(4, argv, {in, out, err, nullptr}, bench, interrupted);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// devices over 16 controllers, one of them silent, beside one silent controller alone: asked
// all at once, the silent one costs one timeout in all; and 16 answering beside one.
bool reportDevices() {
    double figures[4];
    const int setups[4][2] = {{16, 1}, {1, 1}, {16, 0}, {1, 0}};
    for (int i = 0; i < 4; ++i) {
        std::vector<double> times;
        for (int run = 0; run < 3; ++run) {
            Bench bench(setups[i][0], setups[i][1]);
            times.push_back(devicesMs(bench));
        }
        std::sort(times.begin(), times.end());
        figures[i] = times[1];
    }
    std::printf(
        "%-40s median %6.1f ms (3 runs, --timeout 1000); one silent alone %.1f ms: %.2f x; "
        "target < 1.2 x\n",
        "ostrelctl devices, 16 with one silent", figures[0], figures[1], figures[0] / figures[1]);
    std::printf("%-40s median %6.1f ms (3 runs); one %.1f ms: %.2f x\n",
                "ostrelctl devices, 16 answering", figures[2], figures[3], figures[2] / figures[3]);
    return true;
}

// Parameters in a backup file: one "address" member each.
int parametersIn(const std::string& file) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) {
        return 0;
    }
    std::string text;
    char chunk[4096];
    for (std::size_t n = 0; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        text.append(chunk, n);
    }
    std::fclose(in);
    int count = 0;
    for (std::size_t at = text.find("\"address\""); at != std::string::npos;
         at = text.find("\"address\"", at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

int main() {
    bool ok = reportStart();
    const std::string file = "/tmp/ostrelctl-bench-" + std::to_string(getpid()) + ".json";
    // One run first, to learn how many parameters a backup holds: a status request and
    // then one read per parameter.
    const int parameters = timedRun({"--simulated", "backup", file}) < 0 ? 0 : parametersIn(file);
    ok = parameters > 0 && ok;
    if (parameters > 0) {
        const std::string what =
            "ostrelctl --simulated backup (" + std::to_string(parameters) + " parameters)";
        const int roundTrips = parameters + 1;
        ok = report(what.c_str(), {"--simulated", "backup", file}, roundTrips,
                    1.5 * roundTrips * POLL_INTERVAL_MS);
    } else {
        std::printf("ostrelctl --simulated backup FAILED (no backup file with parameters)\n");
    }
    // A status request, then the read.
    ok = report("ostrelctl --simulated get (one parameter)",
                {"--simulated", "get", "delay-before-psu-startup"}, 2, 8.0, QUICK_RUNS) &&
         ok;
    const std::string folder = "/tmp/ostrelctl-bench-" + std::to_string(getpid()) + ".d";
    if (mkdir(folder.c_str(), 0700) == 0) {
        ok = reportAll(4, folder, file) && ok;
        for (int i = 1; i <= 4; ++i) {
            std::remove((folder + "/ostrel-sim-" + std::to_string(i) + ".json").c_str());
        }
        rmdir(folder.c_str());
    } else {
        std::printf("ostrelctl --all backup FAILED (no folder %s)\n", folder.c_str());
        ok = false;
    }
    ok = reportStation(file) && ok;
    ok = reportDevices() && ok;
    std::remove(file.c_str());
    return ok ? 0 : 1;
}
