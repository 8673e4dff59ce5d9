// The publisher's decisions, free of threads: which readings are worth publishing
// (ReportPolicy), what goes where (Outbox, from the ReadingQueue), when the next connection
// attempt is due (1 s doubling to 60 s, with jitter, which Paho's own reconnect lacks; at
// once, after a random moment, when the network comes back), when a session starts clean,
// the discovery again after Home Assistant's birth message, and what is said of the
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
#include "services/mqtt/DiscoveryRecord.h"
#include "services/mqtt/MqttClient.h"
#include "services/mqtt/MqttConfig.h"
#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/Outbox.h"
#include "services/mqtt/ParamLink.h"
#include "services/mqtt/ReadingQueue.h"
#include "services/mqtt/ReportPolicy.h"

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
        Delivered,
        HomeAssistantOnline,
        NetworkBack,         // a new address or default route: the broker may be reachable
        ForeignMessage,      // on a topic this publisher never subscribed to
        ControllersChanged,  // the owner's: it searches for the controllers again
        SetMessage,          // on a parameter's set topic
        ParamsDone,          // a read or write of ParamLink's, done
    };
    Kind kind;
    Reading reading;
    std::string text;       // why, for a failure or a lost connection; the topic of a message
    int code = 0;           // the broker's reason code; a delivered message's token; the session;
                            // whether a set message was retained
    std::string payload{};  // a set message's
    std::shared_ptr<const ParamDone> done{};  // ParamsDone's
};

// How the publisher connects with `config`: its client id, login and TLS files, the last
// will on the publisher's status, and a session the broker keeps as long as anything sent
// may still matter.
MqttClient::Settings clientSettings(const MqttConfig& config, const Topics& topics,
                                    std::optional<std::string> password);

class PublisherCore {
public:
    using Say = std::function<void(const std::string& line)>;
    using Queued = std::function<void(const std::string& topic, const std::string& payload)>;
    using Waits = std::function<void(Steady::duration wait)>;

    PublisherCore(MqttConfig config, Clock& clock, Random& random, Say say, Queued queued);
    ~PublisherCore();

    // How often each controller is asked: once a second, or every interval when shorter.
    Steady::duration period() const { return m_period; }
    const Topics& topics() const { return m_topics; }
    const MqttConfig& config() const { return m_config; }

    // A controller found at `location` (by path without one), and one gone: its availability
    // goes offline and it is forgotten.
    void track(const std::string& location);
    void untrack(const std::string& location);
    bool tracks(const std::string& location) const { return m_tracked.contains(location); }
    std::vector<std::string> locations() const;

    // Opens the queue of readings in `folder` (empty: memory only), sized for the controllers
    // tracked now, makes the client, says what is published where and starts the first
    // attempt. Empty, or why the client was refused.
    std::string start(const ClientFactory& make, MqttClient::Listener& listener,
                      std::optional<std::string> password, const std::string& folder);
    // Whether a message from the broker is Home Assistant's birth message (and wanted), and
    // whether it is on a topic of our subscriptions at all.
    bool isBirth(const std::string& topic, const std::string& payload) const;
    bool subscribed(const std::string& topic) const;
    // Whether it is a parameter's set topic of ours (with writes) or a profile's.
    bool isCommand(const std::string& topic) const { return m_params->isCommand(topic); }
    // A reading answered Lost forgets its controller: its poller has ended.
    void handle(const Event& event);
    // What is due by now: the next attempt, the discovery again, a link taken for dead.
    void tick();
    // The earliest time tick() has something of its own to do.
    std::optional<Steady::time_point> nextDue() const;
    // Whether an end may come now: nothing is in flight, or there is no connection to wait on.
    bool settled() const;
    // Leaves with the last will, says what stays undelivered, and where.
    void finish();

    const ReadingQueue* queue() const { return m_queue.get(); }

    // Told the wait before each next connection attempt as it is set (for tests and tools).
    void tellWaits(Waits told) { m_waits = std::move(told); }
    // Runs the parameters' reads and writes (with parameters), before start().
    void runParams(ParamLink::Run run) { m_runParams = std::move(run); }

private:
    struct Tracked {
        ControllerTopics topics;
        std::optional<Reading> latest;  // the last answer
        std::unique_ptr<ReportPolicy> policy;
        std::optional<std::uint8_t> discoveredAt;  // the firmware the discovery names
        bool discoveryOwed = false;                // its discovery waits for a connection
    };

    void reading(const Reading& result);
    void connected(bool sessionPresent);
    void connectFailed(const std::string& why, int reason);
    void connectionLost(const std::string& why, int reason);
    void foreign(const std::string& topic);
    void networkBack();
    void rediscover();
    void sendAvailability();
    void setAvailability(const std::string& location, bool online);
    // `always`: even when the broker holds the same from an earlier run (Home Assistant asks).
    void sendDiscovery(const std::string& location, Tracked& tracked, const StatusReport& status,
                       bool always = false);
    std::optional<int> publish(const std::string& topic, const std::string& payload, bool retained,
                               bool expires);
    void pump();
    void lose();
    void scheduleReconnect();
    void reportDrops(bool final);
    std::string sessionKey() const;

    const MqttConfig m_config;
    Clock& m_clock;
    Random& m_random;
    const Say m_say;
    const Queued m_queued;
    Waits m_waits;
    ParamLink::Run m_runParams;
    const Topics m_topics;
    const Steady::duration m_period;
    const unsigned m_expirySeconds;

    std::unique_ptr<ReadingQueue> m_queue;
    std::unique_ptr<Outbox> m_outbox;
    std::unique_ptr<DiscoveryRecord> m_discoveries;
    std::unique_ptr<MqttClient> m_client;
    std::unique_ptr<ParamLink> m_params;

    std::map<std::string, Tracked> m_tracked;  // by location
    std::map<std::string, bool> m_available;   // what each controller's status topic says
    std::map<std::string, bool> m_announced;   // what the broker holds of it
    bool m_connected = false;
    bool m_resumed = false;    // the connection goes on a session the broker kept
    bool m_cleanNext = false;  // the next connection starts a clean session
    int m_attempts = 0;
    Steady::time_point m_upSince{};
    std::string m_lastFailure;
    bool m_takeoverTold = false;
    int m_briefLosses = 0;  // connections in a row lost soon after they were made
    bool m_foreignTold = false;
    bool m_networkBackTold = false;  // since the last connection
    std::optional<Steady::time_point> m_reconnectAt;
    std::optional<Steady::time_point> m_discoveryAt;
    std::uint64_t m_droppedTold = 0;
    bool m_fullTold = false;
    std::string m_sendFailure;
};

}  // namespace ctl::mqtt
