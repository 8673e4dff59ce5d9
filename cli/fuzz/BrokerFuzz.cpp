// libFuzzer: any message a broker may send the MQTT publisher (a set, a profile, a birth
// message, a topic of another client), through its decisions and its writes to a simulated
// controller. Besides what the sanitizers catch, it stops on an outcome the publisher must
// never have:
// - a write frame for a set message the strict reader refuses, for a profile that is no
//   backup file, or for any topic but the exact set topic of a controller of this client or
//   one of its profile topics;
// - a set message routed without exactly one answer on its result topic;
// - a profile without exactly one report when its content is new on its topic, or with one
//   when it is not (handed out again, taken back, or given again after it was taken back).
// The first byte picks the message's kind and the retain flag; the rest is the topic, a NUL,
// and the payload.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "core/files/BackupFile.h"
#include "core/names/ParamNames.h"
#include "device/Wire.h"
#include "params/StrictValue.h"
#include "platform/sim/SimHidPlatform.h"
#include "services/mqtt/ParamWorker.h"
#include "services/mqtt/PublisherCore.h"
#include "sim/SimulatedOstrel.h"

namespace {

using namespace ctl::mqtt;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "broker fuzzer: %s\n", what);
        std::abort();
    }
}

struct StillClock final : Clock {
    Steady::time_point at{};
    Steady::time_point now() override { return at; }
    void sleepFor(Steady::duration duration) override { at += duration; }
};

struct NoChance final : Random {
    long long between(long long low, long long) override { return low; }
};

struct Client final : MqttClient {
    std::string create() override { return {}; }
    void connect(bool) override { connecting = true; }
    std::optional<int> publish(const std::string& topic, const std::string& payload, bool, unsigned,
                               std::string&) override {
        if (topic.ends_with("/result")) {
            ++results;
        }
        if (topic == "ostrel/car7/sim-1/profile") {
            ++reports;
        }
        (void)payload;
        pending.push_back(++token);
        return token;
    }
    void subscribe(const std::string&) override {}
    void disconnect(std::chrono::milliseconds) override {}
    void abandon() override {}
    bool isConnected() override { return true; }
    int token = 0;
    int results = 0;
    int reports = 0;
    std::vector<int> pending;  // sent, not yet acknowledged
    bool connecting = false;
};

struct Quiet final : MqttClient::Listener {
    void connected(bool) override {}
    void connectFailed(const std::string&, int) override {}
    void connectionLost(const std::string&, int) override {}
    void delivered(int) override {}
    void messageArrived(const std::string&, const std::string&, bool) override {}
};

class Fixture final : public ctl::PlatformSource {
public:
    Fixture() : m_controller(m_platform) {
        m_platform.setRealSleep(false);
        MqttConfig config;
        config.broker = *parseBrokerUrl("mqtt://127.0.0.1");
        config.clientId = "car7";
        config.username = "fleet";
        config.parameters = config.writes = config.factoryReset = config.profiles = true;
        config.groups = {"north"};
        m_core = std::make_unique<PublisherCore>(
            config, m_clock, m_random, [](const std::string&) {}, nullptr);
        m_core->runParams([this](ParamJob job) { m_jobs.push_back(std::move(job)); });
        m_core->track(m_controller.location());
        m_core->start(
            [this](const MqttClient::Settings&, MqttClient::Listener&) {
                auto made = std::make_unique<Client>();
                m_client = made.get();
                return made;
            },
            m_quiet, std::nullopt, "");
        m_core->handle({Event::Kind::Connected, {}, {}, 0});
        m_client->connecting = false;
        ctl::Reading reading{m_controller.location(), ctl::Answer::Ok, {}, {}, {}};
        reading.status.version = 0x12;
        m_core->handle({Event::Kind::Reading, reading, {}});
        runJobs();
    }

    platform::HidPlatform& platform(const ctl::Simulation&) override { return m_platform; }
    sim::SimulatedOstrel& controller() { return m_controller; }
    PublisherCore& core() { return *m_core; }
    Client& client() { return *m_client; }
    StillClock& clock() { return m_clock; }

    void runJobs() {
        std::istringstream in;
        std::ostringstream out, err;
        ctl::CommandContext context{{in, out, err, nullptr}, *this, {}, m_interrupted};
        context.global.timeoutMs = 2000;
        for (; !m_jobs.empty(); m_jobs.pop_front()) {
            m_core->handle({Event::Kind::ParamsDone,
                            {},
                            {},
                            0,
                            {},
                            std::make_shared<const ParamDone>(
                                ParamWorker::perform(context, m_platform, m_jobs.front()))});
        }
    }

private:
    platform::SimHidPlatform m_platform;
    sim::SimulatedOstrel m_controller;
    std::atomic<bool> m_interrupted{false};
    StillClock m_clock;
    NoChance m_random;
    Quiet m_quiet;
    std::deque<ParamJob> m_jobs;
    Client* m_client = nullptr;
    std::unique_ptr<PublisherCore> m_core;
};

// Whether the set of `topic` with `payload` is one the publisher may write: the exact set
// topic of an offered row of sim-1, a value the strict reader takes for it (or the factory
// reset's own word).
bool mayWrite(const std::string& topic, const std::string& payload) {
    const std::string head = "ostrel/car7/sim-1/param/";
    if (!topic.starts_with(head) || !topic.ends_with("/set")) {
        return false;
    }
    const std::string name = topic.substr(head.size(), topic.size() - head.size() - 4);
    ParamTable table;
    table.applyFirmwareVersion(0x12);
    for (const int index : table.offeredRows()) {
        if (ctl::shortName(table.row(index).name) == name) {
            const ParamDef& row = table.row(index);
            return row.kind == PK_ACTION ? payload == FACTORY_RESET_PAYLOAD
                                         : parseStrictValue(row, payload).value.has_value();
        }
    }
    return false;
}

// Whether a profile may write: a backup file the reader takes whole, its "convert" a
// boolean when given.
bool mayProgram(const std::string& payload) {
    std::vector<std::string> faults;
    ctl::parseBackup(payload, faults);
    if (!faults.empty()) {
        return false;
    }
    const auto root = nlohmann::json::parse(payload, nullptr, false);
    return !root.contains("convert") || root["convert"].is_boolean();
}

bool wrote(sim::SimulatedOstrel& controller) {
    for (const auto& frame : controller.device().writes()) {
        if (frame.size() > 1 && frame[0] == CMD_PARAM && frame[1] == PARAM_WRITE) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    if (size == 0) {
        return 0;
    }
    sim::SimulatedOstrel& controller = fixture.controller();
    controller.firmware().restoreFactoryDefaults();
    controller.firmware().setFirmwareVersion(0x12);
    controller.device().clearWrites();
    fixture.clock().sleepFor(std::chrono::seconds(2));  // no input meets another's rate limit

    const std::uint8_t kind = data[0];
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t nul = rest.find('\0');
    std::string topic = rest.substr(0, nul);
    const std::string payload = nul == std::string::npos ? "" : rest.substr(nul + 1);
    // Most inputs on a set topic of ours, so that the payloads meet the strict reader.
    if ((kind & 3) == 0) {
        topic = "ostrel/car7/sim-1/param/" + topic + "/set";
    } else if ((kind & 3) == 1) {
        topic = "homeassistant/status";
    } else if ((kind & 3) == 2) {
        topic = (kind & 8) != 0 ? "ostrel/groups/north/profile" : "ostrel/car7/profile";
    }
    const bool retained = (kind & 4) != 0;
    PublisherCore& core = fixture.core();
    const int answered = fixture.client().results;
    const int reported = fixture.client().reports;
    const bool profile = topic == "ostrel/car7/profile" || topic == "ostrel/groups/north/profile";
    // The content each profile topic has had last: a new one is reported, once. Taken back
    // (an empty message) and given again, it is no new one.
    static std::map<std::string, std::string> lastProfile;
    const bool newProfile = profile && !payload.empty() && lastProfile[topic] != payload;
    if (newProfile) {
        lastProfile[topic] = payload;
    }
    bool routed = false;
    // As the publisher's listener routes what the broker sends.
    if (core.isBirth(topic, payload)) {
        core.handle({Event::Kind::HomeAssistantOnline, {}, {}});
    } else if (core.isCommand(topic)) {
        routed = true;
        core.handle({Event::Kind::SetMessage, {}, topic, retained ? 1 : 0, payload, {}});
    } else if (!core.subscribed(topic)) {
        core.handle({Event::Kind::ForeignMessage, {}, topic});
    }
    fixture.runJobs();
    // The broker acknowledges everything: the link stays up however long the run.
    std::vector<int> sent;
    sent.swap(fixture.client().pending);
    for (const int token : sent) {
        core.handle({Event::Kind::Delivered, {}, {}, token});
    }
    core.tick();
    // Counted before a new session, whose start sends every report again.
    const int reports = fixture.client().reports;
    // A clean session after another client's topic: the broker takes it at once.
    if (fixture.client().connecting) {
        fixture.client().connecting = false;
        core.handle({Event::Kind::Connected, {}, {}, 0});
    }
    require(!wrote(controller) ||
                (routed && (profile ? mayProgram(payload) : !retained && mayWrite(topic, payload))),
            "a write the strict reader refuses, or on a topic not ours");
    require(fixture.client().results - answered == (routed && !profile ? 1 : 0),
            "a set message without exactly one answer");
    require(reports - reported == (newProfile ? 1 : 0),
            "a profile without exactly one report when new, or one when not");
    return 0;
}
