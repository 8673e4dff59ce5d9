// The publisher against Debian's mosquitto, with mosquitto_sub as the subscriber: what only a
// real broker shows (TLS, a refused login, the last will, retained messages, the buffer kept
// across restarts of both). When it publishes what, and what it says, is PublisherCoreTest's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "core/files/Sha256.h"
#include "core/readings/StatusJson.h"
#include "core/selection/Selection.h"
#include "core/session/Controller.h"
#include "services/mqtt/tests/MqttRig.h"
#include "services/mqtt/tests/SimFigures.h"
#include "tests/support/WaitFor.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr auto LIMIT = 30s;  // for what should come within a few seconds

// The keys Home Assistant's MQTT discovery documents (abbreviated as it lists them), for
// the parts this publisher uses: shared options, device, origin, availability, and the
// options of MQTT sensors and binary sensors.
const std::set<std::string> ROOT_KEYS{"dev",    "o",   "avty", "avty_mode", "avty_t", "avty_tpl",
                                      "stat_t", "qos", "e",    "cmd_t",     "cmps",   "~"};
const std::set<std::string> DEVICE_KEYS{"cu",     "cns", "ids", "name", "mf", "mdl",
                                        "mdl_id", "hw",  "sw",  "sa",   "sn", "via_device"};
const std::set<std::string> ORIGIN_KEYS{"name", "sw", "url"};
const std::set<std::string> AVAILABILITY_KEYS{"t",
                                              "topic",
                                              "pl_avail",
                                              "pl_not_avail",
                                              "payload_available",
                                              "payload_not_available",
                                              "val_tpl",
                                              "value_template"};
const std::set<std::string> ENTITY_KEYS{
    "p",       "name",    "uniq_id", "def_ent_id",  "dev_cla",       "unit_of_meas", "stat_cla",
    "val_tpl", "ent_cat", "ic",      "en",          "exp_aft",       "frc_upd",      "sug_dsp_prc",
    "pl_on",   "pl_off",  "off_dly", "json_attr_t", "json_attr_tpl", "stat_t",       "qos"};

void expectDocumented(const json& object, const std::set<std::string>& keys,
                      const std::string& where) {
    for (const auto& [key, value] : object.items()) {
        EXPECT_TRUE(keys.contains(key)) << where << ": " << key << " is no documented key";
    }
}

// What `status --json` prints of simulated controller `index` with the same figures: its
// status read through the controller interface, put as status --json puts it.
json statusJson(int index) {
    platform::SimHidPlatform sim;
    const auto controllers = plugSimControllers(sim, index + 1, false);
    const auto found = ctl::findControllers(sim, nullptr);
    ParamTable table;
    ctl::Controller controller(sim, table, {});
    StatusReport status;
    if (found.size() != controllers.size() ||
        controller.open(*found.at(static_cast<std::size_t>(index))) !=
            ctl::Controller::Found::One ||
        controller.status(status) != ctl::Outcome::Ok) {
        return json::object();  // said by the test
    }
    return json::parse(ctl::statusJson(status, ctl::statusTexts(table, status), false).dump());
}

// The payloads in the order they first arrived (QoS 1 may bring one twice).
std::vector<std::string> firstArrivals(const std::vector<rig::Received>& messages) {
    std::vector<std::string> order;
    std::set<std::string> seen;
    for (const rig::Received& message : messages) {
        if (seen.insert(message.payload).second) {
            order.push_back(message.payload);
        }
    }
    return order;
}

// The readings of the controller whose topics start with `base` (PREFIX/CLIENTID/LOCATION), in
// the order they came: each history batch's, and each state.
std::vector<rig::Received> readingsOf(const rig::Subscriber& live, const std::string& base) {
    std::vector<rig::Received> all;
    for (const rig::Received& message : live.received()) {
        if (message.topic == base + "/state") {
            all.push_back(message);
        } else if (message.topic == base + "/history") {
            const auto batch = nlohmann::ordered_json::parse(message.payload, nullptr, false);
            for (const auto& reading : batch.is_array() ? batch : nlohmann::ordered_json::array()) {
                all.push_back(message);
                all.back().payload = reading.dump();
            }
        }
    }
    return all;
}

// Whether this process may make mount namespaces of its own (root, as in CI).
bool mayMount() {
    return geteuid() == 0 && std::filesystem::exists("/usr/bin/unshare");
}

class MqttBroker : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {rig::MOSQUITTO, "/usr/bin/mosquitto_sub", "/usr/bin/openssl"}) {
            if (!std::filesystem::exists(program)) {
                GTEST_SKIP() << program << " is missing (make deps installs it)";
            }
        }
        m_broker = std::make_unique<rig::Broker>(m_folder);
        ASSERT_TRUE(m_broker->ready()) << "openssl or mosquitto_passwd failed";
        ASSERT_TRUE(m_broker->start()) << m_broker->log();
    }

    // The configuration file: `broker` (the plain listener by default) with the password,
    // then `extra` lines.
    std::string config(const std::string& extra, const std::string& name = "mqtt.conf",
                       const std::string& broker = "", const std::string& password = "password") {
        std::string path = m_folder / name;
        rig::writeFile(
            path, "# the test's broker\nbroker = " + (broker.empty() ? m_broker->url() : broker) +
                      "\nclient_id = car7\nusername = " + rig::USER +
                      "\npassword_file = " + (m_folder / password) + "\n" + extra);
        return path;
    }

    std::unique_ptr<rig::Process> publisher(int controllers, const std::string& configPath,
                                            std::vector<std::string> options = {},
                                            const std::string& log = "published.log") {
        std::vector<std::string> argv{MQTT_PUBLISHER, std::to_string(controllers), configPath,
                                      "--state",      m_folder / "state",          "--log",
                                      m_folder / log};
        argv.insert(argv.end(), options.begin(), options.end());
        return std::make_unique<rig::Process>(argv, m_folder / "publisher.out",
                                              m_folder / "publisher.err");
    }

    // A subscriber that is known to be subscribed: its own probe has come back.
    std::unique_ptr<rig::Subscriber> subscribe(const std::string& name,
                                               const std::vector<std::string>& filters,
                                               bool persistent = true) {
        auto subscriber =
            std::make_unique<rig::Subscriber>(*m_broker, m_folder, name, filters, persistent);
        const bool ready = waitFor(
            [&] {
                m_broker->publish("ostrel/probe", name);
                return !subscriber->on("ostrel/probe").empty();
            },
            LIMIT);
        EXPECT_TRUE(ready) << name << " did not subscribe";
        return subscriber;
    }

    std::string said() const { return rig::readFile(m_folder / "publisher.err"); }

    // The payloads the publisher queued on `topic`, in order.
    std::vector<std::string> logged(const std::string& topic,
                                    const std::string& log = "published.log") {
        std::vector<std::string> payloads;
        std::istringstream lines(rig::readFile(m_folder / log));
        std::string line;
        while (std::getline(lines, line)) {
            if (line.starts_with(topic + " ")) {
                payloads.push_back(line.substr(topic.size() + 1));
            }
        }
        return payloads;
    }

    rig::TempFolder m_folder;
    std::unique_ptr<rig::Broker> m_broker;
};

TEST_F(MqttBroker, StatesAvailabilityAndDiscoveryThroughTlsAsHomeAssistantNeedsThem) {
    // TLS with a client certificate beside the password; sim-3 never answers.
    const std::string conf =
        config("ca_file = " + (m_folder / "ca.crt") + "\ncert_file = " + (m_folder / "client.crt") +
                   "\nkey_file = " + (m_folder / "client.key") + "\ninterval = 60\n",
               "tls.conf", m_broker->tlsUrl());
    const auto live = subscribe("live", {"ostrel/#", "homeassistant/#"});
    auto process = publisher(3, conf, {"--silent", "3", "--timeout", "300"});

    const std::string discovery1 = "homeassistant/device/car7_sim-1/config";
    ASSERT_TRUE(waitFor(
        [&] {
            return !live->on(discovery1).empty() && !live->on("ostrel/car7/sim-2/state").empty() &&
                   !live->on("ostrel/car7/sim-3/status").empty() &&
                   !live->on("ostrel/car7/status").empty();
        },
        LIMIT))
        << said();
    EXPECT_EQ(live->on("ostrel/car7/status").front().payload, "online");
    EXPECT_EQ(live->on("ostrel/car7/sim-1/status").front().payload, "online");
    EXPECT_EQ(live->on("ostrel/car7/sim-3/status").front().payload, "offline");
    EXPECT_TRUE(live->on("ostrel/car7/sim-3/state").empty());

    // The states: the figures and keys of status --json, as numbers, without the texts, with
    // the time of the reading; each with a message expiry of 24 h.
    for (int index : {0, 1}) {
        const std::string topic = "ostrel/car7/sim-" + std::to_string(index + 1) + "/state";
        const rig::Received state = live->on(topic).front();
        EXPECT_FALSE(state.retained);
        EXPECT_EQ(state.expiry, "86400");
        const json published = json::parse(state.payload);
        const json expected = statusJson(index);
        ASSERT_FALSE(expected.empty()) << "the simulated controller did not answer";
        for (const auto& [key, value] : expected.items()) {
            if (key == "caption" || key.ends_with("Text")) {
                EXPECT_FALSE(published.contains(key)) << key;
            } else {
                EXPECT_EQ(published.at(key), value) << topic << " " << key;
            }
        }
        EXPECT_TRUE(std::regex_match(published.at("time").get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    }

    // The discovery: one config a controller, every key a documented one, every template a
    // key of the state, both availability topics.
    const json device = json::parse(live->on(discovery1).front().payload);
    const json state = json::parse(live->on("ostrel/car7/sim-1/state").front().payload);
    expectDocumented(device, ROOT_KEYS, "root");
    expectDocumented(device.at("dev"), DEVICE_KEYS, "dev");
    expectDocumented(device.at("o"), ORIGIN_KEYS, "o");
    EXPECT_EQ(device.at("o").at("name"), "ostrelctl");
    EXPECT_EQ(device.at("dev").at("sw"), "2.1");
    EXPECT_EQ(device.at("stat_t"), "ostrel/car7/sim-1/state");
    EXPECT_EQ(device.at("avty_mode"), "all");
    std::set<std::string> availability;
    for (const json& entry : device.at("avty")) {
        expectDocumented(entry, AVAILABILITY_KEYS, "avty");
        availability.insert(entry.at("t").get<std::string>());
    }
    EXPECT_EQ(availability,
              (std::set<std::string>{"ostrel/car7/status", "ostrel/car7/sim-1/status"}));
    std::map<std::string, int> platforms;
    for (const auto& [id, component] : device.at("cmps").items()) {
        expectDocumented(component, ENTITY_KEYS, id);
        ++platforms[component.at("p").get<std::string>()];
        std::smatch key;
        const std::string tpl = component.at("val_tpl");
        ASSERT_TRUE(std::regex_search(tpl, key, std::regex(R"(value_json\.(\w+))"))) << tpl;
        EXPECT_TRUE(state.contains(key[1].str())) << id << " reads " << key[1];
        if (component.value("dev_cla", "") == "timestamp") {
            EXPECT_EQ(tpl, "{{ value_json.time }}");
        } else if (component.contains("dev_cla")) {
            const std::string unit = component.at("unit_of_meas");
            EXPECT_EQ(unit, component.at("dev_cla") == "voltage" ? "V" : "°C") << id;
            EXPECT_EQ(component.at("stat_cla"), "measurement") << id;
        } else {
            EXPECT_EQ(component.at("ent_cat"), "diagnostic") << id;
        }
    }
    // Five voltages, the temperature, state, mode, firmware and the last reading's time; six
    // flag registers, each a text and 8 bits.
    EXPECT_EQ(platforms, (std::map<std::string, int>{{"sensor", 16}, {"binary_sensor", 48}}));

    // Retained: a subscriber that comes later gets the discovery and both availabilities,
    // but no stale state.
    const auto later = subscribe("later", {"ostrel/#", "homeassistant/#"}, false);
    ASSERT_TRUE(waitFor([&] { return !later->on(discovery1).empty(); }, LIMIT));
    EXPECT_TRUE(later->on(discovery1).front().retained);
    EXPECT_TRUE(later->on("ostrel/car7/status").front().retained);
    EXPECT_TRUE(later->on("ostrel/car7/sim-1/status").front().retained);
    EXPECT_TRUE(later->on("ostrel/car7/sim-1/state").empty());

    // Home Assistant's birth message reaches the publisher through its subscription: the
    // discovery and the states again (within the spread).
    ASSERT_TRUE(m_broker->publish("homeassistant/status", "online"));
    ASSERT_TRUE(waitFor(
        [&] {
            return live->on(discovery1).size() == 2 &&
                   live->on("ostrel/car7/sim-1/state").size() == 2;
        },
        LIMIT))
        << said();

    // sim-2 unplugged goes offline (the hotplug watch); sim-1 goes on, a change of it at once.
    process->signal(SIGUSR1);
    ASSERT_TRUE(waitFor(
        [&] { return live->on("ostrel/car7/sim-2/status").back().payload == "offline"; }, LIMIT));
    process->signal(SIGUSR2);
    ASSERT_TRUE(waitFor([&] { return live->on("ostrel/car7/sim-1/state").size() == 3; }, LIMIT));
    const json changed = json::parse(live->on("ostrel/car7/sim-1/state").back().payload);
    EXPECT_EQ(changed.at("state"), state.at("state").get<int>() + 1);
    EXPECT_EQ(changed.at("voltageFlags"), state.at("voltageFlags").get<int>() ^ 0x04);

    // Killed: the broker says offline for it, the last will.
    process->signal(SIGKILL);
    ASSERT_TRUE(
        waitFor([&] { return live->on("ostrel/car7/status").back().payload == "offline"; }, LIMIT));
}

// The program itself, as the service starts it (ostrelctl, which hands over to the program
// with Paho), on simulated controllers as a client of their own: its states and availability
// arrive, also of a controller plugged in a second
// after the start, and Ctrl-C takes it offline in order (an ordinary end publishes "offline"
// itself).
TEST_F(MqttBroker, OstrelctlItselfPublishesAndSaysOfflineOnCtrlC) {
    const std::string conf = config("interval = 0.5\nreport = interval\nhomeassistant = no\n");
    const auto live = subscribe("ctl", {"ostrel/#"});
    rig::Process process({OSTRELCTL, "--simulated=plug:1@0,plug:2@1", "mqtt", "--config", conf},
                         m_folder / "publisher.out", m_folder / "publisher.err",
                         {{"STATE_DIRECTORY", m_folder / "ctl-state"}});
    ASSERT_TRUE(waitFor(
        [&] {
            return live->on("ostrel/car7-sim/sim-1/state").size() >= 2 &&
                   !live->on("ostrel/car7-sim/sim-2/state").empty();
        },
        LIMIT))
        << said();
    // The figures of `status --json` from the same program.
    rig::Process status({OSTRELCTL, "--simulated=2", "--device", "sim-2", "status", "--json"},
                        m_folder / "status.json", m_folder / "status.err");
    ASSERT_EQ(status.wait(20s), 0) << rig::readFile(m_folder / "status.err");
    const std::string text = rig::readFile(m_folder / "status.json");
    const json state = json::parse(live->on("ostrel/car7-sim/sim-2/state").front().payload);
    for (const char* key : {"voltageIn", "voltage12V", "temperature", "state", "mode"}) {
        EXPECT_EQ(state.at(key), json::parse(text).at(key)) << key;
    }
    EXPECT_EQ(live->on("ostrel/car7-sim/status").front().payload, "online");
    process.signal(SIGINT);
    EXPECT_EQ(process.wait(20s), 0) << said();
    EXPECT_TRUE(waitFor(
        [&] { return live->on("ostrel/car7-sim/status").back().payload == "offline"; }, LIMIT));
    // A demonstration leaves nothing of its controllers retained.
    EXPECT_TRUE(waitFor(
        [&] { return live->on("ostrel/car7-sim/sim-2/status").back().payload.empty(); }, LIMIT));
}

TEST_F(MqttBroker, ReadingsTakenInDeadZonesArriveOnceInOrderAcrossAKillAndACleanStop) {
    const std::string conf = config("interval = 0.2\nreport = interval\nhomeassistant = no\n");
    const auto live = subscribe("live", {"ostrel/#"});
    const std::string base = "ostrel/car7/sim-1";
    const std::string topic = base + "/state";
    auto process = publisher(1, conf);
    ASSERT_TRUE(waitFor([&] { return live->on(topic).size() >= 3; }, LIMIT)) << said();

    // The broker goes away for a while: readings go on, and come as a batch or two.
    m_broker->stop();
    const std::size_t before = logged(topic).size();
    ASSERT_TRUE(waitFor([&] { return logged(topic).size() >= before + 10; }, LIMIT));
    ASSERT_TRUE(m_broker->start());
    std::vector<std::string> taken = logged(topic);
    ASSERT_TRUE(waitFor(
        [&] { return firstArrivals(readingsOf(*live, base)).size() >= taken.size(); }, LIMIT))
        << said();
    std::vector<std::string> arrived = firstArrivals(readingsOf(*live, base));
    arrived.resize(taken.size());
    EXPECT_EQ(arrived, taken) << "each reading once or more, in the order taken";
    EXPECT_FALSE(live->on(base + "/history").empty());

    // Away again, and the publisher killed meanwhile: its successor sends what it kept.
    m_broker->stop();
    const std::size_t held = logged(topic).size();
    ASSERT_TRUE(waitFor([&] { return logged(topic).size() >= held + 5; }, LIMIT));
    process->signal(SIGKILL);
    process->wait(10s);
    taken = logged(topic);
    // A reading is logged just before its commit: the kill may have come between the two.
    const std::string lastBeforeKill = taken.back();
    auto successor = publisher(1, conf, {}, "successor.log");
    ASSERT_TRUE(waitFor([&] { return logged(topic, "successor.log").size() >= 3; }, LIMIT));
    ASSERT_TRUE(m_broker->start());
    const std::vector<std::string> after = logged(topic, "successor.log");
    taken.insert(taken.end(), after.begin(), after.end());
    ASSERT_TRUE(waitFor(
        [&] { return firstArrivals(readingsOf(*live, base)).size() >= taken.size(); }, LIMIT))
        << said();
    arrived = firstArrivals(readingsOf(*live, base));
    if (std::find(arrived.begin(), arrived.end(), lastBeforeKill) == arrived.end()) {
        taken.erase(std::find(taken.begin(), taken.end(), lastBeforeKill));
    }
    arrived.resize(taken.size());
    EXPECT_EQ(arrived, taken);
    EXPECT_NE(said().find("readings of an earlier run are still to be delivered"),
              std::string::npos)
        << said();
    // Ended normally, it leaves with its last will too, and what it delivered is gone from
    // its store: a start after a clean stop sends nothing twice.
    successor->signal(SIGINT);
    EXPECT_EQ(successor->wait(20s), 0) << said();
    ASSERT_TRUE(
        waitFor([&] { return live->on("ostrel/car7/status").back().payload == "offline"; }, LIMIT));
    const std::size_t received = readingsOf(*live, base).size();
    auto third = publisher(1, conf, {}, "third.log");
    ASSERT_TRUE(waitFor([&] { return !logged(topic, "third.log").empty(); }, LIMIT));
    ASSERT_TRUE(waitFor([&] { return readingsOf(*live, base).size() > received; }, LIMIT));
    const auto now = readingsOf(*live, base);
    EXPECT_EQ(now.at(received).payload, logged(topic, "third.log").front()) << "nothing again";
    third->signal(SIGINT);
    EXPECT_EQ(third->wait(20s), 0) << said();
}

TEST_F(MqttBroker, AFullOrReadOnlyStoreIsSaidAndEveryReadingIsDeliveredOrCounted) {
    if (!mayMount()) {
        GTEST_SKIP() << "a 1 MiB tmpfs of the publisher's own needs root and unshare";
    }
    const std::string conf = config("interval = 0.1\nreport = interval\nhomeassistant = no\n");
    const auto live = subscribe("live", {"ostrel/#"});
    const std::string base = "ostrel/car7/sim-1";
    const std::string topic = base + "/state";
    const std::string state = m_folder / "state";
    std::filesystem::create_directories(state);
    // The publisher in a mount namespace of its own, its state folder a 1 MiB tmpfs that a
    // file already fills to the last 200 KB; or the folder made read-only under it.
    auto inNamespace = [&](const std::string& setup, const std::string& log) {
        return std::make_unique<rig::Process>(
            std::vector<std::string>{"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                                     setup + " && exec \"$@\"", "sh", MQTT_PUBLISHER, "1", conf,
                                     "--state", state, "--log", m_folder / log},
            m_folder / "publisher.out", m_folder / "publisher.err");
    };
    m_broker->stop();
    auto process = inNamespace("mount -t tmpfs -o size=1m tmpfs " + state +
                                   " && head -c 850000 /dev/zero >" + state + "/filler",
                               "full.log");
    ASSERT_TRUE(
        waitFor([&] { return said().find("cannot write the store") != std::string::npos; }, LIMIT))
        << said();
    ASSERT_TRUE(m_broker->start());
    ASSERT_TRUE(waitFor([&] { return !readingsOf(*live, base).empty(); }, LIMIT)) << said();
    process->signal(SIGINT);
    EXPECT_EQ(process->wait(20s), 0) << said();
    const std::vector<std::string> taken = logged(topic, "full.log");
    ASSERT_TRUE(waitFor(
        [&] { return firstArrivals(readingsOf(*live, base)).size() >= taken.size(); }, LIMIT))
        << said();
    EXPECT_EQ(firstArrivals(readingsOf(*live, base)), taken) << "none lost to the full disk";
    const std::string text = said();
    EXPECT_EQ(text.find("cannot write the store"), text.rfind("cannot write the store"))
        << "said once: " << text;

    // A store of an earlier run in a folder that is read-only now: read, and sent.
    std::filesystem::remove(m_folder / "publisher.err");
    m_broker->stop();
    process = publisher(1, conf, {}, "earlier.log");
    ASSERT_TRUE(waitFor([&] { return logged(topic, "earlier.log").size() >= 5; }, LIMIT));
    process->signal(SIGKILL);
    process->wait(10s);
    std::vector<std::string> earlier = logged(topic, "earlier.log");
    ASSERT_TRUE(m_broker->start());
    process =
        inNamespace("mount --bind " + state + " " + state + " && mount -o remount,bind,ro " + state,
                    "readonly.log");
    // A reading is logged just before its commit: the kill may have come in between.
    const std::string still = " readings of an earlier run are still to be delivered";
    ASSERT_TRUE(waitFor([&] { return said().find(still) != std::string::npos; }, LIMIT)) << said();
    const std::string started = said();
    const std::size_t kept =
        std::stoul(started.substr(started.rfind(' ', started.find(still) - 1) + 1));
    ASSERT_LE(kept, earlier.size()) << started;
    ASSERT_GE(kept + 1, earlier.size()) << started;
    earlier.resize(kept);
    ASSERT_TRUE(waitFor(
        [&] {
            const auto arrived = firstArrivals(readingsOf(*live, base));
            return std::search(arrived.begin(), arrived.end(), earlier.begin(), earlier.end()) !=
                   arrived.end();
        },
        LIMIT))
        << said();
    process->signal(SIGINT);
    EXPECT_EQ(process->wait(20s), 0) << said();
    EXPECT_NE(said().find("cannot write the store " + state + "/readings.sqlite"),
              std::string::npos)
        << said();
    EXPECT_NE(said().find("could not be taken out of " + state +
                          "/readings.sqlite and go again at the next start"),
              std::string::npos)
        << said();
}

TEST_F(MqttBroker, AFullBufferDropsTheOldestSaysHowManyAndStaysBounded) {
    // 0.0005 h at 0.1 s: 18 readings.
    const std::string conf =
        config("interval = 0.1\nreport = interval\nbuffer_hours = 0.0005\nhomeassistant = no\n");
    const auto live = subscribe("live", {"ostrel/#"});
    const std::string base = "ostrel/car7/sim-1";
    const std::string topic = base + "/state";
    auto process = publisher(1, conf);
    ASSERT_TRUE(waitFor([&] { return live->on(topic).size() >= 3; }, LIMIT)) << said();
    std::smatch bound;
    const std::string start = said();
    ASSERT_TRUE(std::regex_search(start, bound, std::regex(R"(up to (\d+) readings)"))) << start;
    const std::size_t capacity = std::stoul(bound[1]);
    EXPECT_EQ(capacity, 18U);

    m_broker->stop();
    const std::size_t before = logged(topic).size();
    ASSERT_TRUE(waitFor([&] { return logged(topic).size() >= before + capacity + 30; }, LIMIT));
    ASSERT_TRUE(m_broker->start());
    // Back (at its next attempt): the readings taken until then.
    std::size_t atReturn = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            atReturn = logged(topic).size();
            return said().find("readings dropped") != std::string::npos;
        },
        LIMIT))
        << said();
    process->signal(SIGINT);
    EXPECT_EQ(process->wait(20s), 0) << said();
    // What it said it dropped (once back, and any more while the full buffer emptied).
    std::size_t dropped = 0;
    const std::string text = said();
    const std::regex count(R"((\d+) readings dropped)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), count);
         it != std::sregex_iterator(); ++it) {
        dropped += std::stoul((*it)[1]);
    }
    const std::vector<std::string> taken = logged(topic);
    ASSERT_TRUE(waitFor(
        [&] {
            const auto all = firstArrivals(readingsOf(*live, base));
            return std::find(all.begin(), all.end(), taken.back()) != all.end();
        },
        LIMIT));
    const std::vector<std::string> arrived = firstArrivals(readingsOf(*live, base));
    std::vector<std::size_t> missing;
    for (std::size_t i = 0; i < taken.size(); ++i) {
        if (std::find(arrived.begin(), arrived.end(), taken[i]) == arrived.end()) {
            missing.push_back(i);
        }
    }
    // Everything taken arrived but as many as it said, all from the dead zone, and not the
    // newest of it: the oldest went.
    // A reading in flight when the broker went may have reached it unacknowledged: counted
    // as dropped, it arrives all the same (at most the four messages in flight).
    EXPECT_LE(missing.size(), dropped) << text;
    EXPECT_LE(dropped, missing.size() + 4) << text;
    ASSERT_FALSE(missing.empty());
    // (or in flight, unacknowledged, when the broker went: at most four messages)
    EXPECT_GE(missing.front() + 4, before);
    for (std::size_t i = atReturn - capacity; i < atReturn; ++i) {
        EXPECT_TRUE(std::find(missing.begin(), missing.end(), i) == missing.end()) << i;
    }
}

TEST_F(MqttBroker, ARefusedLoginOrCertificateIsOneLineAndRetried) {
    rig::writeFile(m_folder / "wrong", "not the password\n", 0600);
    const std::string wrongPassword = config("", "wrong.conf", "", "wrong");
    const std::string otherCa = config("ca_file = " + (m_folder / "other-ca.crt") + "\n",
                                       "other-ca.conf", m_broker->tlsUrl());

    using Said = std::pair<std::string, std::string>;
    for (const auto& [conf, line] :
         {Said{wrongPassword,
               "(not authorized): check username, password_file and the broker's access rules"},
          Said{otherCa, "which ca_file " + (m_folder / "other-ca.crt") + " does not hold"}}) {
        SCOPED_TRACE(conf);
        const std::string expected = line;
        std::filesystem::remove(m_folder / "publisher.err");
        // The rig probes the broker from rig::PROBE_SOURCE, which this leaves out.
        const auto connects = [&] {
            const std::string log = m_broker->log();
            const std::string from = "New connection from 127.0.0.1:";
            std::size_t n = 0;
            for (auto at = log.find(from); at != std::string::npos; at = log.find(from, at + 1)) {
                ++n;
            }
            return n;
        };
        const std::size_t connectsBefore = connects();
        auto process = publisher(1, conf);
        ASSERT_TRUE(waitFor([&] { return said().find(expected) != std::string::npos; }, LIMIT))
            << said();
        // The next attempt (after 1 to 1.5 s) as the broker sees it; the schedule of the
        // attempts is PublisherCoreTest's.
        EXPECT_TRUE(waitFor([&] { return connects() >= connectsBefore + 2; }, LIMIT)) << "retried";
        process->signal(SIGINT);
        EXPECT_EQ(process->wait(20s), 0) << said();
        const std::string err = said();
        EXPECT_EQ(err.find(expected), err.rfind(expected)) << "said once: " << err;
    }
}

// A `#` left in the persistent session of our client id by anything else: the first
// connection of the configuration is clean, so the broker sends the publisher nothing.
TEST_F(MqttBroker, ALeftoverSubscriptionCostsNothingAfterTheFirstConnection) {
    const std::string conf = config("interval = 0.1\nreport = interval\nhomeassistant = no\n");
    subscribe("car7", {"#"}).reset();                 // the session stays, with its subscription
    const std::size_t left = m_broker->log().size();  // its probes were sent to it
    const auto live = subscribe("live", {"ostrel/#"});
    const std::string base = "ostrel/car7/sim-1";
    for (int run = 0; run < 2; ++run) {  // the second resumes the session of the first
        SCOPED_TRACE(run);
        const std::size_t before = live->on(base + "/state").size();
        std::filesystem::remove(m_folder / "publisher.err");
        auto process = publisher(1, conf);
        ASSERT_TRUE(waitFor([&] { return live->on(base + "/state").size() >= before + 10; }, LIMIT))
            << said();
        process->signal(SIGINT);
        EXPECT_EQ(process->wait(20s), 0) << said();
        EXPECT_EQ(said().find("a clean session") != std::string::npos, run == 0) << said();
        EXPECT_EQ(said().find("never subscribed to"), std::string::npos) << said();
    }
    EXPECT_EQ(m_broker->log().find("Sending PUBLISH to car7 ", left), std::string::npos);
}

// Two vehicles cloned from one disk image, one client id: each says the takeover once, and
// each waits longer before every next try (1, 2, 4, 8 s at least), not a second each time.
// mosquitto 2.0 gives no reason when it hands a session over.
TEST_F(MqttBroker, TwoPublishersOfOneClientIdSayTheTakeoverAndBackOff) {
    const std::string conf = config("homeassistant = no\n");
    std::vector<std::unique_ptr<rig::Process>> twins;
    for (const std::string twin : {"a", "b"}) {
        std::filesystem::create_directories(m_folder / ("state-" + twin));
        twins.push_back(std::make_unique<rig::Process>(
            std::vector<std::string>{MQTT_PUBLISHER, "1", conf, "--state",
                                     m_folder / ("state-" + twin)},
            m_folder / (twin + ".out"), m_folder / (twin + ".err")));
    }
    const auto connections = [&] {
        const std::string log = m_broker->log();
        std::size_t n = 0;
        for (auto at = log.find(" as car7 "); at != std::string::npos;
             at = log.find(" as car7 ", at + 1)) {
            n += log.rfind("New client connected from", at) > log.rfind('\n', at) ? 1 : 0;
        }
        return n;
    };
    // In words whether the broker gives its reason (0x8E) or, as mosquitto 2.0, none.
    const std::string takeover = "give each vehicle a client_id of its own";
    ASSERT_TRUE(waitFor(
        [&] {
            return rig::readFile(m_folder / "a.err").find(takeover) != std::string::npos &&
                   rig::readFile(m_folder / "b.err").find(takeover) != std::string::npos;
        },
        LIMIT))
        << rig::readFile(m_folder / "a.err") << rig::readFile(m_folder / "b.err");
    // From here, 20 s hold at most the tries of 1 + 2 + 4 + 8 s of each, and the one after.
    const std::size_t start = connections();
    EXPECT_FALSE(waitFor([&] { return connections() - start > 2U * 5U; }, 20s)) << m_broker->log();
    for (auto& twin : twins) {
        twin->signal(SIGINT);
        EXPECT_EQ(twin->wait(20s), 0);
    }
    for (const std::string twin : {"a", "b"}) {
        const std::string err = rig::readFile(m_folder / (twin + ".err"));
        EXPECT_EQ(err.find(takeover), err.rfind(takeover)) << "said once: " << err;
        std::size_t lost = 0;
        for (auto at = err.find("lost the connection"); at != std::string::npos;
             at = err.find("lost the connection", at + 1)) {
            ++lost;
        }
        // Two brief ones, and the first connection, long when the twin started late.
        EXPECT_LE(lost, 3U) << "the losses before it was known: " << err;
    }
}

// The parameters of two simulated controllers over the broker: one written from its set topic,
// read back and answered, the other left as it was; values ostrelctl set refuses refused in its
// words; without writes, no set topic subscribed.
TEST_F(MqttBroker, AParameterIsWrittenFromItsSetTopicAndAnsweredAsSetAnswers) {
    const std::string base = "ostrel/car7-sim/";
    const std::string delay = "/param/delay-before-psu-startup";
    const auto live = subscribe("live", {"ostrel/#"});
    auto text = [&](const std::string& topic) {
        const auto got = live->on(topic);
        return got.empty() ? std::string()
                           : json::parse(got.back().payload).at("text").get<std::string>();
    };
    {
        const std::string conf = config("homeassistant = no\nparameters = yes\n", "read.conf");
        rig::Process process({OSTRELCTL, "--simulated=2", "mqtt", "--config", conf},
                             m_folder / "publisher.out", m_folder / "publisher.err",
                             {{"STATE_DIRECTORY", m_folder / "read-state"}});
        ASSERT_TRUE(waitFor([&] { return text(base + "sim-2" + delay) == "5"; }, LIMIT)) << said();
        process.signal(SIGINT);
        EXPECT_EQ(process.wait(20s), 0) << said();
        EXPECT_EQ(m_broker->log().find("/param/+/set"), std::string::npos) << "writes are off";
    }
    const std::string conf = config("homeassistant = no\nparameters = yes\nwrites = yes\n");
    rig::Process process({OSTRELCTL, "--simulated=2", "mqtt", "--config", conf},
                         m_folder / "publisher.out", m_folder / "publisher.err",
                         {{"STATE_DIRECTORY", m_folder / "ctl-state"}});
    ASSERT_TRUE(waitFor(
        [&] { return m_broker->log().find("ostrel/car7-sim/+/param/+/set") != std::string::npos; },
        LIMIT))
        << said();
    const std::string set = base + "sim-1" + delay + "/set";
    const std::string result = base + "sim-1" + delay + "/result";
    ASSERT_TRUE(m_broker->publish(set, "9"));
    ASSERT_TRUE(waitFor([&] { return !live->on(result).empty(); }, LIMIT)) << said();
    EXPECT_EQ(live->on(result).back().payload, "ok");
    EXPECT_TRUE(waitFor([&] { return text(base + "sim-1" + delay) == "9"; }, LIMIT));
    EXPECT_EQ(text(base + "sim-2" + delay), "5");
    const std::size_t values = live->on(base + "sim-1" + delay).size();
    for (const std::string value : {"300", "abc", "12,5"}) {
        SCOPED_TRACE(value);
        rig::Process refused({OSTRELCTL, "--simulated", "set", "delay-before-psu-startup", value},
                             m_folder / "set.out", m_folder / ("set-" + value + ".err"));
        EXPECT_EQ(refused.wait(20s), 1);
        std::string words = rig::readFile(m_folder / ("set-" + value + ".err"));
        words = words.substr(std::string("ostrelctl: ").size());
        words.pop_back();
        const std::size_t before = live->on(result).size();
        ASSERT_TRUE(m_broker->publish(set, value));
        ASSERT_TRUE(waitFor([&] { return live->on(result).size() > before; }, LIMIT)) << said();
        EXPECT_EQ(live->on(result).back().payload, words);
    }
    EXPECT_EQ(live->on(base + "sim-1" + delay).size(), values)
        << "nothing read again: nothing written";
    EXPECT_NE(said().find("set \"9\" from " + set + ": ok"), std::string::npos) << said();
    process.signal(SIGINT);
    EXPECT_EQ(process.wait(20s), 0) << said();
}

// A fleet's profile, retained on the vehicle's topic, written to both simulated controllers
// once and reported; handed out again (a restart's clean subscription among them) it writes
// nothing; a group's profile of the other firmware family without "convert" fails with
// nothing written.
TEST_F(MqttBroker, AProfileIsAppliedOnceToEachControllerAndReportedRetained) {
    const std::string base = "ostrel/car7-sim/";
    const std::string file = m_folder / "profile.json";
    rig::Process backup({OSTRELCTL, "--simulated", "backup", file}, m_folder / "backup.out",
                        m_folder / "backup.err");
    ASSERT_EQ(backup.wait(20s), 0) << rig::readFile(m_folder / "backup.err");
    json profile = json::parse(rig::readFile(file));
    for (json& entry : profile["parameters"]) {
        entry.erase("text");  // the raw value stands alone, for the other family's copy too
        if (entry["name"] == "Delay before PSU startup") {
            entry["raw"] = 9;
        }
    }
    const std::string own = profile.dump();
    profile["firmware"] = {{"major", 2}, {"minor", 1}};
    const std::string other = profile.dump();
    auto retain = [&](const std::string& topic, const std::string& payload) {
        rig::writeFile(m_folder / "payload", payload);
        return rig::run("mosquitto_pub " + m_broker->credentials() + " -q 1 -r -t '" + topic +
                        "' -f '" + (m_folder / "payload") + "'");
    };
    ASSERT_TRUE(retain(base + "profile", own));
    const auto live = subscribe("live", {"ostrel/#"});
    auto reports = [&](const std::string& level) {
        std::vector<json> all;
        for (const rig::Received& got : live->on(base + level + "/profile")) {
            if (!got.payload.empty()) {  // not the simulated run's clearing as it ends
                all.push_back(json::parse(got.payload));
            }
        }
        return all;
    };
    const std::string conf = config(
        "homeassistant = no\nparameters = yes\nwrites = yes\nprofiles = yes\ngroups = north\n");
    auto start = [&] {
        return std::make_unique<rig::Process>(
            std::vector<std::string>{OSTRELCTL, "--simulated=2", "mqtt", "--config", conf},
            m_folder / "publisher.out", m_folder / "publisher.err",
            std::map<std::string, std::string>{{"STATE_DIRECTORY", m_folder / "ctl-state"}});
    };
    auto process = start();
    ASSERT_TRUE(waitFor(
        [&] { return reports("sim-1").size() == 1 && reports("sim-2").size() == 1; }, LIMIT))
        << said();
    for (const std::string level : {"sim-1", "sim-2"}) {
        const json report = reports(level).back();
        EXPECT_EQ(report["result"], "PASS") << report;
        EXPECT_EQ(report["profileSha256"], ctl::sha256Hex(own));
        EXPECT_EQ(report["profile"], base + "profile");
        EXPECT_EQ(report["written"], 1);
        EXPECT_EQ(report["verified"], profile["parameters"].size());
    }
    const std::string delay = base + "sim-2/param/delay-before-psu-startup";
    EXPECT_TRUE(waitFor(
        [&] {
            const auto values = live->on(delay);
            return !values.empty() && json::parse(values.back().payload)["text"] == "9";
        },
        LIMIT))
        << "read again after the profile";

    // Handed out again, then a restart on the same store: nothing written, nothing reported.
    ASSERT_TRUE(retain(base + "profile", own));
    process->signal(SIGINT);
    ASSERT_EQ(process->wait(20s), 0) << said();
    process = start();
    ASSERT_TRUE(retain("ostrel/groups/north/profile", other));
    ASSERT_TRUE(waitFor(
        [&] { return reports("sim-1").size() >= 2 && reports("sim-2").size() >= 2; }, LIMIT))
        << said();
    for (const std::string level : {"sim-1", "sim-2"}) {
        const std::vector<json> all = reports(level);
        ASSERT_EQ(all.size(), 2U) << "the own profile once only: " << said();
        EXPECT_EQ(all.back()["result"], "FAIL");
        EXPECT_EQ(all.back()["written"], 0);
        EXPECT_EQ(all.back()["profileSha256"], ctl::sha256Hex(other));
        EXPECT_TRUE(all.back()["reason"].get<std::string>().ends_with(
            "; nothing written (\"convert\": true in the profile writes the nearest values)"))
            << all.back();
    }
    process->signal(SIGINT);
    EXPECT_EQ(process->wait(20s), 0) << said();
}

// The mosquitto ACL README.md shows, on the broker: each vehicle publishes only its own
// topics, never a profile nor a set message, and reads only its own set topics, its own
// profile and the groups'; only the fleet's account publishes profiles.
TEST_F(MqttBroker, TheReadmesAclKeepsEachVehicleToItsOwnTopics) {
    std::ifstream readme(OSTREL_README);
    std::string acl;
    bool inBlock = false;
    for (std::string line; std::getline(readme, line);) {
        if (line == "# /etc/mosquitto/ostrel.acl") {
            inBlock = true;
        } else if (inBlock && line.starts_with("```")) {
            break;
        }
        if (inBlock) {
            acl += line + "\n";
        }
    }
    ASSERT_NE(acl.find("pattern"), std::string::npos) << "no ACL in " << OSTREL_README;
    // The test's own account watches everything.
    rig::writeFile(m_folder / "ostrel.acl", acl + "user " + rig::USER + "\ntopic read #\n");
    for (const std::string user : {"fleet", "homeassistant", "car7", "car8"}) {
        ASSERT_TRUE(rig::run("mosquitto_passwd -b '" + (m_folder / "passwd") + "' " + user + " '" +
                             rig::PASSWORD + "'"));
    }
    m_broker->stop();
    rig::writeFile(m_folder / "mosquitto.conf", rig::readFile(m_folder / "mosquitto.conf") +
                                                    "acl_file " + (m_folder / "ostrel.acl") + "\n");
    ASSERT_TRUE(m_broker->start()) << m_broker->log();
    rig::Subscriber all(*m_broker, m_folder, "all", {"#"});
    rig::Subscriber car7(*m_broker, m_folder, "car7", {"ostrel/#"}, true, "car7");
    rig::Subscriber car8(*m_broker, m_folder, "car8", {"ostrel/#"}, true, "car8");
    const std::string barrier = "ostrel/groups/barrier/profile";
    auto publish = [&](const std::string& user, const std::string& topic,
                       const std::string& payload) {
        rig::run("mosquitto_pub " + m_broker->credentials(user) + " -q 1 -t '" + topic + "' -m '" +
                 payload + "'");
    };
    auto seen = [](const rig::Subscriber& who, const std::string& topic,
                   const std::string& payload) {
        const auto got = who.on(topic);
        return std::any_of(got.begin(), got.end(),
                           [&](const rig::Received& one) { return one.payload == payload; });
    };
    ASSERT_TRUE(waitFor(
        [&] {
            publish("fleet", barrier, "ready");
            return seen(all, barrier, "ready") && seen(car7, barrier, "ready") &&
                   seen(car8, barrier, "ready");
        },
        LIMIT));
    struct Row {
        std::string user;
        std::string topic;
        bool allowed;
    };
    const std::vector<Row> rows{
        {"car7", "ostrel/car7/status", true},
        {"car7", "ostrel/car7/1-1/state", true},
        {"car7", "ostrel/car7/1-1/history", true},
        {"car7", "ostrel/car7/1-1/param/delay-before-psu-startup", true},
        {"car7", "ostrel/car7/1-1/param/delay-before-psu-startup/result", true},
        {"car7", "ostrel/car7/1-1/profile", true},
        {"car7", "homeassistant/device/car7_1-1/config", true},
        {"car7", "ostrel/car7/profile", false},
        {"car7", "ostrel/groups/north/profile", false},
        {"car7", "ostrel/car7/1-1/param/delay-before-psu-startup/set", false},
        {"car7", "ostrel/car8/status", false},
        {"car7", "ostrel/car8/1-1/param/delay-before-psu-startup/set", false},
        {"fleet", "ostrel/car7/profile", true},
        {"fleet", "ostrel/groups/north/profile", true},
        {"fleet", "ostrel/car7/1-1/param/delay-before-psu-startup/set", true},
        {"fleet", "ostrel/car7/status", false},
        {"homeassistant", "ostrel/car7/1-1/param/delay-before-psu-startup/set", true},
        {"homeassistant", "ostrel/car7/profile", false},
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.user + " " + row.topic);
        publish(row.user, row.topic, "row " + std::to_string(i));
        publish("fleet", barrier, "after " + std::to_string(i));
        ASSERT_TRUE(
            waitFor([&] { return seen(all, barrier, "after " + std::to_string(i)); }, LIMIT));
        EXPECT_EQ(seen(all, row.topic, "row " + std::to_string(i)), row.allowed);
    }
    ASSERT_TRUE(waitFor(
        [&] {
            const std::string last = "after " + std::to_string(rows.size() - 1);
            return seen(car7, barrier, last) && seen(car8, barrier, last);
        },
        LIMIT));
    // What each vehicle read: its own set topics and profile, and the groups' profiles.
    const std::regex car7Reads(
        "ostrel/(car7/profile|car7/[^/]+/param/[^/]+/set|groups/[^/]+/profile)");
    const std::regex car8Reads("ostrel/groups/[^/]+/profile");
    for (const rig::Received& got : car7.received()) {
        EXPECT_TRUE(std::regex_match(got.topic, car7Reads)) << got.topic;
    }
    for (const rig::Received& got : car8.received()) {
        EXPECT_TRUE(std::regex_match(got.topic, car8Reads)) << got.topic;
    }
    EXPECT_TRUE(seen(car7, "ostrel/car7/profile", "row 12"));
    EXPECT_TRUE(seen(car7, "ostrel/car7/1-1/param/delay-before-psu-startup/set", "row 14"));
}

// --forget empties what a controller left retained, on a connection of its own, and leaves
// the other controllers' as they are.
TEST_F(MqttBroker, ForgetEmptiesOneControllersRetainedTopicsForGood) {
    const std::vector<std::string> left{
        "homeassistant/device/car7_sim-1/config", "homeassistant/sensor/car7_sim-1/state/config",
        "ostrel/car7/sim-1/status", "ostrel/car7/sim-1/param/delay-before-psu-startup",
        "homeassistant/device/car7_sim-2/config"};
    for (const std::string& topic : left) {
        ASSERT_TRUE(rig::run("mosquitto_pub " + m_broker->credentials() + " -q 1 -r -t '" + topic +
                             "' -m x"));
    }
    const std::string conf = config("");
    rig::Process forget({OSTRELCTL, "mqtt", "--config", conf, "--forget", "sim-1"},
                        m_folder / "forget.out", m_folder / "forget.err");
    ASSERT_EQ(forget.wait(30s), 0) << rig::readFile(m_folder / "forget.err");
    EXPECT_TRUE(rig::readFile(m_folder / "forget.out").starts_with("forgot sim-1 of car7 on "));
    const auto later = subscribe("later", {"ostrel/#", "homeassistant/#"}, false);
    ASSERT_TRUE(waitFor([&] { return !later->on(left.back()).empty(); }, LIMIT));
    for (const std::string& topic : left) {
        EXPECT_EQ(later->on(topic).empty(), topic != left.back()) << topic;
    }
    rig::Process refused({OSTRELCTL, "mqtt", "--config", conf, "--forget", "sim-1/#"},
                         m_folder / "forget.out", m_folder / "refused.err");
    EXPECT_EQ(refused.wait(30s), 1);
}

}  // namespace
