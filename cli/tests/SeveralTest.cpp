// Several controllers: choosing one by where it is plugged, and --all on every one at once.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/tests/CtlFixture.h"
#include "core/context/ExitStatus.h"
#include "core/selection/Selection.h"
#include "core/session/GetSet.h"
#include "device/OstrelIdentity.h"

namespace {

using json = nlohmann::ordered_json;

constexpr std::uint8_t ADDR_DELAY = 0x03;  // "Delay before PSU startup", 1 byte, factory 5 s

class Several : public Ctl {
protected:
    // Whether any frame of `controller` was a parameter write.
    static bool wroteTo(sim::SimulatedOstrel& controller) {
        for (const Bytes& frame : controller.device().writes()) {
            if (frame[0] == CMD_PARAM && frame[1] == PARAM_WRITE) {
                return true;
            }
        }
        return false;
    }

    std::filesystem::path folder() {
        const auto path = std::filesystem::temp_directory_path() /
                          ("ostrelctl-several-" +
                           std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
        return path;
    }
};

TEST_F(Several, ASelectorChoosesOneControllerOrSaysWhyNone) {
    sim::SimulatedOstrel& first = plug();   // sim-1, /dev/sim-hidraw0
    sim::SimulatedOstrel& second = plug();  // sim-2
    // A device that is no controller, and a second controller reported at sim-2's place.
    platform::SimIdentity mouse;
    mouse.path = "/dev/mouse";
    mouse.location = "3-1";
    mouse.vendorId = 0x1234;
    m_platform.addDevice(mouse);
    m_platform.addDevice(sim::SimulatedOstrel::identity(OSTREL_PRODUCT_ID, "/dev/twin", "9-9"));
    m_platform.addDevice(sim::SimulatedOstrel::identity(OSTREL_PRODUCT_ID, "/dev/twin2", "9-9"));

    struct Case {
        std::vector<std::string> args;
        int code;
        const char* says;  // on stdout when the code is 0, else on stderr
        bool first;        // which controllers got a write
        bool second;
    };
    const Case cases[] = {
        {{"set", "0x03", "7"},
         2,
         "4 controllers found; choose one with --device LOCATION",
         false,
         false},
        {{"get", "--all"}, 2, "or give --all before the command for every one", false, false},
        {{"--device", "sim-2", "set", "0x03", "7"}, 0, "(written and read back)", false, true},
        {{"--device", first.path(), "set", "0x03", "8"}, 0, "(written and read back)", true, false},
        {{"--device", "sim-7", "set", "0x03", "7"},
         2,
         "--device sim-7: no controller there",
         false,
         false},
        {{"--device", "/dev/mouse", "set", "0x03", "7"},
         2,
         "/dev/mouse is not a controller",
         false,
         false},
        {{"--device", "3-1", "status"}, 2, "3-1 is not a controller", false, false},
        {{"--device", "9-9", "status"}, 2, "--device 9-9 matches 2 controllers", false, false},
        {{"--device", "", "status"}, 1, "--device: an empty selector", false, false},
        {{"--device", "sim-1", "--all", "status"}, 1, "--device excludes --all", false, false},
        {{"--device", "sim-1", "devices"}, 1, "takes no --device", false, false},
        {{"--all", "list"}, 1, "--all works with status, get", false, false},
        {{"--all", "status", "--watch", "1"}, 1, "works on one controller", false, false},
        {{"--all", "factory-reset"}, 1, "give --yes", false, false},
        {{"--all", "get"}, 1, "name the parameters to read, or give --all", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        first.device().clearWrites();
        second.device().clearWrites();
        const RunResult result = run(c.args);
        EXPECT_EQ(result.code, c.code) << result.err;
        EXPECT_NE((c.code == 0 ? result.out : result.err).find(c.says), std::string::npos)
            << result.out << result.err;
        EXPECT_EQ(wroteTo(first), c.first);
        EXPECT_EQ(wroteTo(second), c.second);
    }
    EXPECT_EQ(first.firmware().paramByte(ADDR_DELAY), 8);
    EXPECT_EQ(second.firmware().paramByte(ADDR_DELAY), 7);
}

TEST_F(Several, NoControllerIsExitTwoForEveryWayOfChoosing) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"status"}, {"--all", "status"}, {"--device", "sim-1", "get", "0x03"}}) {
        const RunResult result = run(args);
        EXPECT_EQ(result.code, 2) << args[0];
        EXPECT_NE(result.err.find("no controller"), std::string::npos) << result.err;
    }
    const RunResult none = run({"devices", "--json"});
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(json::parse(none.out), json::array());
    const RunResult plain = run({"devices", "--plain"});
    EXPECT_EQ(plain.code, 0);
    EXPECT_EQ(plain.out + plain.err, "");
}

TEST_F(Several, AControllerReplacedAfterTheChoiceGetsNothing) {
    plug();
    const auto chosen = ctl::findControllers(m_platform, nullptr);
    ASSERT_EQ(chosen.size(), 1u);
    const std::string path = m_controllers.front()->path();
    m_controllers.front()->unplug();
    // Another controller now has the path, plugged in elsewhere.
    sim::SimulatedOstrel& other = *m_controllers.emplace_back(
        std::make_unique<sim::SimulatedOstrel>(m_platform, OSTREL_PRODUCT_ID, path));
    ASSERT_NE(other.location(), chosen.front()->location);

    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    ctl::CommandContext context{{in, out, err, nullptr}, *this, {}, m_interrupted};
    context.target = chosen.front().get();
    EXPECT_EQ(ctl::commandSet(context, "0x03", "9"), ctl::EXIT_NO_DEVICE);
    EXPECT_NE(err.str().find("is no longer there as chosen (unplugged or replugged)"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(other.device().writeCount(), 0u);
}

TEST_F(Several, DevicesListsEachWithItsAnswer) {
    plug();
    sim::SimulatedOstrel& silent = plug();
    filterFrames(silent, [](std::span<const std::uint8_t>) { return false; });
    const RunResult text = run({"--timeout", "50", "devices"});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_EQ(text.out,
              "LOCATION  DEVICE            PRODUCT  FIRMWARE  MODE\n"
              "sim-1     /dev/sim-hidraw0  0x0002   1.2       01\n"
              "sim-2     /dev/sim-hidraw1  0x0002   no answer\n");
    // For scripts: what --device takes, the silent one too, and nothing else.
    EXPECT_EQ(run({"--timeout", "50", "devices", "--plain"}).out, "sim-1\nsim-2\n");
    const json list = json::parse(run({"--timeout", "50", "devices", "--json"}).out);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["location"], "sim-1");
    EXPECT_EQ(list[0]["firmware"], "1.2");
    EXPECT_EQ(list[1]["answered"], false);
    EXPECT_TRUE(list[1]["mode"].is_null());
}

TEST_F(Several, AllBacksUpEachIntoItsOwnFileAndRestoresOneFileToEvery) {
    for (int i = 0; i < 3; ++i) {
        plug().firmware().setParamByte(ADDR_DELAY, static_cast<std::uint8_t>(10 + i));
    }
    const std::filesystem::path dir = folder();
    RunResult result = run({"--all", "backup", dir.string()});
    ASSERT_EQ(result.code, 0) << result.err;
    for (int i = 0; i < 3; ++i) {
        std::ifstream file(dir / ("ostrel-sim-" + std::to_string(i + 1) + ".json"));
        const json backup = json::parse(file);
        EXPECT_EQ(backup["parameters"][2]["raw"], 10 + i);
    }
    // Grouped in location order, then the table.
    const auto one = result.out.find("== sim-1 ");
    const auto two = result.out.find("== sim-2 ");
    const auto table = result.out.find("LOCATION  RESULT");
    EXPECT_TRUE(one < two && two < table && table != std::string::npos) << result.out;
    EXPECT_EQ(run({"--all", "backup", (dir / "missing").string()}).code, 1);

    result = run({"--all", "restore", (dir / "ostrel-sim-1.json").string()});
    ASSERT_EQ(result.code, 0) << result.err;
    for (const auto& controller : m_controllers) {
        EXPECT_EQ(controller->firmware().paramByte(ADDR_DELAY), 10);
    }

    const RunResult asJson = run({"--all", "get", "0x03", "--json"});
    ASSERT_EQ(asJson.code, 0) << asJson.err;
    const json array = json::parse(asJson.out);
    ASSERT_EQ(array.size(), 3u);
    EXPECT_EQ(array[2]["location"], "sim-3");
    EXPECT_EQ(array[2]["result"][0]["raw"], 10);
    std::filesystem::remove_all(dir);
}

TEST_F(Several, AllSummaryHasTheColumnsItsCommandFills) {
    for (int i = 0; i < 3; ++i) {
        plug();
    }
    m_controllers[2]->firmware().setParamByte(ADDR_DELAY, 42);
    const std::string backup = run({"--device", "sim-1", "backup", "-"}).out;
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* table;
        const char* err = "";
    };
    // In this order: the restore makes sim-3 like the others.
    for (const Case& c : {
             Case{{"--all", "status"},
                  0,
                  "LOCATION  RESULT\nsim-1     0 ok\nsim-2     0 ok\nsim-3     0 ok\n"},
             Case{{"--all", "diff", "-"},
                  0,
                  "LOCATION  RESULT     DIFFERING\nsim-1     0 ok       0\nsim-2     0 ok       0\n"
                  "sim-3     0 differs  1\n"},
             Case{{"--all", "diff", "--exit-code", "-"},
                  6,
                  "LOCATION  RESULT     DIFFERING\nsim-1     0 ok       0\nsim-2     0 ok       0\n"
                  "sim-3     6 differs  1\n",
                  "ostrelctl: 1 of 3 controllers differs from the file; the worst exit status "
                  "is 6\n"},
             Case{{"--all", "restore", "-"},
                  0,
                  "LOCATION  RESULT  WRITTEN  VERIFIED  FAILED\n"
                  "sim-1     0 ok    0        0         0\n"
                  "sim-2     0 ok    0        0         0\n"
                  "sim-3     0 ok    1        1         0\n"},
         }) {
        const RunResult result = run(c.args, backup);
        EXPECT_EQ(result.code, c.code) << c.args[1] << result.err;
        EXPECT_TRUE(result.out.ends_with(c.table)) << result.out;
        EXPECT_EQ(result.err, c.err);
    }
    EXPECT_EQ(m_controllers[2]->firmware().paramByte(ADDR_DELAY),
              m_controllers[0]->firmware().paramByte(ADDR_DELAY));
}

// --all status --csv is one table a spreadsheet takes: one header, the location first, a
// row a controller that answered; what the others said and the summary on stderr.
TEST_F(Several, AllStatusAsCsvIsOneTable) {
    plug();
    filterFrames(plug(), [](std::span<const std::uint8_t>) { return false; });
    plug();
    const RunResult result = run({"--timeout", "50", "--all", "status", "--csv"});
    EXPECT_EQ(result.code, 4);
    std::istringstream out(result.out);
    std::vector<std::string> rows;
    for (std::string row; std::getline(out, row);) {
        rows.push_back(row);
    }
    ASSERT_EQ(rows.size(), 3u) << result.out;
    EXPECT_TRUE(rows[0].starts_with("location,time,firmware,mode,Voltage In,")) << rows[0];
    EXPECT_TRUE(rows[1].starts_with("sim-1,") && rows[2].starts_with("sim-3,")) << result.out;
    EXPECT_EQ(std::count(rows[1].begin(), rows[1].end(), ','),
              std::count(rows[0].begin(), rows[0].end(), ','));
    EXPECT_TRUE(result.err.starts_with("ostrelctl: sim-2: ")) << result.err;
    EXPECT_NE(result.err.find("LOCATION  RESULT\n"), std::string::npos) << result.err;
}

TEST_F(Several, AllEndsWithTheWorstControllersExitStatus) {
    plug();
    sim::SimulatedOstrel& lost = plug();
    sim::SimulatedOstrel& deaf = plug();
    lost.firmware().setParamByte(ADDR_DELAY, 42);
    deaf.firmware().setParamByte(ADDR_DELAY, 42);
    // sim-2 is pulled out at its first write; sim-3 takes writes and answers no read-back.
    lost.device().setWriteHook([&lost](std::span<const std::uint8_t> frame) {
        if (frame[0] == CMD_PARAM && frame[1] == PARAM_WRITE) {
            lost.device().unplug();
        } else {
            lost.firmware().receive(frame);
        }
    });
    bool written = false;
    filterFrames(deaf, [&written](std::span<const std::uint8_t> frame) {
        written = written || (frame[0] == CMD_PARAM && frame[1] == PARAM_WRITE);
        return !written;
    });
    const std::string backup = run({"--device", "sim-1", "backup", "-"}).out;
    const RunResult result = run({"--timeout", "60", "--all", "restore", "-"}, backup);
    EXPECT_EQ(result.code, 3) << result.out << result.err;
    EXPECT_NE(result.out.find("sim-1     0 ok"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("sim-2     3 lost"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("sim-3     4 timeout  1        0         1"), std::string::npos)
        << result.out;
    EXPECT_NE(result.err.find("2 of 3 controllers failed; the worst exit status is 3"),
              std::string::npos)
        << result.err;
}

TEST(SeveralOrder, WorstExitFollowsTheDocumentedOrder) {
    struct Case {
        std::vector<int> codes;
        int worst;
    };
    const Case cases[] = {
        {{0, 0}, 0},    {{0, 6}, 6},     {{6, 2}, 2},       {{2, 5}, 5},
        {{5, 1}, 1},    {{1, 130}, 130}, {{130, 4}, 4},     {{1, 4}, 4},
        {{4, 3, 0}, 3}, {{0, 99}, 3},    {{6, 0, 2, 1}, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ctl::worstExit(c.codes), c.worst) << c.codes.size();
    }
    // Every exit status has its place in the order, and --help states it.
    EXPECT_EQ(ctl::worstExitOrder().size(), ctl::exitStatuses().size());
    EXPECT_NE(ctl::allExitText().find("3, 4, 130, 1, 5, 2, 6, 0"), std::string::npos);
}

TEST(SeveralNames, LocationsBecomeSafeFileNames) {
    const std::pair<const char*, const char*> cases[] = {
        {"1-1.4.2", "1-1.4.2"}, {"Port_#0002.Hub_#0003", "Port__0002.Hub__0003"},
        {"../etc", ".._etc"},   {"..", "_."},
        {"", "unknown"},        {"/dev/hidraw3", "_dev_hidraw3"},
    };
    for (const auto& [location, name] : cases) {
        EXPECT_EQ(ctl::fileSafeLocation(location), name) << location;
    }
}

}  // namespace
