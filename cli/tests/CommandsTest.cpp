// Every command of ostrelctl on simulated controllers: what it prints, what reaches the
// wire, what the controller holds afterwards, and the exit code.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/tests/CtlFixture.h"
#include "cli/tests/TempFile.h"
#include "core/files/BackupFile.h"
#include "core/names/ParamNames.h"
#include "tests/support/TypedValues.h"
#include "tests/support/WaitFor.h"

namespace {

using nlohmann::json;

constexpr std::uint8_t ADDR_DELAY = 0x03;      // "Delay before PSU startup", 1 byte, [s]
constexpr std::uint8_t ADDR_OFF_MODE1 = 0x24;  // "Off-delay MODE 1", 2 bytes, time

TEST_F(Ctl, StatusPrintsTheWindowsTextsWithTheFactorsOfTheFirmware) {
    struct Case {
        std::uint8_t version;
        const char* caption;
        const char* voltageIn;  // raw 250
        const char* voltage5V;  // raw 2
    };
    for (const Case& c : {Case{0x1F, "Ostrel ver: 1.15 mode: 03", "28.08", "0.08"},
                          Case{0x21, "Ostrel ver: 2.1 mode: 03", "38.80", "0.08"}}) {
        SCOPED_TRACE(c.caption);
        m_controllers.clear();
        sim::SimulatedOstrel& controller = plug();
        sim::Measurements m = controller.firmware().measurements();
        m.inputVoltage = 250;
        m.rail5V = 2;
        m.temperature = -10;
        m.state = 5;
        m.mode = 3;
        m.outputFlags = 0xA5;
        controller.firmware().setMeasurements(m);
        controller.firmware().setFirmwareVersion(c.version);

        const RunResult text = run({"--simulated", "status"});
        ASSERT_EQ(text.code, 0) << text.err;
        EXPECT_NE(text.out.find(std::string(c.caption) + "\n"), std::string::npos) << text.out;
        EXPECT_NE(text.out.find(std::string("Voltage In:     ") + c.voltageIn + " [V]\n"),
                  std::string::npos)
            << text.out;
        EXPECT_NE(text.out.find("Temperature:    -10 [\u00B0C]\n"), std::string::npos);
        EXPECT_NE(text.out.find("Ostrel State:   05\n"), std::string::npos);

        const RunResult asJson = run({"status", "--json"});
        ASSERT_EQ(asJson.code, 0) << asJson.err;
        const json status = json::parse(asJson.out);
        EXPECT_EQ(status["caption"], c.caption);
        // Numbers, each with the window's text beside it.
        EXPECT_EQ(status["voltageIn"], std::stod(c.voltageIn));
        EXPECT_EQ(status["voltageInText"], c.voltageIn);
        EXPECT_EQ(status["voltage5V"], std::stod(c.voltage5V));
        EXPECT_EQ(status["outputFlags"], 0xA5);
        EXPECT_EQ(status["outputFlagsText"], "10100101");
        EXPECT_EQ(status["temperature"], -10);
        EXPECT_EQ(status["state"], 5);
        EXPECT_EQ(status["mode"], 3);

        const RunResult csv = run({"status", "--csv"});
        ASSERT_EQ(csv.code, 0);
        EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')),
                  "time,firmware,mode,Voltage In,Ignition,Voltage 3V,Voltage 5V,Voltage 12V,"
                  "Temperature,Ostrel State,Voltage flags,Status flags 1,Status flags 2,"
                  "Timer flags,Input flags,Output flags");
    }
}

TEST_F(Ctl, WatchPrintsALinePerPeriodAndCtrlCEndsItWithTheChannelClosed) {
    sim::SimulatedOstrel& controller = plug();
    std::thread interrupter([&] {
        // Three status requests: the first and two periods.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (controller.device().writeCount() < 3 && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        m_interrupted = true;
    });
    const RunResult result = run({"status", "--watch", "0.1", "--json"});
    interrupter.join();
    ASSERT_EQ(result.code, 0) << result.err;
    std::istringstream lines(result.out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_EQ(json::parse(line)["caption"], "Ostrel ver: 1.2 mode: 01");
    }
    EXPECT_GE(count, 3);
    EXPECT_EQ(controller.device().openHandles(), 0);
}

// A loose contact: --follow says the controller went and came back, and the rows resume;
// without it the watch ends with the loss.
TEST_F(Ctl, WatchWithFollowGoesOnAcrossAnUnplugAndSaysTheGap) {
    for (const bool follow : {true, false}) {
        m_controllers.clear();
        m_interrupted = false;
        sim::SimulatedOstrel& controller = plug();
        auto waitForWrites = [&](std::size_t count) {
            waitFor([&] { return controller.device().writeCount() >= count; });
        };
        std::thread plugger([&] {
            waitForWrites(2);
            controller.unplug();
            if (follow) {
                controller.replug();
                waitForWrites(2);  // the new device's first status and one period
                m_interrupted = true;
            }
        });
        std::vector<std::string> args{"status", "--watch", "0.1", "--csv"};
        if (follow) {
            args.push_back("--follow");
        }
        const RunResult result = run(args);
        plugger.join();
        const auto rows = std::count(result.out.begin(), result.out.end(), '\n') - 1;
        const bool lostSaid =
            result.err.find("the controller at sim-1 was lost at ") != std::string::npos;
        const bool backSaid =
            result.err.find("the controller at sim-1 is back at ") != std::string::npos;
        if (follow) {
            EXPECT_EQ(result.code, 0) << result.err;
            EXPECT_GE(rows, 3) << result.out;  // before the drop and after it
            EXPECT_TRUE(lostSaid && backSaid) << result.err;
            EXPECT_LT(result.err.find(" was lost at "), result.err.find(" is back at "));
        } else {
            EXPECT_EQ(result.code, 3) << result.err;
            EXPECT_FALSE(lostSaid || backSaid) << result.err;
        }
        EXPECT_EQ(controller.device().openHandles(), 0);
    }
}

TEST_F(Ctl, FirmwareTwoDecodesVoltagesWithTheSwitchedFactorsFromTheFirstValueOn) {
    sim::SimulatedOstrel& controller = plug();
    controller.firmware().setFirmwareVersion(0x20);
    const RunResult result = run({"get", "--json", "Ignition HIGH limit", "max-limit-for-12v"});
    ASSERT_EQ(result.code, 0) << result.err;
    const json values = json::parse(result.out);
    // Raw 107 and 172: 16.61 V and 20.04 V with the 2.x factors (12.02 V and 13.18 V with 1.x).
    EXPECT_EQ(values[0]["raw"], 107);
    EXPECT_EQ(values[0]["text"], "16.61");
    EXPECT_EQ(values[1]["text"], "20.04");
    // One status request first, then the reads.
    EXPECT_EQ(frames(controller),
              (std::vector<Bytes>{{0x81}, {0xA4, 0xA1, 0x00, 0x01}, {0xA4, 0xA1, 0x08, 0x01}}));
}

TEST_F(Ctl, GetPrintsEachValueWithItsUnit) {
    plug();
    const RunResult result = run({"get", "0x1d", "OFF-DELAY-MODE-1", "thump", "0xff"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out,
              "Minimum temperature: -40 [\u00B0C]\n"
              "Off-delay MODE 1: 00:01:00 [hh:mm:ss]\n"
              "THUMP Timeout: 1000 [ms]\n"
              "Reset to factory defaults: -\n");
    const RunResult all = run({"get", "--all", "--json"});
    ASSERT_EQ(all.code, 0);
    EXPECT_EQ(json::parse(all.out).size(), 37u);
}

TEST_F(Ctl, SetWritesReadsBackAndSaysWhatTheControllerHolds) {
    sim::SimulatedOstrel& controller = plug();
    const RunResult result = run({"set", "delay-before-psu-startup", "7"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "Delay before PSU startup: 7 [s] (written and read back)\n");
    EXPECT_EQ(frames(controller),
              (std::vector<Bytes>{
                  {0x81}, {0xA4, 0xA0, ADDR_DELAY, 0x01, 7, 0}, {0xA4, 0xA1, ADDR_DELAY, 0x01}}));

    ASSERT_EQ(run({"set", "Minimum temperature", "-20"}).code, 0);
    EXPECT_EQ(controller.firmware().paramByte(0x1D), 0xEC);
    ASSERT_EQ(run({"set", "off-delay-mode-1", "17:59:59"}).code, 0);
    EXPECT_EQ(controller.firmware().paramByte(ADDR_OFF_MODE1), 0xFD);
    EXPECT_EQ(controller.firmware().paramByte(ADDR_OFF_MODE1 + 1), 0x1F);
}

// What a typed value becomes: refused (exit 1, nothing written, before the controller is
// opened when no firmware takes it), or stored as the codec rounds it, saying so when the
// stored value differs. The window's Send takes the same table.
TEST_F(Ctl, ATypedValueIsTakenOnlyWhenItIsWhollyANumberTheRowHolds) {
    for (const typed::TypedValue& c : typed::TYPED_VALUES) {
        char address[8];
        std::snprintf(address, sizeof address, "0x%02x", c.address);
        const std::string what = std::string(address) + " " + c.text;
        m_controllers.clear();
        sim::SimulatedOstrel& controller = plug();
        controller.firmware().setFirmwareVersion(c.version);
        const ParamTable table;
        const ParamDef& row = table.row(table.findOffered(c.address));
        auto held = [&] {
            return ctl::rawValue(row, controller.firmware().paramByte(c.address),
                                 controller.firmware().paramByte(c.address + 1));
        };
        const int before = held();
        const RunResult result = run({"set", address, c.text});
        const int after = held();
        if (c.outcome == typed::Stored) {
            EXPECT_EQ(result.code, 0) << what << ": " << result.err;
            EXPECT_EQ(after, c.raw) << what;
            EXPECT_NE(result.out.find(c.message), std::string::npos) << what << ": " << result.out;
            EXPECT_EQ(result.out.find("stored as") == std::string::npos, *c.message == 0) << what;
            continue;
        }
        EXPECT_EQ(result.code, 1) << what;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << what << ": " << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(after, before) << what;
        for (const Bytes& frame : controller.device().writes()) {
            EXPECT_FALSE(isParamWrite(frame)) << what;
        }
        EXPECT_EQ(controller.device().writeCount() == 0, c.outcome == typed::RefusedOnEvery)
            << what;
    }
}

TEST_F(Ctl, AValueTheControllerDoesNotKeepIsExitFour) {
    sim::SimulatedOstrel& controller = plug();
    filterFrames(controller, [](auto frame) { return !isParamWrite(frame); });
    const RunResult result = run({"set", "delay-before-psu-startup", "7"});
    EXPECT_EQ(result.code, 4);
    EXPECT_NE(result.err.find("written 7 [s], the controller holds 5 [s]"), std::string::npos)
        << result.err;
}

TEST_F(Ctl, AControllerThatStopsAnsweringIsExitFourNamingTheParameter) {
    sim::SimulatedOstrel& controller = plug();
    filterFrames(controller, [](auto frame) { return frame[0] == CMD_STATUS; });
    const RunResult result = run({"--timeout", "150", "get", "thump-timeout"});
    EXPECT_EQ(result.code, 4);
    EXPECT_NE(result.err.find("to the read of \"THUMP Timeout\" within 150 ms"), std::string::npos)
        << result.err;
    // The read went out a bounded number of times.
    const auto sent = frames(controller);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), Bytes{0xA4, 0xA1, 0x1A, 0x02}), 3);

    filterFrames(controller, [](auto) { return false; });
    EXPECT_EQ(run({"--timeout", "60", "backup", "-"}).code, 4);
}

TEST_F(Ctl, ReportsOfOtherKindsAndAddressesPassByWhileAReadWaits) {
    sim::SimulatedOstrel& controller = plug();
    // Another program's traffic arrives before each answer.
    controller.device().setWriteHook([&](std::span<const std::uint8_t> frame) {
        controller.firmware().sendHistory(5);
        controller.firmware().receive(statusRequestFrame().view());
        controller.firmware().receive(paramReadFrame(0x00, 1).view());
        controller.firmware().receive(frame);
    });
    const RunResult result = run({"get", "delay-before-psu-startup"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, "Delay before PSU startup: 5 [s]\n");
}

TEST_F(Ctl, NoControllerOrSeveralIsExitTwo) {
    RunResult result = run({"get", "0x03"});
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("no controller found"), std::string::npos);
    plug();
    plug();
    result = run({"status"});
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find("2 controllers found; choose one with --device LOCATION, or give "
                              "--all"),
              std::string::npos);
}

TEST_F(Ctl, ListNeedsNoController) {
    const RunResult result = run({"list", "--json"});
    ASSERT_EQ(result.code, 0);
    const json list = json::parse(result.out);
    ASSERT_EQ(list.size(), 38u);
    EXPECT_EQ(list[0]["name"], "Ignition HIGH limit");
    EXPECT_EQ(list[0]["shortName"], "ignition-high-limit");
    EXPECT_EQ(list[21]["unit"], "[\u00B0C]");
    EXPECT_EQ(list[37]["address"], 0xFF);
    EXPECT_EQ(list[37]["unit"], "");
    const std::string text = run({"list"}).out;
    EXPECT_NE(text.find("  3 0x03    1 [s]         Delay before PSU startup "
                        "(delay-before-psu-startup)\n"),
              std::string::npos);
    EXPECT_NE(text.find(" 26 0x1C    1 [\u00B0C]        Maximum temperature "), std::string::npos);
    // Every name starts in the same column on a terminal: counted in characters, not bytes.
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t column = 0;
        std::size_t at = 0;
        for (; at < line.size() && (column < 26 || (line[at] & 0xC0) == 0x80); ++at) {
            column += (line[at] & 0xC0) != 0x80 ? 1 : 0;
        }
        EXPECT_TRUE(at < line.size() && line[at] != ' ' && line[at - 1] == ' ') << line;
    }
}

TEST_F(Ctl, FactoryResetNeedsYesAndSendsTheResetFrame) {
    sim::SimulatedOstrel& controller = plug();
    EXPECT_EQ(run({"factory-reset"}).code, 1);
    EXPECT_EQ(controller.device().writeCount(), 0u);
    controller.firmware().setParamByte(ADDR_DELAY, 9);
    ASSERT_EQ(run({"factory-reset", "--yes"}).code, 0);
    EXPECT_EQ(frames(controller),
              (std::vector<Bytes>{{0x81}, {0xA4, 0xA0, 0xFF, 0x01, 0xFF, 0x00}}));
    EXPECT_EQ(controller.firmware().paramByte(ADDR_DELAY), 5);
}

TEST_F(Ctl, BackupRecordsFirmwareModeAndEveryValue) {
    plug();
    const RunResult console = run({"backup", "-"});
    EXPECT_TRUE(json::parse(console.out).is_object());
    EXPECT_NE(console.err.find(" saved to standard output in "), std::string::npos) << console.err;
    TempFile file("ostrelctl-backup");
    const RunResult result = run({"backup", file.path()});
    ASSERT_EQ(result.code, 0) << result.err;
    const json backup = json::parse(file.read());
    EXPECT_EQ(backup["format"], "ostrel-backup");
    EXPECT_EQ(backup["firmware"]["version"], "1.2");
    EXPECT_EQ(backup["mode"], 1);
    EXPECT_TRUE(backup["takenAt"].is_string());
    EXPECT_TRUE(backup["durationMs"].is_number_integer());
    const json& parameters = backup["parameters"];
    ASSERT_EQ(parameters.size(), 37u);
    const json expected = {{"row", 33},   {"address", 0x26},    {"name", "Hard-off MODE 1"},
                           {"raw", 3600}, {"text", "01:00:00"}, {"unit", "[hh:mm:ss]"}};
    EXPECT_EQ(parameters[24], expected);
    EXPECT_EQ(parameters[22]["unit"], "[\u00B0C]");
    EXPECT_EQ(parameters[22]["text"], "-40");
}

// A unit's settings, changed on the controller afterwards.
class Restore : public Ctl {
protected:
    void SetUp() override {
        m_controller = &plug();
        ASSERT_EQ(run({"backup", m_file.path()}).code, 0);
        m_controller->firmware().setParamByte(ADDR_DELAY, 9);
        m_controller->firmware().setParamByte(ADDR_OFF_MODE1 + 1, 0);
        m_controller->firmware().setParamByte(0x1C, 70);
        m_controller->device().clearWrites();
    }

    std::vector<Bytes> paramWrites() {
        std::vector<Bytes> writes;
        for (const Bytes& frame : frames(*m_controller)) {
            if (isParamWrite(frame)) {
                writes.push_back(frame);
            }
        }
        return writes;
    }

    sim::SimulatedOstrel* m_controller = nullptr;
    TempFile m_file{"ostrelctl-restore"};
};

TEST_F(Restore, WritesOnlyWhatDiffersAndVerifiesEach) {
    const RunResult diff = run({"diff", m_file.path()});
    ASSERT_EQ(diff.code, 0) << diff.err;
    const RunResult gate = run({"diff", "--exit-code", m_file.path()});
    EXPECT_EQ(gate.code, 6);
    EXPECT_EQ(gate.err, "ostrelctl: 3 of 37 parameters differ from the file\n");
    EXPECT_EQ(diff.out,
              "Delay before PSU startup: file 5 [s], controller 9 [s]\n"
              "Maximum temperature: file 85 [\u00B0C], controller 70 [\u00B0C]\n"
              "Off-delay MODE 1: file 00:01:00 [hh:mm:ss], controller 00:00:00 [hh:mm:ss]\n"
              "3 of 37 parameters differ\n");
    EXPECT_TRUE(paramWrites().empty());

    const RunResult dry = run({"restore", "--dry-run", m_file.path()});
    ASSERT_EQ(dry.code, 0);
    EXPECT_TRUE(paramWrites().empty());

    m_controller->device().clearWrites();
    const RunResult result = run({"restore", m_file.path()});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("Restore: 34 unchanged, 3 written and verified, 0 failed\n"),
              std::string::npos)
        << result.out;
    const std::vector<Bytes> sent = frames(*m_controller);
    // A status request, 37 reads, then each write followed by the read of its address.
    ASSERT_EQ(sent.size(), 1u + 37u + 6u);
    const std::vector<Bytes> tail(sent.end() - 6, sent.end());
    EXPECT_EQ(tail, (std::vector<Bytes>{{0xA4, 0xA0, ADDR_DELAY, 1, 5, 0},
                                        {0xA4, 0xA1, ADDR_DELAY, 1},
                                        {0xA4, 0xA0, 0x1C, 1, 85, 0},
                                        {0xA4, 0xA1, 0x1C, 1},
                                        {0xA4, 0xA0, ADDR_OFF_MODE1, 2, 0, 60},
                                        {0xA4, 0xA1, ADDR_OFF_MODE1, 2}}));
    EXPECT_EQ(run({"diff", m_file.path()}).out, "0 of 37 parameters differ\n");
    EXPECT_EQ(run({"diff", "--exit-code", m_file.path()}).code, 0);
}

TEST_F(Restore, AcrossFirmwareFamiliesOnlyConvertWritesAndDiffStillTellsTheDifference) {
    m_controller->firmware().setFirmwareVersion(0x21);
    RunResult result = run({"restore", m_file.path()});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("warning: the file comes from firmware 1.2 and the controller "
                              "runs 2.1"),
              std::string::npos);
    // 12.02 V is raw 107 with the 1.x factor; the nearest with the 2.x one is raw 77.
    EXPECT_NE(result.err.find("Ignition HIGH limit: file 12.02 [V], nearest on this controller "
                              "11.95 [V]\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("10 values of firmware 1.2 cannot be held exactly by this "
                              "controller (firmware 2.1); nothing was written; --convert"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(paramWrites().empty());

    result = run({"restore", "--convert", m_file.path()});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.out.find("converted Ignition HIGH limit: file 12.02 [V], nearest on this "
                              "controller 11.95 [V]\n"),
              std::string::npos);
    EXPECT_EQ(m_controller->firmware().paramByte(0x00), 77);
    EXPECT_EQ(m_controller->firmware().paramByte(ADDR_DELAY), 5);
    // The controller holds the nearest values, not the file's: diff says so.
    result = run({"diff", "--exit-code", m_file.path()});
    EXPECT_EQ(result.code, 6);
    EXPECT_NE(result.out.find("Ignition HIGH limit: file 12.02 [V], controller 11.95 [V]\n"),
              std::string::npos);
    EXPECT_NE(result.out.find("10 of 37 parameters differ\n"), std::string::npos);

    // The other way round a value beyond the 1.x range is listed, never limited silently.
    m_controller->firmware().setParamByte(0x00, 255);
    ASSERT_EQ(run({"backup", m_file.path()}).code, 0);
    m_controller->firmware().setFirmwareVersion(0x12);
    m_controller->device().clearWrites();
    result = run({"restore", m_file.path()});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("Ignition HIGH limit: file 39.58 [V], nearest on this controller "
                              "28.64 [V]\n"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(paramWrites().empty());
}

TEST_F(Restore, UnplugMidwayIsExitThreeNamingWhatWasAndWasNotWritten) {
    int writes = 0;
    m_controller->device().setWriteHook([&](std::span<const std::uint8_t> frame) {
        m_controller->firmware().receive(frame);
        if (isParamWrite(frame) && ++writes == 2) {
            m_controller->unplug();
        }
    });
    const RunResult result = run({"restore", m_file.path()});
    EXPECT_EQ(result.code, 3);
    EXPECT_NE(result.err.find("the controller was lost"), std::string::npos);
    EXPECT_NE(result.out.find("Written and verified: Delay before PSU startup\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Failed: Maximum temperature (written, not read back)\n"),
              std::string::npos);
    EXPECT_NE(result.out.find("Not written: Off-delay MODE 1\n"), std::string::npos);
    EXPECT_TRUE(
        result.out.ends_with("Run the same restore again to write the 2 parameters "
                             "left\n"))
        << result.out;
}

TEST_F(Restore, AFileWithOneBadEntryWritesNothingAtAll) {
    const json good = json::parse(m_file.read());
    struct Case {
        const char* what;
        std::function<void(json&)> spoil;
        const char* message;
    };
    const Case cases[] = {
        {"text and raw disagree", [](json& f) { f["parameters"][4]["text"] = "1e999"; },
         "parameters[4] (Min. VIN voltage while all rails ON): \"text\" \"1e999\" and \"raw\" "
         "63 (7.07 [V]) disagree"},
        {"text alone, out of range",
         [](json& f) {
             f["parameters"][4]["text"] = "1e999";
             f["parameters"][4].erase("raw");
         },
         "parameters[4] (Min. VIN voltage while all rails ON): Min. VIN voltage while all rails "
         "ON takes 0.00 to 28.64 [V] on firmware 1.x, 0.00 to 39.58 [V] on 2.x; \"1e999\" is "
         "outside"},
        {"text alone, out of this controller's range",
         [](json& f) {
             f["parameters"][0]["text"] = "30";
             f["parameters"][0].erase("raw");
         },
         "Ignition HIGH limit takes 0.00 to 28.64 [V]; \"30\" is outside"},
        {"time alone, beyond the codec",
         [](json& f) {
             f["parameters"][23]["text"] = "18:00:00";
             f["parameters"][23].erase("raw");
         },
         "parameters[23] (Off-delay MODE 1): Off-delay MODE 1 takes 00:00:00 to 17:59:59"},
        {"neither raw nor text",
         [](json& f) {
             f["parameters"][3].erase("text");
             f["parameters"][3].erase("raw");
         },
         "parameters[3] (Min. VIN voltage at PSU startup): gives neither \"raw\" nor \"text\""},
        {"raw beyond one byte", [](json& f) { f["parameters"][3]["raw"] = 256; },
         "parameters[3] (Min. VIN voltage at PSU startup): \"raw\" must lie between 0 and 255"},
        {"unknown name", [](json& f) { f["parameters"][2]["name"] = "Ignition Debounce"; },
         "parameters[2] (Ignition Debounce): no such parameter"},
        {"duplicate", [](json& f) { f["parameters"][36] = f["parameters"][1]; },
         "parameters[36] (Ignition LOW limit): the same parameter as parameters[1]"},
        {"wrong type", [](json& f) { f["parameters"][0]["text"] = 12.5; },
         "\"text\" must be a text"},
        {"huge number", [](json& f) { f["parameters"][0]["raw"] = 1e300; },
         "\"raw\" must be a whole number"},
        {"huge integer", [](json& f) { f["parameters"][0]["row"] = 18446744073709551615ull; },
         "\"row\" must lie between 0 and 46"},
        {"row of another", [](json& f) { f["parameters"][0]["row"] = 1; },
         "row 1 is not this parameter's (0)"},
        {"address of another", [](json& f) { f["parameters"][0]["address"] = 2; },
         "address 2 is not this parameter's (0)"},
        {"the action", [](json& f) { f["parameters"][0]["name"] = "Reset to factory defaults"; },
         "an action, not a value"},
        {"entry not an object", [](json& f) { f["parameters"][0] = "x"; }, "must be an object"},
        {"no parameters", [](json& f) { f.erase("parameters"); }, "\"parameters\" must be a list"},
        {"no firmware", [](json& f) { f.erase("firmware"); }, "\"firmware\" must be an object"},
        {"firmware out of range", [](json& f) { f["firmware"]["major"] = 16; },
         "\"major\" must lie between 0 and 15"},
        {"other format", [](json& f) { f["format"] = "x"; }, "not a backup file"},
        {"format version", [](json& f) { f["formatVersion"] = 2; }, "format version 2"},
        {"not an object", [](json& f) { f = json::array(); }, "the top level must be an object"},
    };
    for (const Case& c : cases) {
        json spoiled = good;
        c.spoil(spoiled);
        m_file.write(spoiled.dump());
        const RunResult result = run({"restore", m_file.path()});
        EXPECT_EQ(result.code, 1) << c.what;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.what << ": " << result.err;
        EXPECT_NE(result.err.find("nothing was written"), std::string::npos) << c.what;
    }
    const std::string deep = std::string(400000, '[') + std::string(400000, ']');
    // One line each, in words rather than the JSON library's.
    for (const auto& [text, why] : std::vector<std::pair<std::string, std::string>>{
             {"", "it is empty"},
             {" \n", "it is empty"},
             {"{", "not JSON (it fails at byte 2)"},
             {"not json", "not JSON (it fails at byte 2)"},
             {"{\"format\": \"ostrel-backup\",}", "not JSON (it fails at byte 28)"},
             {"[1e99999]", "a number too large for JSON"},
             {"\xFF\xFE{}", "not JSON (it fails at byte 1)"},
             {deep, "the top level must be an object"}}) {
        m_file.write(text);
        const RunResult result = run({"diff", m_file.path()});
        EXPECT_EQ(result.code, 1) << text.substr(0, 40);
        EXPECT_TRUE(
            result.err.starts_with("ostrelctl: " + m_file.path() + ": not a backup file: " + why))
            << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    EXPECT_TRUE(paramWrites().empty());
}

TEST_F(Restore, FilesAreRefusedBySizeBeforeTheyAreRead) {
    std::filesystem::resize_file(m_file.path(), 1ull << 30);  // 1 GB, sparse
    RunResult result = run({"restore", m_file.path()});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("too large for a backup file"), std::string::npos) << result.err;
    // Standard input has no size: it is read up to the limit and no further.
    result = run({"diff", "-"}, std::string((1 << 20) + 1, ' '));
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("too large"), std::string::npos);
    for (const std::string& path :
         {std::filesystem::temp_directory_path().string(), m_file.path() + ".absent"}) {
        EXPECT_EQ(run({"restore", path}).code, 1) << path;
    }
    EXPECT_TRUE(m_controller->device().writes().empty());
}

TEST_F(Ctl, BadArgumentsAreExitOneWithAMessage) {
    plug();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"--timeout", "5", "status"},
        {"--timeout", "x", "status"},
        {"status", "--watch", "-1"},
        {"status", "--json", "--csv"},
        {"get"},
        {"get", "--all", "0x03"},
        {"get", "temperature"},
        {"get", "0x02"},
        {"set", "0x03"},
        {"set", "reset-to-factory-defaults", "1"},
        {"backup"},
        {"restore", "a", "b"},
        {"set", "min-temp", "-hot"},
        {"set", "min-temp", "-5", "6"},
        {"diff", "--exit-code"},
        {"backup", ""},
        {"metrics", "--output", ""},
    };
    for (const auto& args : cases) {
        const RunResult result = run(args);
        EXPECT_EQ(result.code, 1) << ::testing::PrintToString(args);
        EXPECT_TRUE(result.err.starts_with("ostrelctl: ")) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.find(": an empty file name") != std::string::npos,
                  !args.empty() && args.back().empty())
            << result.err;
    }
    EXPECT_EQ(m_controllers.front()->device().writeCount(), 0u);
}

TEST_F(Ctl, OutputThatCannotBeWrittenIsAFailureThatSaysSo) {
    plug();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"get", "0x0D"}, {"backup", "-"}, {"list"}, {"--help"}}) {
        std::ostream broken(nullptr);
        const RunResult result = run(args, "", &broken);
        EXPECT_EQ(result.code, 1) << args[0];
        EXPECT_EQ(result.err, "ostrelctl: the standard output cannot be written\n") << args[0];
    }
}

TEST_F(Ctl, HelpAndVersionGoToStandardOutput) {
    const RunResult help = run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("6    the file and the controller differ (diff --exit-code)"),
              std::string::npos);
    const RunResult version = run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "ostrelctl " OSTREL_VERSION "\n");
}

}  // namespace
