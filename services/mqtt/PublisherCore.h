// The publisher's decisions, free of threads: what each reading publishes, when the next
// connection attempt is due (1 s doubling to 60 s, with jitter, which Paho's own reconnect
// lacks), the discovery again after Home Assistant's birth message, and what is said of the
// connection and of a full buffer. Its owner hands it the events in order and calls tick();
// the time and the chance come from the clock and the random source it is given.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/readings/Reading.h"
#include "core/readings/StatusJson.h"
#include "services/mqtt/MqttClient.h"
#include "services/mqtt/MqttConfig.h"
#include "services/mqtt/MqttMessages.h"

namespace ctl::mqtt {

using Steady = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

class Clock {
public:
    virtual ~Clock() = default;
    virtual Steady::time_point now() = 0;
    virtual void sleepFor(Steady::duration duration) = 0;
};

class Random {
public:
    virtual ~Random() = default;
    // A whole number in [low, high], every one as likely.
    virtual long long between(long long low, long long high) = 0;
};

// The steady clock and a generator seeded from the system, for the program itself.
Clock& systemClock();
std::unique_ptr<Random> systemRandom();

struct Event {
    enum class Kind {
        Reading,
        Connected,
        ConnectFailed,
        ConnectionLost,
        HomeAssistantOnline,
        PersistenceFailed,
        ControllersChanged,  // the owner's: it searches for the controllers again
    };
    Kind kind;
    Reading reading;
    std::string text;  // why, for a failure or a lost connection
};

class PublisherCore {
public:
    using Say = std::function<void(const std::string& line)>;
    using Queued = std::function<void(const std::string& topic, const std::string& payload)>;

    PublisherCore(MqttConfig config, Clock& clock, Random& random, Say say, Queued queued);

    // How often each controller is asked: once a second, or every interval when shorter.
    Steady::duration period() const { return m_period; }
    const Topics& topics() const { return m_topics; }

    // A controller found at `location` (by path without one), and one gone: its availability
    // goes offline and it is forgotten.
    void track(const std::string& location);
    void untrack(const std::string& location);
    bool tracks(const std::string& location) const { return m_tracked.contains(location); }
    std::vector<std::string> locations() const;

    // Makes the client, its buffer sized for the controllers tracked now, says what is
    // published where and starts the first attempt. Empty, or why the client was refused.
    std::string start(const ClientFactory& make, MqttClient::Listener& listener,
                      std::optional<std::string> password, const std::string& folder);
    // Whether a message from the broker is Home Assistant's birth message (and wanted).
    bool isBirth(const std::string& topic, const std::string& payload) const;
    // A reading answered Lost forgets its controller: its poller has ended.
    void handle(const Event& event);
    // What is due by now: the next attempt, the discovery again, counting the drops.
    void tick();
    // The earliest time tick() has something of its own to do.
    std::optional<Steady::time_point> nextDue() const;
    // Lets what is in flight arrive, leaves with the last will, says what stays undelivered.
    void finish();

private:
    struct Tracked {
        ControllerTopics topics;
        std::optional<Reading> latest;             // the last answer
        std::optional<StatusReport> published;     // the last state published
        Wall::time_point nextDue;                  // of the next state by the interval
        std::optional<std::uint8_t> discoveredAt;  // the firmware the discovery names
    };

    void reading(const Reading& result);
    void connected();
    void connectFailed(const std::string& why);
    void persistenceFailed();
    void rediscover();
    void setAvailability(const std::string& location, const ControllerTopics& topics, bool online,
                         bool again);
    void sendDiscovery(const std::string& location, Tracked& tracked, const StatusReport& status);
    void sendState(Tracked& tracked, const Reading& result);
    void publish(const std::string& topic, const std::string& payload, bool retained, bool expires);
    void scheduleReconnect();
    void reportDrops(bool final);
    MqttClient::Settings settings(std::optional<std::string> password,
                                  const std::string& folder) const;
    std::string folderText() const { return m_folder.empty() ? std::string("memory") : m_folder; }

    const MqttConfig m_config;
    Clock& m_clock;
    Random& m_random;
    const Say m_say;
    const Queued m_queued;
    const Topics m_topics;
    const Wall::duration m_interval;
    const Steady::duration m_period;
    const unsigned m_expirySeconds;

    std::unique_ptr<MqttClient> m_client;
    std::string m_folder;
    int m_maxBuffered = 0;

    std::map<std::string, Tracked> m_tracked;  // by location
    std::map<std::string, bool> m_available;   // what each controller's status topic says
    bool m_connected = false;
    int m_attempts = 0;
    std::string m_lastFailure;
    std::optional<Steady::time_point> m_reconnectAt;
    std::optional<Steady::time_point> m_discoveryAt;
    Steady::time_point m_nextReconcile;
    std::uint64_t m_droppedTold = 0;
    bool m_fullTold = false;
    std::optional<Steady::time_point> m_persistenceTold;
    std::string m_queueFailure;
};

}  // namespace ctl::mqtt
