// The ostrelctl program itself, on its simulated controller: exit codes, JSON parsed back,
// signals, and standard output that fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX's kill and sigaction
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// NOLINTNEXTLINE(readability-redundant-declaration): POSIX leaves it to the program.
extern char** environ;

namespace {

using nlohmann::json;

struct Ran {
    int code = -1;
    std::string out;
};

// Runs ostrelctl with `args` (shell words); stderr is dropped, or with `errors` kept in `out`.
Ran ostrelctl(const std::string& args, bool errors = false) {
    Ran ran;
    const std::string command =
        std::string("'") + OSTRELCTL + "' " + args + (errors ? " 2>&1" : " 2>/dev/null");
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return ran;
    }
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        ran.out.append(buffer, n);
    }
    const int status = pclose(pipe);
    ran.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

TEST(OstrelctlProgram, ExitCodesAndJson) {
    struct Case {
        const char* args;
        int code;
    };
    for (const Case& c :
         {Case{"--version", 0}, Case{"--help", 0}, Case{"list", 0}, Case{"--simulated status", 0},
          Case{"", 1}, Case{"nonsense", 1}, Case{"--simulated get no-such-parameter", 1},
          Case{"--simulated set 0x03 1e999", 1}, Case{"--simulated set 0x1d -20", 0},
          Case{"--simulated set minimum-temperature -hot", 1}, Case{"--simulated set 0x03 ''", 1},
          Case{"--simulated backup - | '" OSTRELCTL "' --simulated diff --exit-code -", 0},
          Case{"--simulated restore /nonexistent", 1}}) {
        EXPECT_EQ(ostrelctl(c.args).code, c.code) << c.args;
    }
    EXPECT_EQ(ostrelctl("--version").out, std::string("ostrelctl ") + OSTREL_VERSION + "\n");

    const Ran status = ostrelctl("--simulated status --json");
    EXPECT_EQ(json::parse(status.out)["caption"], "Ostrel ver: 1.2 mode: 01");
    const Ran values = ostrelctl("--simulated get --all --json");
    ASSERT_EQ(values.code, 0);
    EXPECT_EQ(json::parse(values.out).size(), 37u);
}

// mqtt runs in a program of its own, which ostrelctl finds beside itself wherever it is
// built or installed; a copy of ostrelctl without it says which file is missing.
TEST(OstrelctlProgram, MqttIsHandedToItsOwnProgram) {
    const auto said = [](const std::filesystem::path& program) {
        const std::string command = "'" + program.string() + "' mqtt --config /nonexistent 2>&1";
        std::FILE* pipe = popen(command.c_str(), "r");
        std::string text(4096, '\0');
        text.resize(pipe == nullptr ? 0 : std::fread(text.data(), 1, text.size(), pipe));
        const int status = pipe == nullptr ? -1 : pclose(pipe);
        return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, text);
    };
#ifdef MQTT_BUILT
    EXPECT_EQ(said(OSTRELCTL), std::make_pair(1, std::string("ostrelctl: cannot read the "
                                                             "configuration /nonexistent: No "
                                                             "such file or directory\n")));
#endif
    char folder[] = "/tmp/ostrelctl alone.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::filesystem::path bin = std::filesystem::path(folder) / "bin";
    std::filesystem::create_directory(bin);
    std::filesystem::copy_file(OSTRELCTL, bin / "ostrelctl");
    EXPECT_EQ(said(bin / "ostrelctl"),
              std::make_pair(
                  1, "ostrelctl: mqtt is not installed with this program: " + std::string(folder) +
                         "/libexec/ostrel/ostrelctl-mqtt is missing; \"ostrelctl "
                         "metrics\" gives the same figures to Prometheus\n"));
    std::filesystem::remove_all(folder);
}

TEST(OstrelctlProgram, ABackupOnStandardOutputRestoresUnchanged) {
    const Ran backup = ostrelctl("--simulated backup -");
    ASSERT_EQ(backup.code, 0);
    EXPECT_EQ(json::parse(backup.out)["parameters"].size(), 37u);
    const Ran restore =
        ostrelctl("--simulated backup - | '" + std::string(OSTRELCTL) + "' --simulated restore -");
    EXPECT_EQ(restore.code, 0);
    EXPECT_NE(restore.out.find("Restore: 37 unchanged, 0 written and verified, 0 failed"),
              std::string::npos)
        << restore.out;
}

// station | head: the closed pipe ends the station as Ctrl-C does, not SIGPIPE part way: the
// log is whole, units and end line, and says why it ended.
TEST(OstrelctlProgram, AStationIntoAClosedPipeEndsWithItsLogWhole) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("ostrelctl-station-pipe-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string profile = (folder / "p.json").string();
    const std::string log = (folder / "log.jsonl").string();
    ASSERT_EQ(ostrelctl("--simulated backup '" + profile + "'").code, 0);
    const Ran head = ostrelctl(
        "--simulated=plug:1@0.1,plug:2@0.2,plug:3@0.3,plug:4@0.4,plug:5@0.5 station --log '" + log +
        "' '" + profile + "' | head -n 2");
    EXPECT_EQ(head.code, 0);
    std::ifstream file(log);
    std::vector<json> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(json::parse(line));
    }
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.back()["event"], "end");
    EXPECT_EQ(lines.back()["stoppedBy"], "the closed output");
    EXPECT_EQ(lines.back()["units"], lines.size() - 2);
    std::filesystem::remove_all(folder);
}

TEST(OstrelctlProgram, SimulatedFirmwareOfAnyVersionTheSimulatorHas) {
    struct Case {
        const char* args;
        int code;
        const char* caption;  // of status --json; null: none
    };
    for (const Case& c : {
             Case{"--simulated --simulated-firmware 2.1", 0, "Ostrel ver: 2.1 mode: 01"},
             Case{"--simulated=2 --simulated-firmware=1.0", 0, "Ostrel ver: 1.0 mode: 01"},
             Case{"--simulated=plug:1@0 --simulated-firmware 2.1", 0, "Ostrel ver: 2.1 mode: 01"},
             Case{"--simulated --simulated-firmware 2.15", 0, "Ostrel ver: 2.15 mode: 01"},
             Case{"--simulated --simulated-firmware 3.0", 1, nullptr},
             Case{"--simulated --simulated-firmware 0.9", 1, nullptr},
             Case{"--simulated --simulated-firmware 2.16", 1, nullptr},
             Case{"--simulated --simulated-firmware 2", 1, nullptr},
             Case{"--simulated --simulated-firmware 2.x", 1, nullptr},
             Case{"--simulated --simulated-firmware ' 2.1'", 1, nullptr},
             Case{"--simulated-firmware 2.1", 1, nullptr},  // no simulated controller
         }) {
        const Ran ran = ostrelctl(std::string(c.args) + " --device sim-1 status --json");
        EXPECT_EQ(ran.code, c.code) << c.args;
        if (c.caption != nullptr && ran.code == 0) {
            EXPECT_EQ(json::parse(ran.out)["caption"], c.caption) << c.args;
        }
    }
    // The volts stay what the demo's controller stands for; only their counts change.
    const json one = json::parse(ostrelctl("--simulated status --json").out);
    const json two =
        json::parse(ostrelctl("--simulated --simulated-firmware 2.1 status --json").out);
    for (const char* rail : {"voltageIn", "ignition", "voltage3V", "voltage5V", "voltage12V"}) {
        EXPECT_NEAR(one[rail].get<double>(), two[rail].get<double>(), 0.15) << rail;
    }
    // A 1.x backup goes onto a 2.x controller only converted.
    const std::string pipe = "--simulated backup - | '" + std::string(OSTRELCTL) +
                             "' --simulated --simulated-firmware 2.1 restore ";
    EXPECT_EQ(ostrelctl(pipe + "-").code, 1);
    EXPECT_EQ(ostrelctl(pipe + "--convert -").code, 0);
}

// Every simulated controller replays the trace, a built-in one in its firmware's counts; a
// trace that does not parse, or one without --simulated, is refused in one line first.
TEST(OstrelctlProgram, SimulatedControllersReplayATrace) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("ostrelctl-trace-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string cold = (folder / "cold trace").string();
    const std::string bad = (folder / "bad.trace").string();
    std::ofstream(cold) << "# a cold morning\n0 input=100 temperature=-7\n3600\n";
    std::ofstream(bad) << "0 input=100\n0.5 rail5=300\n1\n";
    struct Case {
        std::string args;
        const char* said;  // all it prints on failure; null: it succeeds
        double volts = 0;  // voltageIn, within a count or the ripple
        int temperature = 0;
    };
    const Case cases[] = {
        {"--simulated --simulated-trace='" + cold + "'", nullptr, 11.23, -7},
        {"--simulated=plug:1@0 --simulated-trace '" + cold + "'", nullptr, 11.23, -7},
        {"--simulated=2 --simulated-trace=parked", nullptr, 12.6, 25},
        {"--simulated --simulated-firmware 2.1 --simulated-trace=driving", nullptr, 14.2, 25},
        {"--simulated-trace=parked",
         "ostrelctl: --simulated-trace is for the controllers of "
         "--simulated\n"},
        {"--simulated --simulated-trace='" + bad + "'",
         "ostrelctl: %: line 2: the value \"300\" of rail5 is no whole number from 0 to 255\n"},
        {"--simulated --simulated-trace=/nonexistent", "ostrelctl: /nonexistent: no such file\n"},
        {"--simulated --simulated-trace='" + folder.string() + "'", "ostrelctl: %: is a folder\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const Ran ran = ostrelctl(c.args + " --device sim-1 status --json", true);
        if (c.said != nullptr) {
            std::string said = c.said;
            if (const std::size_t named = said.find('%'); named != std::string::npos) {
                said.replace(named, 1,
                             c.args.substr(c.args.find('\'') + 1,
                                           c.args.rfind('\'') - c.args.find('\'') - 1));
            }
            EXPECT_EQ(ran.code, 1);
            EXPECT_EQ(ran.out, said);
            continue;
        }
        ASSERT_EQ(ran.code, 0) << ran.out;
        const json status = json::parse(ran.out);
        EXPECT_NEAR(status["voltageIn"].get<double>(), c.volts, 0.35);
        EXPECT_NEAR(status["temperature"].get<int>(), c.temperature, 1);
    }
    std::filesystem::remove_all(folder);
}

// Whether `pid` catches `signal` (SigCgt), or has it pending (SigPnd, ShdPnd).
bool signalState(pid_t pid, int signal, bool pending) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if ((pending ? line.starts_with("SigPnd:") || line.starts_with("ShdPnd:")
                     : line.starts_with("SigCgt:")) &&
            ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1) != 0) {
            return true;
        }
    }
    return false;
}

std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

// How a run ends when its output fails, and when Ctrl-C or SIGTERM come once (the command
// stops before its next read or write and says so; --watch just ends) or twice (at once,
// nothing said). The signals arrive while restore waits for its input, given afterwards.
TEST(OstrelctlProgram, EveryEndOfARunIsSaid) {
    enum Output { PIPE, FULL, CLOSED, CLOSED_UNDER_A_SHELL };
    struct Case {
        std::vector<const char*> args;
        Output output;
        std::vector<int> signals;
        int code;
        std::string err;  // all of standard error
    };
    const std::string nothing =
        "ostrelctl: interrupted; nothing was sent\n"
        "ostrelctl: nothing was written\n";
    const std::vector<const char*> watch = {"--simulated", "status", "--watch", "0.1"};
    const std::vector<const char*> restore = {"--simulated", "restore", "-"};
    const Case cases[] = {
        {watch,
         FULL,
         {},
         1,
         "ostrelctl: the standard output cannot be written (No space left on device)\n"},
        {{"--simulated", "status"},
         FULL,
         {},
         1,
         "ostrelctl: the standard output cannot be written\n"},
        {watch, CLOSED, {}, 0, ""},  // the reader went, SIGPIPE ignored as a parent may leave it
        {watch, CLOSED_UNDER_A_SHELL, {}, 0, ""},  // SIGPIPE at its default, as a shell leaves it
        {watch, PIPE, {SIGINT}, 0, ""},
        {restore, PIPE, {SIGINT}, 130, nothing},
        {restore, PIPE, {SIGTERM}, 130, nothing},
        {restore, PIPE, {SIGINT, SIGINT}, 130, ""},
        {restore, PIPE, {SIGTERM, SIGINT}, 130, ""},
    };
    const std::string backup = ostrelctl("--simulated backup -").out;
    std::signal(SIGPIPE, SIG_IGN);  // inherited by the program
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args) + " " + std::to_string(c.signals.size()));
        int in[2], out[2], err[2];
        ASSERT_EQ(::pipe2(in, O_CLOEXEC) | ::pipe2(out, O_CLOEXEC) | ::pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (c.output == FULL) {
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
        }
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv{const_cast<char*>(OSTRELCTL)};
        for (const char* arg : c.args) {
            argv.push_back(const_cast<char*>(arg));
        }
        argv.push_back(nullptr);
        const bool closed = c.output == CLOSED || c.output == CLOSED_UNDER_A_SHELL;
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        if (c.output == CLOSED_UNDER_A_SHELL) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            posix_spawnattr_setsigdefault(&attributes, &pipe);
            posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        }
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, OSTRELCTL, &actions, &attributes, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        for (const int fd : {in[0], out[1], err[1], closed ? out[0] : -1}) {
            ::close(fd);
        }
        char first = 0;  // --watch is stopped once it has printed
        EXPECT_TRUE(c.args != watch || c.signals.empty() || ::read(out[0], &first, 1) == 1);
        for (const int signal : c.signals) {
            // Once the program catches it, and only after the one before has arrived.
            for (int i = 0; i < 5000 && !signalState(pid, signal, false); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            ASSERT_EQ(::kill(pid, signal), 0);
            for (int i = 0; i < 5000 && signalState(pid, signal, true); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        if (c.args == restore && c.signals.size() == 1) {  // it goes on and finds the flag
            EXPECT_EQ(::write(in[1], backup.data(), backup.size()), ssize_t(backup.size()));
        }
        // A second signal ends it with its input still open: the end of input given first
        // could race a handler that runs on another thread.
        int status = 0;
        pid_t ended = 0;
        for (int i = 0; c.signals.size() == 2 && ended == 0 && i < 15000; ++i) {
            ended = waitpid(pid, &status, WNOHANG);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ::close(in[1]);
        const std::string printed = closed ? "" : drain(out[0]);
        EXPECT_EQ(drain(err[0]), c.err);
        EXPECT_TRUE(c.signals.size() != 2 || ended == pid) << "a second signal did not end it";
        if (ended != pid) {
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
        }
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), c.code);
        EXPECT_TRUE(c.args != restore || printed.empty()) << printed;
    }
    std::signal(SIGPIPE, SIG_DFL);
}

}  // namespace
