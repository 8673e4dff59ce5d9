// A fleet's profiles over the broker: a backup file, retained on the vehicle's profile topic
// or on a group's, written to each controller as the station writes a unit (only what
// differs, each write read back, every parameter verified), once for each content (its
// SHA-256) a topic has and each controller, and answered with a retained report per
// controller. What was applied, the profiles and the reports are kept in the store, so that
// neither a restart nor a retained message handed out again writes anything twice, and a
// controller plugged in later still gets them. It decides only: ParamLink's owner runs the
// programming (ParamJob::Kind::Profile) and hands back what came of it.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "services/mqtt/MqttConfig.h"
#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/ParamJob.h"
#include "services/mqtt/ReadingQueue.h"

namespace ctl::mqtt {

class MqttClient;

class ProfileLink {
public:
    using Clock = std::chrono::steady_clock;

    ProfileLink(const MqttConfig& config, const Topics& topics, ParamCalls calls);

    // The store the profiles, what was applied and the reports are kept in; before the first
    // connection. What it holds is taken up again.
    void useStore(ReadingQueue* store);
    void track(const std::string& location);
    void untrack(const std::string& location);
    // A reading of `location`: a profile that found the controller held is tried again.
    void reading(const std::string& location, Clock::time_point now);
    void connected(bool sessionPresent, MqttClient& client);
    void lost();
    bool isProfile(const std::string& topic) const;
    void message(const std::string& topic, const std::string& payload);
    // A profile's job done; false for any other job.
    bool done(const ParamDone& done, Clock::time_point now);
    bool delivered(int token);

private:
    struct Profile {
        std::string payload;
        std::string sha256;
        bool convert = false;
        std::string refusal;  // why it is no profile; empty when it is one
    };
    struct Controller {
        std::string topic;  // of its report
        bool busy = false;  // a job of it runs
        std::optional<Clock::time_point> retryAt;
        bool heldTold = false;
        std::string report;  // the last one
        std::string held;    // the one the broker acknowledged
        std::string sending;
        std::optional<int> token;  // of `sending`
    };

    // Starts the first profile `location` has not had, if any.
    void consider(const std::string& location);
    void take(const std::string& topic, const std::string& payload);
    void finish(const std::string& location, const std::string& topic, const Profile& profile,
                const std::string& report);
    void send(Controller& controller);
    std::string applied(const std::string& location, const std::string& topic) const;

    const Topics& m_topics;
    const ParamCalls m_calls;
    const std::vector<std::string> m_sources;  // the profile topics, in the order applied
    ReadingQueue* m_store = nullptr;
    std::map<std::string, Profile> m_profiles;  // by topic
    // What was applied (or refused for good) to each controller: location, topic: SHA-256.
    // Mirrors the store's, which is skipped without one.
    std::map<std::pair<std::string, std::string>, std::string> m_applied;
    std::map<std::string, Controller> m_controllers;  // by location
    bool m_connected = false;
};

}  // namespace ctl::mqtt
