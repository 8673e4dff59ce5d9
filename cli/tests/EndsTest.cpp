// What reaches the terminal and how a run ends: texts from outside printed with their control
// bytes escaped, seconds taken only as decimals, and Ctrl-C stopping a command after the
// write in progress with what was and was not written listed.
#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/tests/CtlFixture.h"
#include "device/OstrelIdentity.h"

namespace {

// No byte that moves a terminal: a control byte but the line end, DEL, or C1 in UTF-8.
bool terminalSafe(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if ((byte < 0x20 && byte != '\n') || byte == 0x7F || (byte == 0xC2 && next < 0xA0)) {
            return false;
        }
    }
    return true;
}

TEST_F(Ctl, TextsFromOutsideReachTheTerminalEscaped) {
    const sim::SimulatedOstrel& held = plug();  // sim-1
    // A device with a controller's identity that names its own path and location.
    m_platform.addDevice(sim::SimulatedOstrel::identity(OSTREL_PRODUCT_ID, "/dev/\x1b]0;x\x07",
                                                        "9-\x1b[2J\xc2\x9b"));
    // Whoever can open the node names the holder.
    const platform::ClaimResult other = m_platform.claim(held.path().c_str(), "\x1b[2J");
    const std::string pid = std::to_string(m_platform.claimHolder(held.path()).pid);
    const nlohmann::json file = {{"format", "ostrel-backup"},
                                 {"formatVersion", 1},
                                 {"firmware", {{"major", 1}, {"minor", 2}}},
                                 {"parameters", {{{"name", "\x1b[2J\nostrelctl: ok"}}}}};
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--device", "sim-1", "get", "0x03"}, "in use by \\x1b[2J (pid " + pid + ")"},
        {{"--timeout", "30", "devices"}, "9-\\x1b[2J\\xc2\\x9b  /dev/\\x1b]0;x\\x07  0x0002   no "},
        {{"--timeout", "30", "--all", "get", "0x03"}, "== 9-\\x1b[2J\\xc2\\x9b (/dev/\\x1b]0;x"},
        {{"--device", "\x1b[2J", "status"}, "--device \\x1b[2J: no controller there"},
        {{"restore", "no/\x1b[2J.json"}, "no/\\x1b[2J.json: no such file"},
        {{"diff", "-"},
         "standard input: parameters[0] (\\x1b[2J\\x0aostrelctl: ok): no such parameter"},
        {{"get", "\x1b[2J"}, "\"\\x1b[2J\" is not a parameter"},
        {{"set", "0x03", "\x1b[2J"}, "\"\\x1b[2J\" is not one"},
        {{"--all", "backup", "no/\x1b[2J"}, "no/\\x1b[2J: not a folder"},
        {{"status", "\x1b[2J"}, "was not expected: \\x1b[2J"},
    };
    for (const auto& [args, says] : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const RunResult result = run(args, file.dump());
        EXPECT_NE((result.out + result.err).find(says), std::string::npos)
            << result.out << result.err;
        EXPECT_TRUE(terminalSafe(result.out + result.err)) << result.out << result.err;
    }
}

// Seconds that are no decimal number are refused before anything is opened; the first
// Ctrl-C lets the write in progress and its read-back finish, lists what was and was not
// written, and ends with 130.
TEST_F(Ctl, EveryStopIsSaidAndCtrlCFinishesTheWriteInProgress) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() /
        ("ostrelctl-ends-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(folder);
    constexpr int NEVER = -1;
    constexpr int STATUS = 0;  // with the status request, before any write
    struct Case {
        std::vector<std::string> args;
        int controllers;
        int interruptAt;  // NEVER, STATUS, or with the Nth parameter write of the run
        int code;
        std::string says;  // on either stream
        int writes;        // parameter writes, at most one more per further controller
    };
    const std::string decimal = "\" is not a decimal number (digits with at most one point)";
    const std::string stopped =
        "interrupted; stopped before the next write, after the one in "
        "progress and its read-back\n";
    const Case cases[] = {
        // Each text no option takes is a row of params/tests/NumbersTest.cpp.
        {{"--wait", "nan", "get", "0x03"}, 1, NEVER, 1, "--wait: \"nan" + decimal, 0},
        {{"--wait", "-1", "get", "0x03"}, 1, NEVER, 1, "--wait: \"-1" + decimal, 0},
        {{"status", "--watch", "0x10"}, 1, NEVER, 1, "--watch: \"0x10" + decimal, 0},
        {{"--timeout", "09", "status"},
         1,
         NEVER,
         1,
         "--timeout: \"9\" is outside 10 to 600000 ms",
         0},
        {{"--wait", "00.5", "get", "0x03"}, 1, NEVER, 0, "Delay before PSU startup: 9 [s]", 0},
        {{"--timeout", "10.5", "status"}, 1, NEVER, 1, "\"10.5\" is not a whole number of ms", 0},
        {{"status", "--watch", "0.09"}, 1, NEVER, 1, "\"0.09\" is outside 0.1 to 86400 seconds", 0},
        {{"set", "0x03", "7"},
         1,
         STATUS,
         130,
         "Not written: Delay before PSU startup\nRun the same set again to write the 1 "
         "parameter left\n",
         0},
        {{"set", "0x03", "7"},
         1,
         1,
         130,
         "7 [s] (written and read back)\nostrelctl: " + stopped,
         1},
        {{"restore", "-"},
         1,
         2,
         130,
         "written Maximum temperature: 70 [\u00B0C] -> 85 [\u00B0C]\n"
         "Restore: 34 unchanged, 2 written and verified, 0 failed, 1 not written\n"
         "Written and verified: Delay before PSU startup, Maximum temperature\n"
         "Not written: Off-delay MODE 1\n"
         "Run the same restore again to write the 1 parameter left\nostrelctl: " +
             stopped,
         2},
        {{"factory-reset", "--yes"}, 1, STATUS, 130, "Not written: Reset to factory defaults\n", 0},
        {{"factory-reset", "--yes"}, 1, 1, 130, "interrupted once the factory reset was sent\n", 1},
        {{"--all", "restore", "-"}, 3, 1, 130, "the worst exit status is 130\n", 1},
        {{"--all", "backup", folder.string()}, 2, STATUS, 130, "no file was written\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        m_controllers.clear();
        m_interrupted = false;
        for (int i = 0; i < c.controllers; ++i) {
            plug();
        }
        // restore reads the factory values; the controllers then differ in three, in order.
        const std::string input =
            run({"--device", m_controllers[0]->location(), "backup", "-"}).out;
        std::atomic<int> writes{0};
        for (const auto& controller : m_controllers) {
            controller->firmware().setParamByte(0x03, 9);   // delay, from 5 s
            controller->firmware().setParamByte(0x1C, 70);  // maximum temperature, from 85
            controller->firmware().setParamByte(0x25, 0);   // off-delay MODE 1, from 60 s
            controller->device().setWriteHook([&, &firmware = controller->firmware()](auto frame) {
                firmware.receive(frame);
                const bool write = frame[0] == CMD_PARAM && frame[1] == PARAM_WRITE;
                const int count = write ? ++writes : writes.load();
                if ((c.interruptAt == STATUS && frame[0] == CMD_STATUS) ||
                    (write && count == c.interruptAt)) {
                    m_interrupted = true;
                }
            });
        }
        const RunResult result = run(c.args, input);
        EXPECT_EQ(result.code, c.code) << result.out << result.err;
        EXPECT_NE((result.out + result.err).find(c.says), std::string::npos)
            << result.out << result.err;
        EXPECT_GE(writes.load(), c.writes);
        EXPECT_LE(writes.load(), c.writes + c.controllers - 1);
        if (c.args[0] == "restore") {  // the write in progress is done: it holds what is listed
            EXPECT_EQ(m_controllers[0]->firmware().paramByte(0x1C), c.interruptAt == 2 ? 85 : 70);
        }
    }
    EXPECT_TRUE(fs::is_empty(folder)) << "a backup was written after Ctrl-C";
    fs::remove_all(folder);
}

}  // namespace
