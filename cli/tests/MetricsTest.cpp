// ostrelctl metrics against simulated controllers: what a monitoring system would be told,
// and that it is never told something stale or half-written.
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/tests/CtlFixture.h"
#include "core/readings/StatusFields.h"
#include "services/metrics/Metrics.h"

namespace {

namespace fs = std::filesystem;

// The samples of an exposition, by series ("name{labels}"), after checking the format's
// rules: each family's HELP and TYPE once and before its samples, every family's samples
// together, a location label on every series but ostrel_controllers, no timestamps.
std::map<std::string, std::string> samples(const std::string& text) {
    std::map<std::string, std::string> result;
    std::set<std::string> helped;
    std::set<std::string> closed;
    std::string current;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) {
            std::string hash, kind, name;
            words >> hash >> kind >> name;
            if (kind == "HELP") {
                EXPECT_TRUE(helped.insert(name).second) << "HELP twice: " << name;
                if (!current.empty()) {
                    closed.insert(current);
                }
                current = name;
            } else {
                EXPECT_EQ(name, current) << "TYPE without its HELP: " << line;
                EXPECT_NE(line.find(" gauge"), std::string::npos) << line;
            }
            continue;
        }
        const std::string series = line.substr(0, line.find(' '));
        const std::string name = series.substr(0, series.find('{'));
        EXPECT_EQ(name, current) << "a sample outside its family: " << line;
        EXPECT_FALSE(closed.contains(name)) << line;
        EXPECT_TRUE(name == "ostrel_controllers" ||
                    series.find("{location=\"") != std::string::npos)
            << line;
        std::string value, timestamp;
        words.seekg(static_cast<std::streamoff>(series.size()));
        words >> value >> timestamp;
        EXPECT_TRUE(timestamp.empty()) << "a timestamp: " << line;
        EXPECT_TRUE(result.emplace(series, value).second) << "twice: " << series;
    }
    EXPECT_TRUE(text.ends_with('\n'));
    return result;
}

std::size_t countPrefix(const std::map<std::string, std::string>& all, const std::string& start) {
    std::size_t count = 0;
    for (const auto& [series, value] : all) {
        count += series.starts_with(start) ? 1 : 0;
    }
    return count;
}

TEST_F(Ctl, MetricsTellEachControllerAndOnlyFreshFiguresOfOneThatAnswered) {
    sim::Measurements figures;
    figures.inputVoltage = 150;
    figures.temperature = -7;
    figures.state = 3;
    figures.mode = 2;
    figures.voltageFlags = 0x81;
    figures.outputFlags = 0x04;
    sim::SimulatedOstrel& first = plug();
    first.firmware().setMeasurements(figures);
    first.firmware().setFirmwareVersion(0x21);
    sim::SimulatedOstrel& silent = plug();
    filterFrames(silent, [](auto) { return false; });

    const RunResult result = run({"--timeout", "50", "metrics"});
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.err.find("the controller at sim-2 did not answer"), std::string::npos);
    const auto all = samples(result.out);
    const std::map<std::string, std::string> expected{
        {"ostrel_controllers", "2"},
        {"ostrel_up{location=\"sim-1\"}", "1"},
        {"ostrel_up{location=\"sim-2\"}", "0"},
        {"ostrel_firmware_info{location=\"sim-1\",version=\"2.1\"}", "1"},
        {"ostrel_temperature_celsius{location=\"sim-1\"}", "-7"},
        {"ostrel_state{location=\"sim-1\"}", "3"},
        {"ostrel_mode{location=\"sim-1\"}", "2"},
        {"ostrel_flag{location=\"sim-1\",register=\"voltage\",bit=\"0\"}", "1"},
        {"ostrel_flag{location=\"sim-1\",register=\"voltage\",bit=\"1\"}", "0"},
        {"ostrel_flag{location=\"sim-1\",register=\"voltage\",bit=\"7\"}", "1"},
        {"ostrel_flag{location=\"sim-1\",register=\"output\",bit=\"2\"}", "1"},
        {"ostrel_flag{location=\"sim-1\",register=\"output\",bit=\"3\"}", "0"},
    };
    for (const auto& [series, value] : expected) {
        ASSERT_TRUE(all.contains(series)) << series << "\n" << result.out;
        EXPECT_EQ(all.at(series), value) << series;
    }
    EXPECT_EQ(countPrefix(all, "ostrel_flag{location=\"sim-1\""), 48U);
    EXPECT_EQ(countPrefix(all, "ostrel_rail_volts{location=\"sim-1\""), 3U);
    // Of the silent one, nothing but that it is down.
    for (const auto& [series, value] : all) {
        if (series.find("sim-2") != std::string::npos) {
            EXPECT_EQ(series, "ostrel_up{location=\"sim-2\"}");
        }
    }

    // The volts are the figures status shows, with the firmware's factors.
    m_controllers.pop_back();
    const RunResult status = run({"status", "--json"});
    ASSERT_EQ(status.code, 0) << status.err;
    const nlohmann::json fields = nlohmann::json::parse(status.out);
    const auto again = samples(run({"metrics"}).out);
    for (const auto& [series, key] : std::map<std::string, const char*>{
             {"ostrel_input_volts{location=\"sim-1\"}", "voltageIn"},
             {"ostrel_ignition_volts{location=\"sim-1\"}", "ignition"},
             {"ostrel_rail_volts{location=\"sim-1\",rail=\"3.3V\"}", "voltage3V"},
             {"ostrel_rail_volts{location=\"sim-1\",rail=\"5V\"}", "voltage5V"},
             {"ostrel_rail_volts{location=\"sim-1\",rail=\"12V\"}", "voltage12V"}}) {
        ASSERT_TRUE(again.contains(series)) << series;
        EXPECT_EQ(again.at(series), fields.at(std::string(key) + "Text").get<std::string>())
            << series;
    }
}

TEST_F(Ctl, MetricsOfAControllerGoneBetweenTwoScrapesAndOfNoneAreStillValid) {
    plug();
    plug();
    ASSERT_EQ(samples(run({"metrics"}).out).at("ostrel_controllers"), "2");
    m_controllers.front()->unplug();
    const auto afterOne = samples(run({"metrics"}).out);
    EXPECT_EQ(afterOne.at("ostrel_controllers"), "1");
    EXPECT_EQ(countPrefix(afterOne, "ostrel_input_volts{location=\"sim-1\""), 0U);
    EXPECT_EQ(afterOne.at("ostrel_up{location=\"sim-2\"}"), "1");
    m_controllers.clear();
    const RunResult none = run({"metrics"});
    EXPECT_EQ(none.code, 0) << none.err;
    const auto empty = samples(none.out);
    EXPECT_EQ(empty, (std::map<std::string, std::string>{{"ostrel_controllers", "0"}}));
}

TEST_F(Ctl, MetricsOutputIsReplacedWholeOrAnErrorWithTheOldFileKept) {
    plug();
    const fs::path folder =
        fs::temp_directory_path() /
        ("ostrel-metrics-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(folder);
    const fs::path file = folder / "ostrel.prom";
    std::ofstream(file) << "old\n";
    const RunResult written = run({"metrics", "--output", file.string()});
    EXPECT_EQ(written.code, 0) << written.err;
    EXPECT_TRUE(written.out.empty());
    std::string content;
    {
        std::ifstream in(file);  // closed before the folder goes (Windows)
        content.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(samples(content).at("ostrel_up{location=\"sim-1\"}"), "1");
    // Nothing but the file is left in the folder: no temporary file for the collector to see.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    for (const fs::path& bad : {folder / "absent" / "ostrel.prom", folder}) {
        const RunResult failed = run({"metrics", "--output", bad.string()});
        EXPECT_EQ(failed.code, 1) << bad;
        EXPECT_NE(failed.err.find(bad.string()), std::string::npos) << failed.err;
    }
    fs::remove_all(folder);
}

TEST(Metrics, LabelValuesAreEscaped) {
    ctl::Reading odd;
    odd.location = "a\"b\\c\nd";
    const std::string text = ctl::formatMetrics({odd});
    EXPECT_NE(text.find("ostrel_up{location=\"a\\\"b\\\\c\\nd\"} 0\n"), std::string::npos) << text;
}

// Every status field is in the exposition, in its family; the families in the table's order,
// the mode before the flag bits.
TEST(Metrics, EveryStatusFieldIsThereInItsFamily) {
    ctl::Reading reading;
    reading.location = "l";
    reading.answer = ctl::Answer::Ok;
    reading.status.voltageFlags = 0x01;
    reading.texts = ctl::statusTexts(ParamTable(), reading.status);
    const std::string text = ctl::formatMetrics({reading});
    const auto all = samples(text);
    for (const ctl::StatusField& field : ctl::STATUS_FIELDS) {
        std::string series = std::string(field.metric->name) + "{location=\"l\"";
        if (field.metric->label != nullptr) {
            series += std::string(",") + field.metric->label + "=\"" + field.series + '"';
        }
        series += field.kind == ctl::FieldKind::Flags ? ",bit=\"0\"}" : "}";
        EXPECT_TRUE(all.contains(series)) << series << "\n" << text;
    }
    EXPECT_EQ(all.at("ostrel_flag{location=\"l\",register=\"voltage\",bit=\"0\"}"), "1");
    std::vector<std::string> families;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("# HELP ")) {
            families.push_back(line.substr(7, line.find(' ', 7) - 7));
        }
    }
    EXPECT_EQ(families,
              (std::vector<std::string>{"ostrel_controllers", "ostrel_up", "ostrel_firmware_info",
                                        "ostrel_input_volts", "ostrel_ignition_volts",
                                        "ostrel_rail_volts", "ostrel_temperature_celsius",
                                        "ostrel_state", "ostrel_mode", "ostrel_flag"}));
}

}  // namespace
