// ostrelctl as a user runs it: whole processes on the simulated controller, timed from start
// to exit. Prints the median of several runs of a backup of every parameter and of one get.
#include <fcntl.h>
#include <spawn.h>
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

// Milliseconds from spawn to exit, or a negative value when the run failed.
double timedRun(std::vector<std::string> args) {
    args.insert(args.begin(), OSTRELCTL);
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
    const int spawned = posix_spawn(&pid, OSTRELCTL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

bool report(const char* what, const std::vector<std::string>& args, double targetMs) {
    std::vector<double> times;
    for (int i = 0; i < RUNS; ++i) {
        const double ms = timedRun(args);
        if (ms < 0) {
            std::printf("%-44s FAILED (the run did not end with exit code 0)\n", what);
            return false;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("%-44s median %7.1f ms  (min %.1f, max %.1f, %d runs; target < %.0f ms)\n", what,
                times[times.size() / 2], times.front(), times.back(), RUNS, targetMs);
    return true;
}

}  // namespace

int main() {
    const std::string file = "/tmp/ostrelctl-bench-" + std::to_string(getpid()) + ".json";
    bool ok = report("ostrelctl --simulated backup (37 parameters)",
                     {"--simulated", "backup", file}, 1000.0);
    ok = report("ostrelctl --simulated get (one parameter)",
                {"--simulated", "get", "delay-before-psu-startup"}, 100.0) &&
         ok;
    std::remove(file.c_str());
    return ok ? 0 : 1;
}
