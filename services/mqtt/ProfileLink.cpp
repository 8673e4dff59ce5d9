#include "services/mqtt/ProfileLink.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/context/Context.h"
#include "core/files/BackupFile.h"
#include "core/files/Sha256.h"
#include "core/texts/OutsideText.h"
#include "services/mqtt/MqttClient.h"

namespace ctl::mqtt {
namespace {

using json = nlohmann::ordered_json;

// A backup of every parameter is about 6 KB: a profile ten times that is none.
constexpr std::size_t PROFILE_LIMIT = 64 * 1024;
// A profile that found the controller held, or lost it, is tried again this much later.
constexpr auto TRY_AGAIN = std::chrono::seconds(10);

// The store's keys.
std::string profileKey(const std::string& topic) {
    return "profile " + topic;
}
std::string appliedKey(const std::string& location, const std::string& topic) {
    return "profile-applied " + location + " " + topic;
}
std::string reportKey(const std::string& location) {
    return "profile-report " + location;
}
std::string heldKey(const std::string& location) {
    return "profile-report-held " + location;
}

// A digest short enough for the journal.
std::string shortSha(const std::string& sha256) {
    return sha256.substr(0, 12);
}

}  // namespace

ProfileLink::ProfileLink(const MqttConfig& config, const Topics& topics, ParamCalls calls)
    : m_topics(topics), m_calls(std::move(calls)), m_sources(topics.profiles(config)) {}

void ProfileLink::take(const std::string& topic, const std::string& payload) {
    Profile& profile = m_profiles[topic];
    profile = {payload, sha256Hex(payload), false, {}};
    if (payload.size() > PROFILE_LIMIT) {
        profile.refusal = "not a backup file: longer than " + std::to_string(PROFILE_LIMIT / 1024) +
                          " KB, far more than one of every parameter";
        return;
    }
    std::vector<std::string> faults;
    parseBackup(payload, faults);
    if (!faults.empty()) {
        profile.refusal = escapeControls(faults.front());
        if (faults.size() > 1) {
            profile.refusal += " (and " + std::to_string(faults.size() - 1) + " more faults)";
        }
        return;
    }
    const json root = json::parse(payload, nullptr, false);
    if (const auto convert = root.find("convert"); convert != root.end()) {
        if (!convert->is_boolean()) {
            profile.refusal = "\"convert\" must be true or false";
        } else {
            profile.convert = convert->get<bool>();
        }
    }
}

void ProfileLink::useStore(ReadingQueue* store) {
    m_store = store;
    if (m_store == nullptr) {
        return;
    }
    for (const std::string& topic : m_sources) {
        if (const std::string payload = m_store->meta(profileKey(topic)); !payload.empty()) {
            take(topic, payload);
        }
    }
    // Those tracked before the store was open take up what it holds of them.
    std::vector<std::string> tracked;
    for (const auto& [location, controller] : m_controllers) {
        tracked.push_back(location);
    }
    for (const std::string& location : tracked) {
        untrack(location);
        track(location);
    }
}

void ProfileLink::track(const std::string& location) {
    if (m_sources.empty() || m_controllers.contains(location)) {
        return;
    }
    Controller& controller = m_controllers[location];
    controller.topic = m_topics.controller(location).profile;
    if (m_store != nullptr) {
        controller.report = m_store->meta(reportKey(location));
        controller.held = m_store->meta(heldKey(location));
        for (const std::string& topic : m_sources) {
            if (std::string sha = m_store->meta(appliedKey(location, topic)); !sha.empty()) {
                m_applied[{location, topic}] = std::move(sha);
            }
        }
    }
}

// What was applied stays known: unplugged and back, a controller gets nothing twice, with or
// without a store.
void ProfileLink::untrack(const std::string& location) {
    m_controllers.erase(location);
}

std::string ProfileLink::applied(const std::string& location, const std::string& topic) const {
    const auto found = m_applied.find({location, topic});
    return found == m_applied.end() ? std::string() : found->second;
}

void ProfileLink::reading(const std::string& location, Clock::time_point now) {
    const auto found = m_controllers.find(location);
    if (found != m_controllers.end() && !found->second.busy &&
        (!found->second.retryAt || now >= *found->second.retryAt)) {
        consider(location);
    }
}

void ProfileLink::consider(const std::string& location) {
    Controller& controller = m_controllers.at(location);
    for (const std::string& topic : m_sources) {
        const auto profile = m_profiles.find(topic);
        if (profile == m_profiles.end() || applied(location, topic) == profile->second.sha256) {
            continue;
        }
        if (!profile->second.refusal.empty()) {
            UnitResult refused;
            refused.code = EXIT_USAGE;
            refused.reason = profile->second.refusal + "; nothing written";
            json report{{"time", utcText(std::chrono::system_clock::now(), true)},
                        {"profile", topic},
                        {"profileSha256", profile->second.sha256},
                        {"location", location},
                        {"firmware", nullptr}};
            resultFields(report, refused);
            finish(location, topic, profile->second, report.dump());
            continue;
        }
        controller.busy = true;
        controller.retryAt.reset();
        m_calls.run({ParamJob::Kind::Profile,
                     location,
                     {},
                     profile->second.payload,
                     topic,
                     profile->second.convert});
        return;
    }
}

void ProfileLink::finish(const std::string& location, const std::string& topic,
                         const Profile& profile, const std::string& report) {
    m_applied[{location, topic}] = profile.sha256;
    Controller& controller = m_controllers.at(location);
    controller.report = report;
    if (m_store != nullptr) {
        m_store->setMeta(appliedKey(location, topic), profile.sha256);
        m_store->setMeta(reportKey(location), report);
    }
    send(controller);
}

void ProfileLink::connected(bool sessionPresent, MqttClient& client) {
    m_connected = true;
    for (const std::string& topic : m_sources) {
        client.subscribe(topic);
    }
    for (auto& [location, controller] : m_controllers) {
        if (!sessionPresent) {
            controller.held.clear();  // the broker lost what it retained with our session
        }
        send(controller);
    }
}

void ProfileLink::lost() {
    m_connected = false;
    for (auto& [location, controller] : m_controllers) {
        controller.token.reset();
    }
}

bool ProfileLink::isProfile(const std::string& topic) const {
    return std::find(m_sources.begin(), m_sources.end(), topic) != m_sources.end();
}

void ProfileLink::message(const std::string& topic, const std::string& payload) {
    if (!isProfile(topic)) {
        return;
    }
    if (payload.empty()) {
        // The fleet took it back: what was written stays, nothing more is.
        if (m_profiles.erase(topic) > 0) {
            m_calls.say("the profile on " + topic +
                        " was withdrawn: nothing more is written from it");
        }
        if (m_store != nullptr) {
            m_store->setMeta(profileKey(topic), "");
        }
        return;
    }
    const auto known = m_profiles.find(topic);
    if (known != m_profiles.end() && known->second.payload == payload) {
        return;  // handed out again: done already, or on its way
    }
    take(topic, payload);
    const Profile& profile = m_profiles.at(topic);
    m_calls.say(
        "profile " + shortSha(profile.sha256) + " on " + topic + ": " +
        (profile.refusal.empty() ? "taken" : "refused: " + profile.refusal + "; nothing written"));
    if (m_store != nullptr) {
        m_store->setMeta(profileKey(topic), payload);
    }
    for (auto& [location, controller] : m_controllers) {
        if (!controller.busy) {
            consider(location);
        }
    }
}

bool ProfileLink::done(const ParamDone& done, Clock::time_point now) {
    if (done.job.kind != ParamJob::Kind::Profile) {
        return false;
    }
    const auto found = m_controllers.find(done.job.location);
    if (found == m_controllers.end() || !done.unit) {
        return true;  // gone meanwhile: tried again when it is back
    }
    Controller& controller = found->second;
    controller.busy = false;
    const UnitResult& result = *done.unit;
    const std::string& location = done.job.location;
    const Profile programmed{done.job.value, sha256Hex(done.job.value), done.job.convert, {}};
    const std::string head =
        "profile " + shortSha(programmed.sha256) + " on " + escapeControls(location);
    if (result.code == EXIT_CLAIMED || result.code == EXIT_INTERRUPTED) {
        // Held by another program, or the publisher ends: nothing was written.
        controller.retryAt = now + TRY_AGAIN;
        if (result.code == EXIT_CLAIMED && !controller.heldTold) {
            m_calls.say(head + ": " + result.reason + "; written once it is free");
            controller.heldTold = true;
        }
        return true;
    }
    controller.heldTold = false;
    json report{{"time", done.time},
                {"profile", done.job.topic},
                {"profileSha256", programmed.sha256},
                {"location", location},
                {"firmware", result.firmware.empty() ? json(nullptr) : json(result.firmware)}};
    resultFields(report, result);
    const std::string text = report.dump(-1, ' ', false, json::error_handler_t::replace);
    if (result.code == EXIT_LOST || result.code == EXIT_NO_DEVICE) {
        // Part way, perhaps: written again from the start when it answers.
        m_calls.say(head + ": FAIL: " + result.reason + " (tried again when it answers)");
        controller.retryAt = now + TRY_AGAIN;
        controller.report = text;
        send(controller);
        return true;
    }
    m_calls.say(head + (result.passed()
                            ? ": PASS, " + std::to_string(result.written) + " written, " +
                                  std::to_string(result.verified) + " verified"
                            : ": FAIL: " + result.reason));
    finish(location, done.job.topic, programmed, text);
    consider(location);
    return true;
}

void ProfileLink::send(Controller& controller) {
    if (!m_connected || controller.report.empty() || controller.report == controller.held ||
        controller.token) {
        return;
    }
    controller.token = m_calls.publish(controller.topic, controller.report, true);
    controller.sending = controller.report;
}

bool ProfileLink::delivered(int token) {
    for (auto& [location, controller] : m_controllers) {
        if (controller.token == token) {
            controller.token.reset();
            controller.held = controller.sending;
            if (m_store != nullptr) {
                m_store->setMeta(heldKey(location), controller.held);
            }
            send(controller);  // a newer report meanwhile
            return true;
        }
    }
    return false;
}

}  // namespace ctl::mqtt
