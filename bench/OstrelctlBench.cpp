// ostrelctl as a user runs it: whole processes, timed from start to exit. Prints the median of
// many runs of --version beside /bin/true's (the start alone), of one get and of a backup of
// every parameter on the simulated controller beside the floor the bus sets, and of a backup
// --all of four controllers beside that of one.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// NOLINTNEXTLINE(readability-redundant-declaration): POSIX leaves it to the program.
extern char** environ;

namespace {

constexpr int RUNS = 9;
// The short runs, many times: their medians are what is compared.
constexpr int QUICK_RUNS = 101;

// Milliseconds from spawn to exit of `program`, or a negative value when the run failed.
double timedRun(std::vector<std::string> args, const char* program = OSTRELCTL) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
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
    std::remove(file.c_str());
    return ok ? 0 : 1;
}
