// The controllers' parameters over the broker: read at the start, after each write and when
// the firmware changes, each published retained on a topic of its own; with writes, a value
// on a set topic taken as `ostrelctl set` takes it, a few a second a controller at most, and
// answered on the result topic beside it. It decides only: its owner runs the reads and the
// writes (ParamJob) on a thread of its own, and hands back what came of them (ParamDone) in
// order with the other events.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "services/mqtt/MqttClient.h"
#include "services/mqtt/MqttConfig.h"
#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/ParamJob.h"
#include "services/mqtt/ProfileLink.h"

namespace ctl::mqtt {

class ParamLink {
public:
    using Clock = std::chrono::steady_clock;
    using Say = std::function<void(const std::string& line)>;
    using Publish = std::function<std::optional<int>(const std::string& topic,
                                                     const std::string& payload, bool retained)>;
    using Run = std::function<void(ParamJob job)>;

    ParamLink(const MqttConfig& config, const Topics& topics, Say say, Publish publish, Run run);

    void track(const std::string& location);
    void untrack(const std::string& location);
    // A reading of `location`, firmware `version`: a new firmware is read again, and a read
    // that found the controller held is tried again a while later.
    void reading(const std::string& location, std::uint8_t version, Clock::time_point now);
    // Subscribes the set topics and sends what the broker does not hold.
    void connected(bool sessionPresent, MqttClient& client);
    void lost();
    // Whether a message on `topic` is one to act on: a set topic (with writes) or a profile
    // (with profiles).
    bool isCommand(const std::string& topic) const;
    // Where the profiles keep what they applied; before the first connection.
    void useStore(ReadingQueue* store) { m_profiles.useStore(store); }
    void setMessage(const std::string& topic, const std::string& payload, bool retained,
                    Clock::time_point now);
    void done(const ParamDone& done, Clock::time_point now);
    // Whether the token was one of a parameter's messages.
    bool delivered(int token);

private:
    struct Value {
        std::string payload;
        std::string held;  // what the broker acknowledged
        std::string sending;
        std::optional<int> token;  // of `sending`
    };
    struct Controller {
        std::string level;
        std::string params;                  // the topic the parameters' own are under
        std::optional<std::uint8_t> readAt;  // the firmware of the last read asked
        std::optional<Clock::time_point> retryAt;
        bool heldTold = false;
        std::deque<Clock::time_point> recent;  // the writes of the last second
        int waiting = 0;                       // writes asked and not done
        bool floodTold = false;
        std::map<std::string, Value> values;  // by topic
    };

    void read(const std::string& location, Controller& controller);
    void answer(const std::string& setTopic, const std::string& payload, const std::string& words,
                bool journal = true);
    void takeValues(Controller& controller, const std::string& values);
    void send(Controller& controller);
    const std::string* locationOf(const std::string& level) const;

    const MqttConfig& m_config;
    const Topics& m_topics;
    const Say m_say;
    const Publish m_publish;
    const Run m_run;
    std::map<std::string, Controller> m_controllers;  // by location
    bool m_connected = false;
    ProfileLink m_profiles;
};

}  // namespace ctl::mqtt
