#include "services/mqtt/PublisherCore.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <thread>

namespace ctl::mqtt {
namespace {

// How often what the client holds is compared with what was sent (MqttClient::reconcile).
constexpr auto RECONCILE_PERIOD = std::chrono::seconds(3);
// Each controller is asked at least this often, so a change is published at once.
constexpr auto LONGEST_POLL = std::chrono::seconds(1);
// Home Assistant's birth message reaches every publisher at once: each waits a random part
// of this before it answers with its discovery.
constexpr auto DISCOVERY_SPREAD = std::chrono::milliseconds(3000);
// Every queued QoS 1 message holds one of MQTT's 65535 packet ids.
constexpr int MOST_BUFFERED = 65000;
// Room beside the readings for the availability messages and the discovery.
constexpr int SPARE_MESSAGES = 16;
constexpr auto LONGEST_BACKOFF = std::chrono::seconds(60);
constexpr auto SHUTDOWN_FLUSH = std::chrono::seconds(2);
// A full or read-only buffer folder is said at most this often.
constexpr auto PERSISTENCE_RETOLD = std::chrono::minutes(1);

class SystemClock final : public Clock {
public:
    Steady::time_point now() override { return Steady::now(); }
    void sleepFor(Steady::duration duration) override { std::this_thread::sleep_for(duration); }
};

class SystemRandom final : public Random {
public:
    long long between(long long low, long long high) override {
        return std::uniform_int_distribution<long long>(low, high)(m_generator);
    }

private:
    std::mt19937 m_generator{std::random_device{}()};
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

std::unique_ptr<Random> systemRandom() {
    return std::make_unique<SystemRandom>();
}

PublisherCore::PublisherCore(MqttConfig config, Clock& clock, Random& random, Say say,
                             Queued queued)
    : m_config(std::move(config)),
      m_clock(clock),
      m_random(random),
      m_say(std::move(say)),
      m_queued(std::move(queued)),
      m_topics(m_config),
      m_interval(std::chrono::duration_cast<Wall::duration>(
          std::chrono::duration<double>(m_config.intervalSeconds))),
      m_period(std::min<Steady::duration>(LONGEST_POLL, m_interval)),
      m_expirySeconds(static_cast<unsigned>(std::lround(m_config.expiryHours * 3600))) {}

void PublisherCore::track(const std::string& location) {
    if (!m_tracked.contains(location)) {
        m_tracked[location].topics = m_topics.controller(location);
    }
}

void PublisherCore::untrack(const std::string& location) {
    const auto found = m_tracked.find(location);
    if (found != m_tracked.end()) {
        setAvailability(location, found->second.topics, false, false);
        m_tracked.erase(found);
    }
}

std::vector<std::string> PublisherCore::locations() const {
    std::vector<std::string> all;
    for (const auto& [location, tracked] : m_tracked) {
        all.push_back(location);
    }
    return all;
}

MqttClient::Settings PublisherCore::settings(std::optional<std::string> password,
                                             const std::string& folder) const {
    MqttClient::Settings settings;
    settings.broker = m_config.broker;
    settings.clientId = m_config.clientId;
    settings.username = m_config.username;
    settings.password = std::move(password);
    settings.caFile = m_config.caFile;
    settings.certFile = m_config.certFile;
    settings.keyFile = m_config.keyFile;
    settings.willTopic = m_topics.publisherStatus();
    settings.persistenceFolder = folder;
    settings.maxBuffered = m_maxBuffered;
    // The broker keeps our session as long as anything we sent may still matter.
    settings.sessionExpirySeconds = static_cast<unsigned>(
        std::lround(std::max({m_config.expiryHours, m_config.bufferHours, 1.0}) * 3600));
    return settings;
}

std::string PublisherCore::start(const ClientFactory& make, MqttClient::Listener& listener,
                                 std::optional<std::string> password, const std::string& folder) {
    m_folder = folder;
    const double perController =
        std::ceil(m_config.bufferHours * 3600.0 / m_config.intervalSeconds);
    const double wanted =
        perController * static_cast<double>(std::max<std::size_t>(1, m_tracked.size())) +
        SPARE_MESSAGES;
    m_maxBuffered = static_cast<int>(std::min<double>(wanted, MOST_BUFFERED));
    m_client = make(settings(std::move(password), folder), listener);
    if (std::string error = m_client->create(); !error.empty()) {
        m_client.reset();
        return error;
    }
    std::ostringstream interval;
    interval << m_config.intervalSeconds;
    m_say("publishing " + std::to_string(m_tracked.size()) + " controller(s) to " +
          m_config.broker.text() + " as " + m_config.clientId + " every " + interval.str() +
          " s; up to " + std::to_string(m_maxBuffered) + " messages are kept in " + folderText() +
          " while it is unreachable");
    if (m_client->restored() > 0) {
        m_say(std::to_string(m_client->restored()) +
              " messages of an earlier run are still to be delivered");
    }
    m_nextReconcile = m_clock.now() + RECONCILE_PERIOD;
    m_client->connect();
    return {};
}

void PublisherCore::publish(const std::string& topic, const std::string& payload, bool retained,
                            bool expires) {
    std::string error;
    if (!m_client->publish(topic, payload, retained, expires ? m_expirySeconds : 0, error)) {
        if (error != m_queueFailure) {
            m_say("cannot queue a message on " + topic + ": " + error);
            m_queueFailure = error;
        }
        return;
    }
    m_queueFailure.clear();
    if (m_queued) {
        m_queued(topic, payload);
    }
}

void PublisherCore::setAvailability(const std::string& location, const ControllerTopics& topics,
                                    bool online, bool again) {
    const auto known = m_available.find(location);
    if (!again && known != m_available.end() && known->second == online) {
        return;
    }
    m_available[location] = online;
    publish(topics.status, online ? ONLINE : OFFLINE, true, false);
}

void PublisherCore::sendDiscovery(const std::string& location, Tracked& tracked,
                                  const StatusReport& status) {
    for (const Message& message : discoveryMessages(m_config, m_topics, location, status)) {
        publish(message.topic, message.payload, true, false);
    }
    tracked.discoveredAt = status.version;
}

void PublisherCore::sendState(Tracked& tracked, const Reading& result) {
    publish(tracked.topics.state,
            statePayload(result.status, result.texts, result.taken, m_config.texts), false, true);
    // A change published at once keeps the interval's beat; a reading due by it moves the beat.
    if (!tracked.published || result.taken + m_period / 2 >= tracked.nextDue) {
        tracked.nextDue =
            tracked.published ? tracked.nextDue + m_interval : result.taken + m_interval;
        if (tracked.nextDue <= result.taken) {
            tracked.nextDue = result.taken + m_interval;
        }
    }
    tracked.published = result.status;
}

void PublisherCore::reading(const Reading& result) {
    const auto found = m_tracked.find(result.location);
    if (found == m_tracked.end()) {
        return;  // from a poller already gone
    }
    Tracked& tracked = found->second;
    if (result.answer != Answer::Ok) {
        setAvailability(result.location, tracked.topics, false, false);
        if (result.answer == Answer::Lost) {
            // Its thread has ended; the next search finds it again if it is still there.
            m_tracked.erase(found);
        }
        return;
    }
    if (m_config.homeAssistant &&
        (!tracked.discoveredAt || *tracked.discoveredAt != result.status.version)) {
        sendDiscovery(result.location, tracked, result.status);
    }
    setAvailability(result.location, tracked.topics, true, false);
    const bool due = !tracked.published || changedAtOnce(*tracked.published, result.status) ||
                     result.taken + m_period / 2 >= tracked.nextDue;
    if (due) {
        sendState(tracked, result);
    }
    tracked.latest = result;
}

void PublisherCore::scheduleReconnect() {
    ++m_attempts;
    // 1 s doubling to 60 s, and up to half as much again at random, so that a fleet does not
    // come back in the same second after a broker restart.
    const auto base = std::min<std::chrono::milliseconds>(
        LONGEST_BACKOFF, std::chrono::seconds(1) * (1 << std::min(m_attempts - 1, 6)));
    m_reconnectAt =
        m_clock.now() + base + std::chrono::milliseconds(m_random.between(0, base.count() / 2));
}

void PublisherCore::reportDrops(bool final) {
    const std::uint64_t dropped = m_client->dropped();
    if (dropped == m_droppedTold) {
        return;
    }
    if (!m_connected && !final) {
        if (!m_fullTold) {
            m_say("the buffer is full (" + std::to_string(m_maxBuffered) +
                  " messages): the oldest are dropped to make room");
            m_fullTold = true;
        }
        return;
    }
    m_say(std::to_string(dropped - m_droppedTold) +
          " messages dropped while the broker was unreachable (the buffer holds " +
          std::to_string(m_maxBuffered) + "; the oldest went first)");
    m_droppedTold = dropped;
    m_fullTold = false;
}

void PublisherCore::connected() {
    m_connected = true;
    m_attempts = 0;
    m_lastFailure.clear();
    m_say("connected to " + m_config.broker.text());
    reportDrops(false);
    if (m_config.homeAssistant) {
        m_client->subscribe(m_topics.homeAssistantStatus());
    }
    publish(m_topics.publisherStatus(), ONLINE, true, false);
}

void PublisherCore::connectFailed(const std::string& why) {
    m_connected = false;
    // One line for each new reason, not one for each attempt.
    if (why != m_lastFailure) {
        m_say("cannot connect to " + m_config.broker.text() + ": " + why +
              "; trying again, less often each time (at most 90 s apart)");
        m_lastFailure = why;
    }
    scheduleReconnect();
}

void PublisherCore::persistenceFailed() {
    const auto now = m_clock.now();
    if (!m_persistenceTold || now - *m_persistenceTold > PERSISTENCE_RETOLD) {
        m_say("cannot write the buffer folder " + folderText() +
              " (full or read-only?): messages are kept in memory until it can be written "
              "again, and lost if the program ends first");
        m_persistenceTold = now;
    }
}

bool PublisherCore::isBirth(const std::string& topic, const std::string& payload) const {
    // Whatever else a broker sends (an old subscription, a wrong one) is not looked at.
    return m_config.homeAssistant && topic == m_topics.homeAssistantStatus() && payload == ONLINE;
}

void PublisherCore::handle(const Event& event) {
    switch (event.kind) {
        case Event::Kind::Reading:
            reading(event.reading);
            break;
        case Event::Kind::Connected:
            connected();
            break;
        case Event::Kind::ConnectFailed:
            connectFailed(event.text);
            break;
        case Event::Kind::ConnectionLost:
            m_connected = false;
            m_attempts = 0;
            m_say("lost the connection to " + m_config.broker.text() + " (" + event.text +
                  "); the readings are kept until it is back");
            scheduleReconnect();
            break;
        case Event::Kind::HomeAssistantOnline:
            if (!m_discoveryAt) {
                m_discoveryAt = m_clock.now() + std::chrono::milliseconds(
                                                    m_random.between(0, DISCOVERY_SPREAD.count()));
            }
            break;
        case Event::Kind::PersistenceFailed:
            persistenceFailed();
            break;
        case Event::Kind::ControllersChanged:
            break;
    }
}

void PublisherCore::rediscover() {
    // The discovery again, then what it describes: availability and state.
    for (auto& [location, tracked] : m_tracked) {
        if (!tracked.latest) {
            continue;  // its discovery goes with its first answer
        }
        const bool available = m_available[location];
        sendDiscovery(location, tracked, tracked.latest->status);
        setAvailability(location, tracked.topics, available, true);
        if (available) {
            publish(tracked.topics.state,
                    statePayload(tracked.latest->status, tracked.latest->texts,
                                 tracked.latest->taken, m_config.texts),
                    false, true);
        }
    }
}

void PublisherCore::tick() {
    const auto now = m_clock.now();
    if (m_reconnectAt && now >= *m_reconnectAt) {
        m_reconnectAt.reset();
        m_client->connect();
    }
    if (m_discoveryAt && now >= *m_discoveryAt) {
        m_discoveryAt.reset();
        rediscover();
    }
    if (now >= m_nextReconcile) {
        m_client->reconcile();
        m_nextReconcile = now + RECONCILE_PERIOD;
    }
    reportDrops(false);
}

std::optional<Steady::time_point> PublisherCore::nextDue() const {
    if (m_reconnectAt && m_discoveryAt) {
        return std::min(*m_reconnectAt, *m_discoveryAt);
    }
    return m_reconnectAt ? m_reconnectAt : m_discoveryAt;
}

void PublisherCore::finish() {
    if (m_client->isConnected()) {
        // Let what is in flight arrive, then leave with the last will: "offline".
        const auto until = m_clock.now() + SHUTDOWN_FLUSH;
        while (m_client->pending() > 0 && m_clock.now() < until) {
            m_clock.sleepFor(std::chrono::milliseconds(20));
        }
        m_client->disconnect(SHUTDOWN_FLUSH);
    }
    m_client->reconcile();
    reportDrops(true);
    if (const std::size_t pending = m_client->pending(); pending > 0) {
        m_say(std::to_string(pending) + " messages not delivered yet " +
              (m_folder.empty() ? std::string("are lost (no buffer folder)")
                                : "are kept in " + m_folder + " for the next start"));
    }
}

}  // namespace ctl::mqtt
