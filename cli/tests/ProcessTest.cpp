// The ostrelctl program itself, on its simulated controller: exit codes, JSON parsed back,
// Ctrl-C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX's kill and sigaction
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

// NOLINTNEXTLINE(readability-redundant-declaration): POSIX leaves it to the program.
extern char** environ;

namespace {

using nlohmann::json;

struct Ran {
    int code = -1;
    std::string out;
};

// Runs ostrelctl with `args` (shell words); stderr is dropped.
Ran ostrelctl(const std::string& args) {
    Ran ran;
    const std::string command = std::string("'") + OSTRELCTL + "' " + args + " 2>/dev/null";
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

TEST(OstrelctlProgram, SimulatedFirmwareOfAnyVersionTheSimulatorHas) {
    struct Case {
        const char* args;
        int code;
        const char* caption;  // of status --json; null: none
    };
    for (const Case& c : {
             Case{"--simulated --simulated-firmware 2.1", 0, "Ostrel ver: 2.1 mode: 01"},
             Case{"--simulated=2 --simulated-firmware=1.0", 0, "Ostrel ver: 1.0 mode: 01"},
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

TEST(OstrelctlProgram, CtrlCEndsWatchCleanly) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {OSTRELCTL, "--simulated", "status", "--watch", "0.1", nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, OSTRELCTL, &actions, nullptr, const_cast<char**>(argv), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(kill(pid, SIGINT), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal, not by itself";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
