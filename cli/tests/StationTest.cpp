// The station on simulated controllers that a plug plan plugs in and pulls out: every port
// programmed on its own thread, a unit pulled out part way failed and programmed afresh on
// its return, units it must not write to left unwritten, and a log that holds exactly the
// units reported.
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/tests/CtlFixture.h"
#include "cli/tests/TempFile.h"
#include "core/context/ExitStatus.h"
#include "core/files/Sha256.h"
#include "device/ControllerWatch.h"
#include "services/station/AppendLog.h"
#include "services/station/StationLines.h"
#include "sim/PlugPlan.h"
#include "tests/support/WaitFor.h"

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#endif

namespace {

using namespace std::chrono_literals;
using json = nlohmann::ordered_json;

constexpr std::uint8_t ADDR_DELAY = 0x03;  // "Delay before PSU startup", the profile's first change

std::size_t paramWrites(sim::SimulatedOstrel& controller) {
    std::size_t count = 0;
    for (const Bytes& frame : controller.device().writes()) {
        count += isParamWrite(frame) ? 1 : 0;
    }
    return count;
}

// What the station has printed so far, readable while it runs.
class SharedText final : public std::streambuf {
public:
    std::string text() const {
        std::lock_guard lock(m_mutex);
        return m_text;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_text.clear();
        m_closed = false;
    }
    // As a pipe whose reader has gone: every write from now on fails.
    void close() {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    // Whole lines only: the station may be part way through writing the next one.
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        const std::string all = text();
        std::istringstream stream(all.substr(0, all.rfind('\n') + 1));
        for (std::string line; std::getline(stream, line);) {
            result.push_back(line);
        }
        return result;
    }

protected:
    int_type overflow(int_type c) override {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            m_text += traits_type::to_char_type(c);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize n) override {
        std::lock_guard lock(m_mutex);
        if (m_closed) {
            return 0;
        }
        m_text.append(text, static_cast<std::size_t>(n));
        return n;
    }

private:
    mutable std::mutex m_mutex;
    std::string m_text;
    bool m_closed = false;
};

class Station : public Ctl {
protected:
    void TearDown() override {
        if (m_thread.joinable()) {
            stop();
        }
        Ctl::TearDown();
    }

    // A profile taken from a unit of firmware `version` whose delay, 0x1C and off-delay
    // differ from the factory's; the unit is pulled out afterwards.
    void takeProfile(int version) {
        sim::SimulatedOstrel& source = plug();
        source.firmware().setFirmwareVersion(static_cast<std::uint8_t>(version));
        source.firmware().setParamByte(ADDR_DELAY, 9);
        source.firmware().setParamByte(0x1C, 70);
        source.firmware().setParamByte(0x25, 0);
        ASSERT_EQ(run({"backup", m_profile.path()}).code, 0);
        source.unplug();
    }

    // Carries out the plan's steps up to `at` (the station is not started yet at 0).
    void plan(const std::string& text, std::chrono::milliseconds at = 0ms) {
        std::string error;
        auto steps = sim::parsePlugPlan(text, error);
        ASSERT_TRUE(steps) << error;
        m_runner = std::make_unique<sim::PlugPlanRunner>(m_platform, std::move(*steps));
        m_runner->applyUntil(at);
    }

    // Starts the station and waits until it listens for controllers.
    void start(const std::vector<std::string>& args, const std::string& input = "") {
        m_ended = false;
        m_thread = std::thread([this, args, input] {
            m_result = run(args, input, &m_out);
            m_ended = true;
        });
        ASSERT_TRUE(waitFor([&] { return m_shared.text().starts_with("Programming each"); }, 20s))
            << "the station did not start";
    }

    // The unit lines the station printed, once there are `count` of them.
    std::vector<std::string> waitForUnits(std::size_t count) {
        std::vector<std::string> units;
        waitFor(
            [&] {
                units = m_shared.lines();
                if (!units.empty()) {
                    units.erase(units.begin());
                }
                return units.size() >= count;
            },
            20s);
        return units;
    }

    // Ctrl-C; what the station printed after its unit lines, and its exit status.
    RunResult stop() {
        m_interrupted = true;
        m_thread.join();
        m_result.out = m_shared.text();
        return m_result;
    }

    std::vector<json> logLines() const {
        std::vector<json> lines;
        std::istringstream stream(m_log.read());
        for (std::string line; std::getline(stream, line);) {
            lines.push_back(json::parse(line));
        }
        return lines;
    }

    // The log's unit lines, without its start and end lines.
    std::vector<json> unitLines() const {
        std::vector<json> units = logLines();
        std::erase_if(units, [](const json& line) { return line["event"] != "unit"; });
        return units;
    }

    TempFile m_profile{"ostrelctl-station-profile"};
    TempFile m_log{"ostrelctl-station-log"};
    SharedText m_shared;
    std::ostream m_out{&m_shared};
    std::thread m_thread;
    RunResult m_result;
    std::atomic<bool> m_ended{false};
    std::unique_ptr<sim::PlugPlanRunner> m_runner;  // before the platform goes
};

TEST_F(Station, ProgramsEachPortAndAUnitPulledOutPartWayAgainWhenItReturns) {
    takeProfile(0x12);
    m_log.write("a line from before\n");
    plan("plug:1@0,plug:2@0,plug:3@0,unplug:2@1,plug:2@2");
    // The second unit's first write never arrives: it is pulled out while the station waits.
    std::atomic<bool> writing{false};
    filterFrames(*m_runner->controller(2), [&](std::span<const std::uint8_t> frame) {
        writing = writing || isParamWrite(frame);
        return !isParamWrite(frame);
    });
    start({"--timeout", "5000", "station", "--include-attached", "--log", m_log.path(),
           m_profile.path()});
    ASSERT_TRUE(waitFor([&] { return writing.load(); }, 20s));
    m_runner->applyUntil(1000ms);
    ASSERT_EQ(waitForUnits(3).size(), 3u);
    m_runner->applyUntil(2000ms);
    ASSERT_EQ(waitForUnits(4).size(), 4u);
    const RunResult result = stop();
    // sim-2 failed, then passed: every port's last unit passed.
    EXPECT_EQ(result.code, 0) << result.err;

    const std::vector<std::string> lines = m_shared.lines();
    ASSERT_EQ(lines.size(), 6u) << result.out;
    EXPECT_EQ(lines.back(), "4 units: 3 PASS, 1 FAIL; the last unit on each of 3 ports PASS");
    const std::regex pass(
        "(sim-[123])  PASS  firmware 1\\.2, 3 written, 37 verified, \\d+\\.\\d s");
    const std::string lost =
        "sim-2  FAIL  lost during the write of Delay before PSU startup: plug it in again (1 "
        "written)";
    std::vector<std::string> passed;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        std::smatch match;
        if (std::regex_match(lines[i], match, pass)) {
            passed.push_back(match[1]);
        } else {
            EXPECT_EQ(lines[i], lost);
        }
    }
    std::sort(passed.begin(), passed.begin() + 2);
    EXPECT_EQ(passed, (std::vector<std::string>{"sim-1", "sim-3", "sim-2"}));
    for (const int unit : {1, 2, 3}) {
        EXPECT_EQ(m_runner->controller(unit)->firmware().paramByte(ADDR_DELAY), 9) << unit;
        EXPECT_EQ(m_runner->controller(unit)->firmware().paramByte(0x1C), 70) << unit;
    }

    // The log: what was there, then one line a unit in the order they were reported.
    ASSERT_TRUE(m_log.read().starts_with("a line from before\n"));
    m_log.write(m_log.read().substr(m_log.read().find('\n') + 1));
    const std::vector<json> log = unitLines();
    ASSERT_EQ(log.size(), 4u);
    const std::string sha = ctl::sha256Hex(m_profile.read());
    for (std::size_t i = 0; i < log.size(); ++i) {
        const json& unit = log[i];
        std::string keys;
        for (const auto& item : unit.items()) {
            keys += item.key() + " ";
        }
        EXPECT_EQ(keys,
                  "seq time event station host profile profileSha256 location serial product "
                  "firmware label result written verified failed failedParameters failedReasons "
                  "reason seconds readbackSha256 ");
        EXPECT_TRUE(lines[i + 1].starts_with(unit["location"].get<std::string>() + "  " +
                                             unit["result"].get<std::string>() + "  "))
            << lines[i + 1];
        EXPECT_TRUE(
            std::regex_match(unit["time"].get<std::string>(),
                             std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z")));
        EXPECT_EQ(unit["firmware"], "1.2");
        EXPECT_EQ(unit["product"], "0x0002");
        EXPECT_EQ(unit["profileSha256"], sha);
        const bool ok = unit["result"] == "PASS";
        EXPECT_EQ(unit["verified"], ok ? 37 : 0);
        EXPECT_EQ(unit["written"], ok ? 3 : 1);
        EXPECT_EQ(unit["reason"], ok ? "" : lost.substr(lost.find("lost")));
        EXPECT_EQ(unit["failedParameters"].size(), unit["failed"].get<std::size_t>());
        EXPECT_EQ(unit["failedReasons"].size(), unit["failed"].get<std::size_t>());
        EXPECT_EQ(unit["failed"], ok ? 0 : 3);
        EXPECT_EQ(unit["readbackSha256"].is_string(), ok);
        EXPECT_EQ(unit["seq"], i + 2);  // after the start line
    }
#ifndef _WIN32
    struct stat status {};
    ASSERT_EQ(::stat(m_log.path().c_str(), &status), 0);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(status.st_mode & 0777, 0644u & ~mask);
#endif
}

// Arrivals told by the platform, or found by the watch's searches every 250 ms where it
// tells nothing (Wine).
class StationWatch : public Station, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Notified, StationWatch, ::testing::Values(true));
INSTANTIATE_TEST_SUITE_P(Polled, StationWatch, ::testing::Values(false));

// A profile of the other firmware family without --convert: every unit that arrives fails
// with what it cannot hold, nothing written; the unit attached before the start is left alone.
TEST_P(StationWatch, OtherFamilyWithoutConvertFailsEveryArrivalAndLeavesTheAttachedAlone) {
    m_platform.setNotifications(GetParam());
    takeProfile(0x21);
    plan("plug:1@0,plug:2@1,plug:3@1");
    start({"station", m_profile.path()});
    m_runner->applyUntil(1000ms);
    ASSERT_EQ(waitForUnits(2).size(), 2u);
    const RunResult result = stop();
    EXPECT_EQ(result.code, 1);
    std::vector<std::string> lines = m_shared.lines();
    ASSERT_EQ(lines.size(), 4u) << result.out;
    std::sort(lines.begin() + 1, lines.end() - 1);
    for (const int unit : {2, 3}) {
        EXPECT_TRUE(lines[static_cast<std::size_t>(unit - 1)].starts_with(
            "sim-" + std::to_string(unit) +
            "  FAIL  firmware 1.2 cannot hold exactly Ignition HIGH limit, "))
            << lines[static_cast<std::size_t>(unit - 1)];
        EXPECT_TRUE(lines[static_cast<std::size_t>(unit - 1)].ends_with(
            "; nothing written (--convert writes the nearest values)"));
    }
    EXPECT_EQ(lines.back(), "2 units: 0 PASS, 2 FAIL; the last unit on 2 of 2 ports FAIL");
    EXPECT_NE(result.err.find("1 controller already attached is left alone"), std::string::npos);
    for (const int unit : {1, 2, 3}) {
        EXPECT_EQ(paramWrites(*m_runner->controller(unit)), 0u) << unit;
    }
    EXPECT_TRUE(m_runner->controller(1)->device().writes().empty());
}

// Devices that only look like a controller: each said once an arrival on its own line, nothing
// sent to it, neither logged nor counted, while the controller beside them passes; one there
// before the start, and a HID device that looks like none, are not said at all.
TEST_P(StationWatch, DevicesThatOnlyLookLikeAControllerAreSaidOnceAndLeftAlone) {
    m_platform.setNotifications(GetParam());
    takeProfile(0x12);
    const auto lookalike = [](const char* location, auto change) {
        platform::SimIdentity identity =
            sim::SimulatedOstrel::identity(OSTREL_PRODUCT_ID, {}, location);
        change(identity);
        return identity;
    };
    struct Case {
        platform::SimIdentity identity;
        const char* why;  // null: not said
    };
    const Case cases[] = {
        {lookalike("1-1", [](auto& id) { id.productId = 0x1234; }), "another product id (0x1234)"},
        {lookalike("1-2", [](auto& id) { id.manufacturer = u"TAVREN\nINK"; }),
         "other names (\"TAVREN\\x0aINK\", \"Ostrel PSU\")"},
        {lookalike("1-3", [](auto& id) { id.inputReportByteLength = 65; }),
         "other report sizes (65 in, 24 out; a controller's are 24)"},
        {lookalike("1-4", [](auto& id) { id.vendorId = 0x1209; }), "another vendor id (0x1209)"},
        {lookalike("1-5",
                   [](auto& id) {
                       id.vendorId = 0x046D;
                       id.product = u"USB Optical Mouse";
                   }),
         nullptr},
    };
    std::vector<std::shared_ptr<platform::SimDevice>> devices{
        m_platform.addDevice(lookalike("1-6", [](auto& id) { id.productId = 0x1234; }))};
    plan("plug:1@1");
    start({"station", "--log", m_log.path(), m_profile.path()});
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        devices.push_back(m_platform.addDevice(c.identity));
        if (c.why != nullptr) {
            expected.push_back(c.identity.location +
                               "  SKIP  not a controller the station programs: " + c.why +
                               "; nothing written");
        }
    }
    ASSERT_EQ(waitForUnits(expected.size()).size(), expected.size());
    // Pulled out and plugged in again: a new arrival, said again.
    devices[1]->unplug();
    devices.push_back(m_platform.addDevice(cases[0].identity));
    expected.push_back(expected.front());
    m_runner->applyUntil(1000ms);
    ASSERT_EQ(waitForUnits(expected.size() + 1).size(), expected.size() + 1);
    // A second saying would show by now.
    std::this_thread::sleep_for(2 * ControllerWatch::POLL_INTERVAL);
    const RunResult result = stop();
    EXPECT_EQ(result.code, 0) << result.err;
    std::vector<std::string> lines = m_shared.lines();
    ASSERT_EQ(lines.size(), expected.size() + 3) << result.out;
    EXPECT_EQ(lines.back(), "1 unit, all PASS (1 port)");
    // Between the first line and the count, sorted: the SKIP lines, then the unit's PASS. A
    // line after sim-1's arrival is padded to its width.
    for (std::string& line : lines) {
        line = std::regex_replace(line, std::regex("^(1-\\d) +SKIP"), "$1  SKIP");
    }
    std::sort(lines.begin() + 1, lines.end() - 1);
    EXPECT_TRUE(lines[lines.size() - 2].starts_with("sim-1  PASS  ")) << result.out;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 2), expected);
    EXPECT_EQ(unitLines().size(), 1u);
    for (const auto& device : devices) {
        EXPECT_EQ(device->writeCount(), 0u) << device->identity().location;
    }
}

// With --convert the other family's profile is written as the nearest values and verified as
// such; --factory-reset-first sends the reset before the first write.
TEST_F(Station, ConvertAndFactoryResetFirstPass) {
    takeProfile(0x21);
    plan("plug:1@0");
    sim::SimulatedOstrel& unit = *m_runner->controller(1);
    unit.firmware().setParamByte(ADDR_DELAY, 200);
    start(
        {"station", "--include-attached", "--convert", "--factory-reset-first", m_profile.path()});
    const std::vector<std::string> units = waitForUnits(1);
    const RunResult result = stop();
    ASSERT_EQ(units.size(), 1u) << result.err;
    EXPECT_TRUE(std::regex_match(
        units[0], std::regex("sim-1  PASS  firmware 1\\.2, \\d+ written, 37 verified, .*")))
        << units[0];
    EXPECT_EQ(result.code, 0);
    std::vector<Bytes> writes;
    for (const Bytes& frame : frames(unit)) {
        if (isParamWrite(frame)) {
            writes.push_back(frame);
        }
    }
    ASSERT_GT(writes.size(), 1u);
    EXPECT_EQ(writes.front(), (Bytes{0xA4, 0xA0, 0xFF, 0x01, 0xFF, 0x00}));
    EXPECT_EQ(unit.firmware().paramByte(ADDR_DELAY), 9);
}

// A unit another ostrelctl holds and a silent one fail, each with why and nothing written,
// while the one beside them passes; each is programmed once while it stays plugged in. A
// device attached that only looks like a controller is said as one that arrives would be.
TEST_F(Station, AClaimedAndASilentUnitFailWhileTheOtherPasses) {
    takeProfile(0x12);
    plan("plug:1@0,plug:2@0,plug:3@0");
    const auto lookalike = m_platform.addDevice(sim::SimulatedOstrel::identity(0x1234, {}, "1-9"));
    sim::SimulatedOstrel& claimed = *m_runner->controller(1);
    const platform::ClaimResult other = m_platform.claim(claimed.path().c_str(), "ostrelctl");
    ASSERT_EQ(other.status, platform::ClaimStatus::Held);
    filterFrames(*m_runner->controller(2), [](auto) { return false; });
    const auto started = std::chrono::steady_clock::now();
    start({"--timeout", "300", "station", "--include-attached", m_profile.path()});
    ASSERT_EQ(waitForUnits(4).size(), 4u);
    // One timeout in all: the silent unit holds nobody up.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    std::this_thread::sleep_for(300ms);  // a second round would show by now
    const RunResult result = stop();
    EXPECT_EQ(result.code, ctl::worstExit({ctl::EXIT_CLAIMED, ctl::EXIT_TIMEOUT}));
    std::vector<std::string> lines = m_shared.lines();
    ASSERT_EQ(lines.size(), 6u) << result.out;
    std::sort(lines.begin() + 1, lines.end() - 1);
    EXPECT_EQ(lines[1],
              "1-9    SKIP  not a controller the station programs: another product id "
              "(0x1234); nothing written");
    EXPECT_EQ(lines[2], "sim-1  FAIL  the controller is in use by ostrelctl (pid " +
                            std::to_string(m_platform.claimHolder(claimed.path()).pid) +
                            "); close it or use --wait");
    EXPECT_EQ(lines[3],
              "sim-2  FAIL  no answer from the controller to the status request within 300 ms");
    EXPECT_TRUE(lines[4].starts_with("sim-3  PASS  firmware 1.2, 3 written, 37 verified, "));
    EXPECT_EQ(lines[5], "3 units: 1 PASS, 2 FAIL; the last unit on 2 of 3 ports FAIL");
    EXPECT_EQ(lookalike->writeCount(), 0u);
    EXPECT_TRUE(claimed.device().writes().empty());
    EXPECT_EQ(paramWrites(*m_runner->controller(2)), 0u);
    EXPECT_EQ(paramWrites(*m_runner->controller(3)), 3u);
}

// A small file system of its own, full at will; unmounted when it goes. Root only.
class SmallDisk {
public:
    SmallDisk() : m_folder(std::filesystem::temp_directory_path() / "ostrelctl-station-disk") {
#ifndef _WIN32
        std::filesystem::create_directories(m_folder);
        m_mounted = ::mount("tmpfs", m_folder.c_str(), "tmpfs", 0, "size=64k") == 0;
#endif
    }
    ~SmallDisk() {
#ifndef _WIN32
        if (m_mounted) {
            ::umount2(m_folder.c_str(), MNT_DETACH);
        }
#endif
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const {
        return m_mounted;
    }
    std::string path(const char* name) const {
        return (m_folder / name).string();
    }
    // Leaves `room` bytes in the last page of `log`, another writer's line, then fills the
    // rest of the disk.
    void fillAfter(const std::string& log, std::size_t room) const {
        constexpr std::size_t PAGE = 4096;
        const std::size_t size = std::filesystem::file_size(log);
        std::size_t pad = (2 * PAGE - size % PAGE - room) % PAGE;
        pad += pad < 16 ? PAGE : 0;
        std::ofstream(log, std::ios::app) << "{\"pad\":\"" << std::string(pad - 11, 'x') << "\"}\n";
        std::ofstream filler(path("filler"), std::ios::binary);
        const std::string page(PAGE, 'f');
        while (filler.write(page.data(), PAGE) && filler.flush()) {
        }
    }

private:
    std::filesystem::path m_folder;
    bool m_mounted = false;
};

// The log as a bench meets it: a full disk, a closed output, Ctrl-C with units plugged in
// after it, a unit pulled out and plugged in again, --count. After each, every line of the
// log is one JSON object, and the log holds exactly the units shown as logged, none after
// the station's end.
TEST_F(Station, TheLogHoldsEveryUnitShownAndNothingAfterTheEnd) {
    takeProfile(0x12);
    struct Case {
        const char* name;
        const char* plan;
        std::vector<std::string> args;  // before --log
        // Drives the station until it has ended or should be stopped; false: skipped.
        std::function<bool(const std::string& log)> drive;
        std::size_t logged;  // unit lines in the log
        const char* stoppedBy;
        int code;
        std::vector<json> serials;           // of the unit lines, in the log's order
        std::string input;                   // for --label -
        std::map<std::string, json> labels;  // by location; empty: --label's, or ""
    };
    SmallDisk disk;
    const std::vector<Case> cases{
        {"full disk",
         "plug:1@1",
         {},
         [&](const std::string& log) {
             disk.fillAfter(log, 10);
             m_runner->applyUntil(1000ms);
             return waitFor([&] { return m_ended.load(); }, 20s);
         },
         0,
         nullptr,
         1,
         {},
         "",
         {}},
        {"closed output",
         "plug:1@0=SN-0001,plug:2@1",
         {"--include-attached"},
         [&](const std::string&) {
             waitForUnits(1);
             m_shared.close();
             m_runner->applyUntil(1000ms);
             return waitFor([&] { return m_ended.load(); }, 20s);
         },
         2,
         "the closed output",
         1,  // as any command whose output is lost
         {"SN-0001", nullptr},
         "",
         {}},
        {"Ctrl-C, then units",
         "plug:1@0,plug:2@1,plug:3@1,plug:4@1",
         {"--include-attached"},
         [&](const std::string&) {
             waitForUnits(1);
             m_interrupted = true;
             m_runner->applyUntil(1000ms);
             return waitFor([&] { return m_ended.load(); }, 20s);
         },
         1,
         "Ctrl-C",
         0,
         {nullptr},
         "",
         {}},
        {"replugged",
         "plug:1@0=SN-0001,unplug:1@1,plug:1@2=SN-0002",
         {"--include-attached", "--station-id", "bench\x1b[2J", "--label", "box 12"},
         [&](const std::string&) {
             waitForUnits(1);
             m_runner->applyUntil(1000ms);
             m_runner->applyUntil(2000ms);
             waitForUnits(2);
             m_interrupted = true;
             return waitFor([&] { return m_ended.load(); }, 20s);
         },
         2,
         "Ctrl-C",
         0,
         {"SN-0001", "SN-0002"},
         "",
         {}},
        {"--count",
         "plug:1@0,plug:2@0,plug:3@1",
         {"--include-attached", "--count", "2"},
         [&](const std::string&) {
             waitForUnits(2);
             m_runner->applyUntil(1000ms);
             return waitFor([&] { return m_ended.load(); }, 20s);
         },
         2,
         "--count",
         0,
         {nullptr, nullptr},
         "",
         {}},
        // Line by line, in the order of arrival; a unit with no line left fails untouched,
        // and the station ends once every line has had its unit.
        {"labels",
         "plug:1@0,plug:2@0",
         {"--include-attached", "--label", "-"},
         [&](const std::string&) { return waitFor([&] { return m_ended.load(); }, 20s); },
         2,
         "the end of the labels",
         1,
         {nullptr, nullptr},
         "box 12/1\r\n",
         {{"sim-1", "box 12/1"}, {"sim-2", nullptr}}},
        {"bad labels",
         "plug:1@0,plug:2@1,plug:3@2",
         {"--include-attached", "--label", "-"},
         [&](const std::string&) {
             waitForUnits(1);
             m_runner->applyUntil(1000ms);
             waitForUnits(2);
             m_runner->applyUntil(2000ms);
             const bool ended = waitFor([&] { return m_ended.load(); }, 20s);
             const std::string out = m_shared.text();
             EXPECT_NE(out.find("line 1 of the standard input, is over 200 bytes"),
                       std::string::npos)
                 << out;
             EXPECT_NE(out.find("line 2 of the standard input, holds control characters or "
                                "bytes that are not UTF-8 (SN\\x1b[2J)"),
                       std::string::npos)
                 << out;
             return ended;
         },
         3,
         "the end of the labels",
         1,
         {nullptr, nullptr, nullptr},
         std::string(100000, 'x') + "\nSN\x1b[2J\nlast",
         {{"sim-1", nullptr}, {"sim-2", nullptr}, {"sim-3", "last"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool onDisk = std::string_view(c.name) == "full disk";
        if (onDisk && !disk.mounted()) {
            std::cout << "[  SKIPPED ] full disk: no tmpfs may be mounted here\n";
            continue;
        }
        const std::string log = onDisk ? disk.path("log.jsonl") : m_log.path();
        std::filesystem::remove(log);
        m_interrupted = false;
        m_shared.clear();
        m_out.clear();
        plan(c.plan);
        std::vector<std::string> args{"station"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"--log", log, m_profile.path()});
        start(args, c.input);
        ASSERT_TRUE(c.drive(log));
        const RunResult result = stop();
        EXPECT_EQ(result.code, c.code) << result.err << result.out;

        // Every line whole and JSON, numbered from 1 on; the first the start.
        std::ifstream file(log, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(file), {}};
        ASSERT_TRUE(text.ends_with('\n')) << text;
        std::istringstream stream(text);
        std::vector<json> lines;
        for (std::string line; std::getline(stream, line);) {
            if (!line.starts_with("{\"pad\"")) {
                ASSERT_NO_THROW(lines.push_back(json::parse(line))) << line;
                EXPECT_EQ(lines.back()["seq"], lines.size());
            }
        }
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front()["event"], "start");
        EXPECT_EQ(lines.front()["firmware"], "1.2");
        std::multiset<std::string> logged;
        std::vector<json> serials;
        for (const json& line : lines) {
            if (line["event"] == "unit") {
                serials.push_back(line["serial"]);
                logged.insert(line["location"].get<std::string>() + " " +
                              line["result"].get<std::string>());
                const bool named = std::string_view(c.name) == "replugged";
                EXPECT_EQ(line["station"], named ? json(c.args[2]) : line["host"]);
                const auto label = c.labels.find(line["location"].get<std::string>());
                EXPECT_EQ(line["label"], c.labels.empty()          ? json(named ? c.args[4] : "")
                                         : label != c.labels.end() ? label->second
                                                                   : json("<no such unit>"));
            }
        }
        EXPECT_EQ(logged.size(), c.logged);
        EXPECT_EQ(serials, c.serials);
        // The same profile read back from the same firmware: the same digest every time.
        std::set<json> digests;
        for (const json& line : lines) {
            if (line["event"] == "unit" && line["result"] == "PASS") {
                digests.insert(line["readbackSha256"]);
            }
        }
        EXPECT_LE(digests.size(), 1u);
        EXPECT_TRUE(digests.empty() || digests.begin()->is_string());
        if (c.stoppedBy != nullptr) {
            EXPECT_EQ(lines.back()["event"], "end");
            EXPECT_EQ(lines.back()["stoppedBy"], c.stoppedBy);
            EXPECT_EQ(lines.back()["units"], c.logged);
        }
        // Each unit shown as logged is in the log, and one shown as not is not.
        const std::regex unit("(\\S+) +(PASS|FAIL)  .*?(  \\(not in the log\\))?");
        std::multiset<std::string> shown;
        std::size_t notLogged = 0;
        for (const std::string& line : m_shared.lines()) {
            std::smatch match;
            if (std::regex_match(line, match, unit)) {
                notLogged += match[3].matched ? 1 : 0;
                if (!match[3].matched) {
                    shown.insert(match[1].str() + " " + match[2].str());
                }
            }
        }
        EXPECT_TRUE(std::includes(logged.begin(), logged.end(), shown.begin(), shown.end()))
            << result.out;
        EXPECT_EQ(notLogged, onDisk ? 1u : 0u) << result.out;
        if (onDisk) {
            EXPECT_NE(result.err.find("log.jsonl: cannot be written (No space left on device)"),
                      std::string::npos)
                << result.err;
        }
        // Nothing was sent to a unit the station did not log.
        for (int n = 1; n <= 4 && !onDisk; ++n) {
            if (sim::SimulatedOstrel* controller = m_runner->controller(n)) {
                const bool inLog = std::any_of(logged.begin(), logged.end(), [&](auto& entry) {
                    return entry.starts_with(controller->location() + " ");
                });
                // Nor to one whose label never came.
                const auto label = c.labels.find(controller->location());
                const bool unlabelled = label != c.labels.end() && label->second.is_null();
                EXPECT_EQ(inLog && !unlabelled, !controller->device().writes().empty()) << n;
            }
        }
    }
}

// Bad input of every kind is refused before the station starts: nothing written to any
// controller, no log made.
TEST_F(Station, RefusesBadInputBeforeItStarts) {
    sim::SimulatedOstrel& attached = plug();
    ASSERT_EQ(run({"backup", m_profile.path()}).code, 0);
    const TempFile notAProfile("ostrelctl-station-bad");
    notAProfile.write("{\"format\": \"something else\"}");
    const std::string missingFolder = m_log.path() + "-missing/log.jsonl";
    const std::filesystem::path folder = m_log.path() + "-folder";
    std::filesystem::create_directory(folder);
#ifndef _WIN32
    // The profile under another name (Wine makes no symbolic links: there, its own name).
    const std::string sameFile = m_profile.path() + "-link";
    std::filesystem::create_symlink(m_profile.path(), sameFile);
#else
    const std::string sameFile = m_profile.path();
#endif
    const std::string profileText = m_profile.read();
#ifndef _WIN32
    // A FIFO nobody writes to would hang the start, Ctrl-C unheard.
    const std::string fifo = m_log.path() + "-fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
#endif
    struct Case {
        std::vector<std::string> args;
        const char* error;  // in the error output
    };
    for (const Case& c : std::initializer_list<Case>{
             {{"station", "--log", m_log.path(), notAProfile.path()},
              "the station did not start; nothing was written"},
             {{"station", "--log", m_log.path(), m_log.path() + "-none"}, ": no such file"},
             {{"station", "--log", missingFolder, m_profile.path()},
              "-missing/log.jsonl: cannot be opened for appending"},
             {{"station", "--log", folder.string(), m_profile.path()},
              "-folder: cannot be opened for appending"},
             {{"--device", "sim-1", "station", m_profile.path()}, "it takes no --device"},
             {{"--simulated=plug:1@0,plug:1@1", "station", m_profile.path()},
              "--simulated: the plug plan"},
             {{"--simulated=plug:1@x", "station", m_profile.path()}, "\"plug:1@x\""},
             {{"--simulated=17", "station", m_profile.path()},
              "neither a number of controllers from 1 to 16 nor a plug plan"},
             {{"station"}, "PROFILE is required"},
             {{"station", "--log", "", m_profile.path()}, "--log: an empty name"},
             {{"station", "--log", sameFile, m_profile.path()}, ": is the profile"},
             {{"station", "--count", "0", m_profile.path()}, "--count"},
             {{"station", "--label", "-", "-"}, "the standard input gives the profile already"},
#ifndef _WIN32
             {{"station", fifo}, "-fifo: not a regular file"},
             {{"station", "/dev/zero"}, "/dev/zero: not a regular file"},
#endif
         }) {
        SCOPED_TRACE(c.args.back());
        const RunResult result = run(c.args);
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(std::filesystem::exists(m_log.path()));
    }
    EXPECT_EQ(paramWrites(attached), 0u);
    EXPECT_EQ(m_profile.read(), profileText);
    std::filesystem::remove(folder);
#ifndef _WIN32
    std::filesystem::remove(sameFile);
    std::filesystem::remove(fifo);
#endif
}

// A unit's line at the bench: padded to the widest location, escaped, and cut to the
// terminal's width by whole characters, the tail kept.
TEST(StationLines, BenchLinesFitTheTerminal) {
    struct Case {
        std::string location;
        std::size_t pad;
        std::string text;
        std::string tail;
        int width;
        std::string line;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"sim-1", 6, "firmware 1.2", "", 0, "sim-1   PASS  firmware 1.2"},
             {"sim-12", 6, "firmware 1.2", "", 0, "sim-12  PASS  firmware 1.2"},
             {"sim-1", 5, std::string(400, 'x'), "", 30,
              "sim-1  PASS  " + std::string(14, 'x') + "..."},
             {"sim-1", 5, std::string(400, 'x'), "  (not in the log)", 40,
              "sim-1  PASS  " + std::string(6, 'x') + "...  (not in the log)"},
             // Cut by characters, never inside one: two-byte characters.
             {"a", 1, "\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9\u00e9", "", 15,
              "a  PASS  \u00e9\u00e9\u00e9..."},
             {"a", 1, "\u00e9\u00e9\u00e9", "", 15, "a  PASS  \u00e9\u00e9\u00e9"},
             {"1-1\x1b[2J", 3, "bad\x07", "", 0, "1-1\\x1b[2J  PASS  bad\\x07"},
         }) {
        EXPECT_EQ(ctl::benchLine(c.location, c.pad, "PASS", nullptr, c.text, c.tail, c.width),
                  c.line)
            << c.location << " " << c.width;
    }
    // The start line, whose profile may be a long path.
    const std::string start = "Programming each controller plugged in from /srv/" +
                              std::string(200, 'p') + "\x1b]0;x\x07.json; Ctrl-C ends";
    EXPECT_EQ(ctl::fitLine(start, 60),
              "Programming each controller plugged in from /srv/pppppppp...");
    EXPECT_EQ(ctl::fitLine(start, 0), "Programming each controller plugged in from /srv/" +
                                          std::string(200, 'p') +
                                          "\\x1b]0;x\\x07.json; Ctrl-C ends");
}

// What a short write leaves of a line is cut back off, on every system; appends still go
// to the end after it.
TEST(AppendLog, TakesBackThePartOfALine) {
    const TempFile file("ostrelctl-append-log");
    ctl::AppendLog log;
    ASSERT_EQ(log.open(file.path()), "");
    ASSERT_EQ(log.append("{\"seq\":1}"), "");
    ASSERT_EQ(log.append("{\"seq\":2"), "");
    EXPECT_TRUE(log.takeBack(9));
    EXPECT_EQ(file.read(), "{\"seq\":1}\n");
    EXPECT_FALSE(log.takeBack(100));
    EXPECT_EQ(file.read(), "{\"seq\":1}\n");
    ASSERT_EQ(log.append("{\"seq\":3}"), "");
    EXPECT_EQ(file.read(), "{\"seq\":1}\n{\"seq\":3}\n");
}

TEST(Sha256, KnownDigests) {
    for (const auto& [text, digest] : std::initializer_list<std::pair<std::string, const char*>>{
             {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
             {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
             // 56 bytes: the length no longer fits the last block.
             {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
             {std::string(1000000, 'a'),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
         }) {
        EXPECT_EQ(ctl::sha256Hex(text), digest) << text.size();
    }
}

}  // namespace
