#include "services/mqtt/ParamLink.h"

#include <nlohmann/json.hpp>

#include "core/context/Context.h"
#include "core/names/ParamNames.h"
#include "core/texts/OutsideText.h"
#include "params/ParamTable.h"
#include "params/StrictValue.h"

namespace ctl::mqtt {
namespace {

using json = nlohmann::ordered_json;

// Writes a controller takes in any one second; the rest are refused, not queued.
constexpr std::size_t WRITES_A_SECOND = 3;
// Writes asked of one controller and not yet done, at most.
constexpr int WAITING_WRITES = 4;
// The longest value any row takes is "17:59:59" or a number: more is no value.
constexpr std::size_t LONGEST_VALUE = 64;
// A read that found the controller held by another program is tried again this much later.
constexpr auto READ_AGAIN = std::chrono::seconds(10);

// The offered row whose short name is `name`, or -1: a set topic names it exactly.
int rowNamed(const std::string& name) {
    const ParamTable table;
    for (const int index : table.offeredRows()) {
        if (shortName(table.row(index).name) == name) {
            return index;
        }
    }
    return -1;
}

}  // namespace

ParamLink::ParamLink(const MqttConfig& config, const Topics& topics, Say say, Publish publish,
                     Run run)
    : m_config(config),
      m_topics(topics),
      m_say(std::move(say)),
      m_publish(std::move(publish)),
      m_run(run),
      m_profiles(config, topics, {m_say, m_publish, std::move(run)}) {}

void ParamLink::track(const std::string& location) {
    m_profiles.track(location);
    if (m_config.parameters && !m_controllers.contains(location)) {
        const ControllerTopics topics = m_topics.controller(location);
        m_controllers[location].level = topics.level;
        m_controllers[location].params = topics.params;
    }
}

void ParamLink::untrack(const std::string& location) {
    m_profiles.untrack(location);
    m_controllers.erase(location);
}

void ParamLink::read(const std::string& location, Controller& controller) {
    controller.retryAt.reset();
    m_run({ParamJob::Kind::Read, location, {}, {}, {}});
}

void ParamLink::reading(const std::string& location, std::uint8_t version, Clock::time_point now) {
    m_profiles.reading(location, now);
    const auto found = m_controllers.find(location);
    if (found == m_controllers.end()) {
        return;
    }
    Controller& controller = found->second;
    if (!controller.readAt || *controller.readAt != version) {
        controller.readAt = version;
        read(location, controller);
    } else if (controller.retryAt && now >= *controller.retryAt) {
        read(location, controller);
    }
}

void ParamLink::connected(bool sessionPresent, MqttClient& client) {
    m_connected = true;
    if (m_config.writes) {
        client.subscribe(m_topics.setFilter());
    }
    m_profiles.connected(sessionPresent, client);
    for (auto& [location, controller] : m_controllers) {
        if (!sessionPresent) {
            // A broker that lost our session lost what it retained with it.
            for (auto& [topic, value] : controller.values) {
                value.held.clear();
            }
        }
        send(controller);
    }
}

void ParamLink::lost() {
    m_connected = false;
    m_profiles.lost();
    for (auto& [location, controller] : m_controllers) {
        for (auto& [topic, value] : controller.values) {
            value.token.reset();  // never acknowledged now: sent again on the next connection
        }
    }
}

bool ParamLink::isCommand(const std::string& topic) const {
    return (m_config.writes && m_topics.parseSet(topic).has_value()) || m_profiles.isProfile(topic);
}

const std::string* ParamLink::locationOf(const std::string& level) const {
    for (const auto& [location, controller] : m_controllers) {
        if (controller.level == level) {
            return &location;
        }
    }
    return nullptr;
}

void ParamLink::answer(const std::string& setTopic, const std::string& payload,
                       const std::string& words, bool journal) {
    const std::string result = setTopic.substr(0, setTopic.size() - 3) + "result";
    if (journal) {
        m_say("set " +
              (payload.size() <= LONGEST_VALUE ? "\"" + escapeControls(payload) + "\""
                                               : std::to_string(payload.size()) + " bytes") +
              " from " + escapeControls(setTopic) + ": " + words);
    }
    if (m_connected) {
        m_publish(result, words, false);
    }
}

void ParamLink::setMessage(const std::string& topic, const std::string& payload, bool retained,
                           Clock::time_point now) {
    if (m_profiles.isProfile(topic)) {
        return m_profiles.message(topic, payload);
    }
    const std::optional<Topics::SetTopic> set = m_topics.parseSet(topic);
    if (!set || !m_config.writes) {
        return;
    }
    // Retained, it would be written again at every new subscription: acted on never.
    if (retained) {
        return answer(topic, payload,
                      "not written: a retained set message is not acted on; publish it without "
                      "the retain flag");
    }
    const std::string* location = locationOf(set->level);
    if (location == nullptr) {
        return answer(topic, payload,
                      "not written: no controller at " + escapeControls(set->level) + " on " +
                          m_config.clientId + " now");
    }
    const int row = rowNamed(set->name);
    if (row < 0) {
        return answer(topic, payload,
                      "not written: no parameter is named \"" + escapeControls(set->name) +
                          "\" (a set topic names one by its short name, as ostrelctl list "
                          "shows it)");
    }
    const bool reset = ParamTable().row(row).kind == PK_ACTION;
    if (reset && !m_config.factoryReset) {
        return answer(topic, payload,
                      "not written: the factory reset is not taken over MQTT here "
                      "(factory_reset = no)");
    }
    if (payload.size() > LONGEST_VALUE) {
        return answer(topic, payload,
                      "not written: the value is longer than " + std::to_string(LONGEST_VALUE) +
                          " bytes, more than any parameter takes");
    }
    if (escapeControls(payload) != payload) {
        return answer(topic, payload,
                      "not written: the value is not plain UTF-8 text (control characters or "
                      "malformed bytes)");
    }
    if (reset && payload != FACTORY_RESET_PAYLOAD) {
        return answer(topic, payload,
                      std::string("not written: the factory reset takes \"") +
                          FACTORY_RESET_PAYLOAD + "\" and nothing else");
    }
    // What no firmware takes is refused at once, in set's words: it costs no claim and
    // counts against no limit.
    if (!reset) {
        if (const std::string refusal = refusalOnEveryFirmware(row, payload); !refusal.empty()) {
            return answer(topic, payload, refusal);
        }
    }
    Controller& controller = m_controllers[*location];
    while (!controller.recent.empty() &&
           now - controller.recent.front() >= std::chrono::seconds(1)) {
        controller.recent.pop_front();
    }
    if (controller.recent.size() >= WRITES_A_SECOND) {
        // A flood is answered message by message, and said in the journal once.
        const bool journal = !controller.floodTold;
        controller.floodTold = true;
        return answer(topic, payload,
                      "not written: more than " + std::to_string(WRITES_A_SECOND) +
                          " writes a second to this controller; send it again later",
                      journal);
    }
    controller.floodTold = false;
    if (controller.waiting >= WAITING_WRITES) {
        return answer(topic, payload,
                      std::to_string(WAITING_WRITES) +
                          " writes to this controller are still waiting: not written; send it "
                          "again later");
    }
    controller.recent.push_back(now);
    ++controller.waiting;
    m_run({reset ? ParamJob::Kind::FactoryReset : ParamJob::Kind::Write, *location, set->name,
           payload, topic});
}

void ParamLink::takeValues(Controller& controller, const std::string& values) {
    const json array = json::parse(values, nullptr, false);
    if (!array.is_array()) {
        return;
    }
    const ParamTable table;
    for (const json& value : array) {
        if (!value.is_object() || !value.contains("row") || !value["row"].is_number_integer()) {
            continue;
        }
        const std::string name = shortName(table.row(value["row"].get<int>()).name);
        controller.values[controller.params + "/" + name].payload = value.dump();
    }
}

void ParamLink::send(Controller& controller) {
    if (!m_connected) {
        return;
    }
    for (auto& [topic, value] : controller.values) {
        if (value.payload == value.held || value.token) {
            continue;
        }
        value.token = m_publish(topic, value.payload, true);
        value.sending = value.payload;
    }
}

void ParamLink::done(const ParamDone& done, Clock::time_point now) {
    if (m_profiles.done(done, now)) {
        // What a profile wrote is read again, so that the parameters' topics say it.
        if (const auto found = m_controllers.find(done.job.location);
            found != m_controllers.end() && done.unit && done.unit->written > 0) {
            read(done.job.location, found->second);
        }
        return;
    }
    const auto found = m_controllers.find(done.job.location);
    if (found == m_controllers.end()) {
        return;  // gone meanwhile
    }
    Controller& controller = found->second;
    if (!done.values.empty()) {
        takeValues(controller, done.values);
        send(controller);
    }
    if (done.job.kind != ParamJob::Kind::Read) {
        --controller.waiting;
        answer(done.job.topic, done.job.value, done.code == EXIT_OK ? "ok" : done.said);
        return;
    }
    if (done.code == EXIT_OK) {
        controller.heldTold = false;
        return;
    }
    controller.retryAt = now + READ_AGAIN;
    if (done.code != EXIT_CLAIMED || !controller.heldTold) {
        m_say("the parameters of " + escapeControls(done.job.location) + " were not read: " +
              done.said + (done.code == EXIT_CLAIMED ? "; read again once it is free" : ""));
        controller.heldTold = done.code == EXIT_CLAIMED;
    }
}

bool ParamLink::delivered(int token) {
    if (m_profiles.delivered(token)) {
        return true;
    }
    for (auto& [location, controller] : m_controllers) {
        for (auto& [topic, value] : controller.values) {
            if (value.token == token) {
                value.token.reset();
                value.held = value.sending;
                send(controller);  // a newer value read meanwhile
                return true;
            }
        }
    }
    return false;
}

}  // namespace ctl::mqtt
