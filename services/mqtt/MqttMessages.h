// What the publisher says on which topic: the controllers' states, the availability of the
// publisher and of each controller, and Home Assistant's discovery configs. Pure: no broker.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "core/readings/StatusJson.h"
#include "device/Wire.h"
#include "services/mqtt/MqttConfig.h"

namespace ctl::mqtt {

inline constexpr const char* ONLINE = "online";
inline constexpr const char* OFFLINE = "offline";
// What the factory reset's set topic takes (Home Assistant's button sends it): nothing else.
inline constexpr const char* FACTORY_RESET_PAYLOAD = "reset";

struct Message {
    std::string topic;
    std::string payload;
};

struct ControllerTopics {
    std::string level;    // the location as one topic level
    std::string state;    // PREFIX/CLIENTID/LEVEL/state
    std::string status;   // PREFIX/CLIENTID/LEVEL/status
    std::string history;  // PREFIX/CLIENTID/LEVEL/history: the readings of a dead zone
    // PREFIX/CLIENTID/LEVEL/param/NAME: a parameter (NAME its short name), retained;
    // NAME/set: a value to write; NAME/result: what came of it.
    std::string params;
    std::string profile;  // PREFIX/CLIENTID/LEVEL/profile: what the last profile came to
    std::string id;       // Home Assistant's id of the device: CLIENTID_LEVEL in [a-zA-Z0-9_-]
};

class Topics {
public:
    explicit Topics(const MqttConfig& config);

    // PREFIX/CLIENTID/status: the publisher's availability (retained, with the last will).
    std::string publisherStatus() const { return m_base + "/status"; }
    // HAPREFIX/status: where Home Assistant announces itself.
    std::string homeAssistantStatus() const { return m_homeAssistant + "/status"; }
    ControllerTopics controller(const std::string& location) const;
    // PREFIX/CLIENTID/+/param/+/set: the set topics of every controller of this client.
    std::string setFilter() const { return m_base + "/+/param/+/set"; }
    // The location level and the parameter's name of one of those topics; none for another.
    struct SetTopic {
        std::string level;
        std::string name;
    };
    std::optional<SetTopic> parseSet(const std::string& topic) const;
    // The profiles this client takes, in the order they are applied: each group's
    // (PREFIX/groups/GROUP/profile), then the vehicle's own (PREFIX/CLIENTID/profile), which
    // so has the last word.
    std::vector<std::string> profiles(const MqttConfig& config) const;

private:
    std::string m_prefix;
    std::string m_base;
    std::string m_clientId;
    std::string m_homeAssistant;
};

// The state: the keys of `status --json` (numbers), with `time` when the reading was taken
// (UTC, milliseconds); the caption and the KEYText texts only with `texts`.
std::string statePayload(const StatusReport& status, const StatusTexts& texts,
                         std::chrono::system_clock::time_point taken, bool withTexts);

// Home Assistant's discovery of one controller, in the form the configuration chooses: one
// message (device form) or one per entity. Every key is one Home Assistant's MQTT discovery
// documents (abbreviated).
std::vector<Message> discoveryMessages(const MqttConfig& config, const Topics& topics,
                                       const std::string& location, const StatusReport& status);

// The retained topics of a controller at `location` of this client: its discovery, its
// status, its parameters and its profile's report, as `config` announces them, or (`every`)
// whatever the discovery's form and the parameters' settings were. Emptied, they leave nothing of
// it on the broker nor in Home Assistant.
std::vector<std::string> retainedTopics(const MqttConfig& config, const Topics& topics,
                                        const std::string& location, bool every);

// Whether `now` differs from `before` in what is published at once: the mode, the firmware or
// a status field that is no measurement (the state, any flag bit).
bool changedAtOnce(const StatusReport& before, const StatusReport& now);

}  // namespace ctl::mqtt
