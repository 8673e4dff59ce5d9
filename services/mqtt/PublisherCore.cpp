#include "services/mqtt/PublisherCore.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "core/texts/OutsideText.h"
#include "services/mqtt/ConnectDiagnosis.h"

namespace ctl::mqtt {
namespace {

// Each controller is asked at least this often, so a change is published at once.
constexpr auto LONGEST_POLL = std::chrono::seconds(1);
// Home Assistant's birth message reaches every publisher at once: each waits a random part
// of this before it answers with its discovery.
constexpr auto DISCOVERY_SPREAD = std::chrono::milliseconds(3000);
// A fleet whose vehicles leave the same tunnel together does not call the broker in the
// same second: each waits a random part of this once the network is back.
constexpr auto NETWORK_SPREAD = std::chrono::milliseconds(3000);
// Readings held at most, whatever buffer_hours says.
constexpr double MOST_READINGS = 1e6;
constexpr auto LONGEST_BACKOFF = std::chrono::seconds(60);
// A connection that lasted this long was a good one: the next break starts the backoff
// afresh. One taken from us sooner (another publisher with our client id) does not.
constexpr auto STABLE_CONNECTION = std::chrono::seconds(60);
// A message in flight this long without an acknowledgement: the link is dead, whatever TCP
// still believes.
constexpr auto ACK_TIMEOUT = std::chrono::seconds(30);
constexpr auto SHUTDOWN_FLUSH = std::chrono::seconds(2);
constexpr int SESSION_TAKEN_OVER = 0x8E;
// A broker that gives no reason for a takeover (mosquitto 2.0) just closes the connection:
// closed this soon after it was made, this many times in a row, it is most likely a twin.
constexpr auto BRIEF_CONNECTION = std::chrono::seconds(10);
constexpr int TWIN_LOSSES = 3;

}  // namespace

PublisherCore::PublisherCore(MqttConfig config, Clock& clock, Random& random, Say say,
                             Queued queued)
    : m_config(std::move(config)),
      m_clock(clock),
      m_random(random),
      m_say(std::move(say)),
      m_queued(std::move(queued)),
      m_topics(m_config),
      m_period(std::min<Steady::duration>(
          LONGEST_POLL, std::chrono::duration_cast<Steady::duration>(
                            std::chrono::duration<double>(m_config.intervalSeconds)))),
      m_expirySeconds(static_cast<unsigned>(std::lround(m_config.expiryHours * 3600))),
      m_params(std::make_unique<ParamLink>(
          m_config, m_topics, m_say,
          [this](const std::string& topic, const std::string& payload, bool retained) {
              return publish(topic, payload, retained, false);
          },
          [this](ParamJob job) {
              if (m_runParams) {
                  m_runParams(std::move(job));
              }
          })) {}

PublisherCore::~PublisherCore() = default;

void PublisherCore::track(const std::string& location) {
    if (!m_tracked.contains(location)) {
        Tracked& tracked = m_tracked[location];
        tracked.topics = m_topics.controller(location);
        tracked.policy = std::make_unique<ReportPolicy>(m_config, m_period);
        m_params->track(location);
    }
}

void PublisherCore::untrack(const std::string& location) {
    m_params->untrack(location);
    if (m_tracked.erase(location) > 0) {
        setAvailability(location, false);
    }
}

std::vector<std::string> PublisherCore::locations() const {
    std::vector<std::string> all;
    for (const auto& [location, tracked] : m_tracked) {
        all.push_back(location);
    }
    return all;
}

MqttClient::Settings clientSettings(const MqttConfig& config, const Topics& topics,
                                    std::optional<std::string> password) {
    MqttClient::Settings settings;
    settings.broker = config.broker;
    settings.clientId = config.clientId;
    settings.username = config.username;
    settings.password = std::move(password);
    settings.caFile = config.caFile;
    settings.certFile = config.certFile;
    settings.keyFile = config.keyFile;
    settings.willTopic = topics.publisherStatus();
    settings.keepAliveSeconds = config.keepAliveSeconds;
    // The broker keeps our session (Home Assistant's birth message among what it holds for
    // us) as long as anything we sent may still matter.
    settings.sessionExpirySeconds = static_cast<unsigned>(
        std::lround(std::max({config.expiryHours, config.bufferHours, 1.0}) * 3600));
    return settings;
}

// What makes a session ours: a change of any of these starts a clean one.
std::string PublisherCore::sessionKey() const {
    // A profile topic dropped from the configuration must not stay subscribed.
    std::string profiles;
    for (const std::string& topic : m_topics.profiles(m_config)) {
        profiles += " " + topic;
    }
    return m_config.broker.text() + " " + m_config.clientId + " " + m_config.username + " " +
           m_config.prefix + " " + (m_config.homeAssistant ? m_config.homeAssistantPrefix : "") +
           profiles;
}

std::string PublisherCore::start(const ClientFactory& make, MqttClient::Listener& listener,
                                 std::optional<std::string> password, const std::string& folder) {
    const double perController =
        std::ceil(m_config.bufferHours * 3600.0 / m_config.intervalSeconds);
    const double readings =
        std::min(MOST_READINGS,
                 perController * static_cast<double>(std::max<std::size_t>(1, m_tracked.size())));
    ReadingQueue::Limits limits;
    limits.readings = static_cast<std::size_t>(readings);
    limits.bytes = static_cast<std::uint64_t>(m_config.bufferMegabytes * 1024 * 1024);
    m_queue = std::make_unique<ReadingQueue>(folder, limits, m_say);
    m_outbox = std::make_unique<Outbox>(*m_queue, m_topics);
    m_discoveries = std::make_unique<DiscoveryRecord>(*m_queue);
    m_params->useStore(m_queue.get());
    m_cleanNext = m_queue->meta("session") != sessionKey();

    m_client = make(clientSettings(m_config, m_topics, std::move(password)), listener);
    if (std::string error = m_client->create(); !error.empty()) {
        m_client.reset();
        return error;
    }
    std::ostringstream how;
    if (m_config.byException) {
        how << "on change, every " << m_config.heartbeatSeconds << " s otherwise";
    } else {
        how << "every " << m_config.intervalSeconds << " s";
    }
    std::ostringstream size;
    size << m_config.bufferMegabytes;
    m_say("publishing " + std::to_string(m_tracked.size()) + " controller(s) to " +
          m_config.broker.text() + " as " + m_config.clientId + " " + how.str() + "; up to " +
          std::to_string(limits.readings) + " readings (" + size.str() + " MB) are kept in " +
          (m_queue->path().empty() ? std::string("memory") : escapeControls(m_queue->path())) +
          " while it is unreachable");
    if (m_queue->restored() > 0) {
        m_say(std::to_string(m_queue->restored()) +
              " readings of an earlier run are still to be delivered");
    }
    m_client->connect(m_cleanNext);
    return {};
}

std::optional<int> PublisherCore::publish(const std::string& topic, const std::string& payload,
                                          bool retained, bool expires) {
    std::string error;
    const std::optional<int> token =
        m_client->publish(topic, payload, retained, expires ? m_expirySeconds : 0, error);
    if (!token) {
        if (error != m_sendFailure) {
            m_say("cannot send a message on " + topic + ": " + error);
            m_sendFailure = error;
        }
        return std::nullopt;
    }
    m_sendFailure.clear();
    if (m_queued && retained) {
        m_queued(topic, payload);  // the readings are told as they are queued
    }
    return token;
}

void PublisherCore::pump() {
    if (!m_connected) {
        return;
    }
    m_outbox->pump(
        [this](const std::string& topic, const std::string& payload) {
            return publish(topic, payload, false, true);
        },
        m_clock.now());
}

// Retained, and only on a connection: what the broker holds is sent again only when it is
// not what it should be.
void PublisherCore::sendAvailability() {
    if (!m_connected) {
        return;
    }
    for (const auto& [location, online] : m_available) {
        const auto held = m_announced.find(location);
        if (held != m_announced.end() && held->second == online) {
            continue;
        }
        if (publish(m_topics.controller(location).status, online ? ONLINE : OFFLINE, true, false)) {
            m_announced[location] = online;
        }
    }
}

void PublisherCore::setAvailability(const std::string& location, bool online) {
    m_available[location] = online;
    sendAvailability();
}

void PublisherCore::sendDiscovery(const std::string& location, Tracked& tracked,
                                  const StatusReport& status, bool always) {
    tracked.discoveredAt = status.version;
    if (!m_connected) {
        tracked.discoveryOwed = true;
        return;
    }
    tracked.discoveryOwed = false;
    const std::vector<Message> messages = discoveryMessages(m_config, m_topics, location, status);
    // A broker that kept our session kept what it retained for us: the same discovery again
    // would cost its kilobytes on every start of a vehicle's computer.
    if (!always && m_resumed && m_discoveries->held(location, messages)) {
        return;
    }
    std::set<int> tokens;
    bool whole = true;
    for (const Message& message : messages) {
        if (const std::optional<int> token = publish(message.topic, message.payload, true, false)) {
            tokens.insert(*token);
        } else {
            whole = false;
        }
    }
    m_discoveries->sending(location, messages, std::move(tokens), whole);
}

void PublisherCore::reading(const Reading& result) {
    const auto found = m_tracked.find(result.location);
    if (found == m_tracked.end()) {
        return;  // from a poller already gone
    }
    Tracked& tracked = found->second;
    if (result.answer != Answer::Ok) {
        setAvailability(result.location, false);
        if (result.answer == Answer::Lost) {
            // Its thread has ended; the next search finds it again if it is still there.
            m_tracked.erase(found);
            m_params->untrack(result.location);
        }
        return;
    }
    if (m_config.homeAssistant &&
        (!tracked.discoveredAt || *tracked.discoveredAt != result.status.version)) {
        sendDiscovery(result.location, tracked, result.status);
    }
    setAvailability(result.location, true);
    const auto now = m_clock.now();
    m_params->reading(result.location, result.status.version, now);
    if (tracked.policy->due(result, now)) {
        tracked.policy->published(result, now);
        std::string payload =
            statePayload(result.status, result.texts, result.taken, m_config.texts);
        if (m_queued) {
            m_queued(tracked.topics.state, payload);
        }
        m_queue->push(result.location, std::move(payload));
        pump();
    }
    tracked.latest = result;
}

void PublisherCore::scheduleReconnect() {
    ++m_attempts;
    // 1 s doubling to 60 s, and up to half as much again at random, so that a fleet does not
    // come back in the same second after a broker restart.
    const auto base = std::min<std::chrono::milliseconds>(
        LONGEST_BACKOFF, std::chrono::seconds(1) * (1 << std::min(m_attempts - 1, 6)));
    const auto wait = base + std::chrono::milliseconds(m_random.between(0, base.count() / 2));
    m_reconnectAt = m_clock.now() + wait;
    if (m_waits) {
        m_waits(wait);
    }
}

void PublisherCore::reportDrops(bool final) {
    const std::uint64_t dropped = m_queue->dropped();
    if (dropped == m_droppedTold) {
        return;
    }
    if (!m_connected && !final) {
        if (!m_fullTold) {
            m_say("the buffer is full (" + std::to_string(m_queue->limit()) +
                  " readings or its megabytes): the oldest are dropped to make room");
            m_fullTold = true;
        }
        return;
    }
    // Both bounds: the count is not what it holds when the megabytes filled first.
    std::ostringstream megabytes;
    megabytes << m_config.bufferMegabytes;
    m_say(std::to_string(dropped - m_droppedTold) +
          " readings dropped while the broker was unreachable (the buffer holds " +
          std::to_string(m_queue->limit()) + " readings or " + megabytes.str() +
          " MB; the oldest went first)");
    m_droppedTold = dropped;
    m_fullTold = false;
}

void PublisherCore::connected(bool sessionPresent) {
    const bool clean = m_cleanNext;
    m_connected = true;
    m_networkBackTold = false;
    m_upSince = m_clock.now();
    m_lastFailure.clear();
    m_outbox->forget();  // a connection of its own: nothing of the last one is in flight
    m_resumed = sessionPresent && !clean;
    for (const std::string& location : m_discoveries->unacknowledged()) {
        if (const auto tracked = m_tracked.find(location); tracked != m_tracked.end()) {
            tracked->second.discoveryOwed = true;
        }
    }
    m_say("connected to " + m_config.broker.text() +
          (clean ? " (a clean session, the first of this configuration)" : ""));
    if (clean) {
        m_queue->setMeta("session", sessionKey());
        m_cleanNext = false;
    }
    reportDrops(false);
    if (m_config.homeAssistant) {
        m_client->subscribe(m_topics.homeAssistantStatus());
    }
    publish(m_topics.publisherStatus(), ONLINE, true, false);
    if (!sessionPresent && !clean) {
        // A broker that lost our session lost what it retained with it.
        m_announced.clear();
        for (auto& [location, tracked] : m_tracked) {
            tracked.discoveryOwed = tracked.discoveryOwed || tracked.discoveredAt.has_value();
        }
    }
    sendAvailability();
    m_params->connected(m_resumed, *m_client);
    for (auto& [location, tracked] : m_tracked) {
        if (tracked.discoveryOwed && tracked.latest && m_config.homeAssistant) {
            sendDiscovery(location, tracked, tracked.latest->status);
        }
    }
    pump();
}

void PublisherCore::connectFailed(const std::string& pahoWhy, int reason) {
    m_connected = false;
    // A refusal in the CONNACK has words of its own, naming what to change.
    const std::string refusal =
        reason >= 0x80 ? brokerReasonText(reason, m_config.username, m_config.clientId) : "";
    const std::string& why = refusal.empty() ? pahoWhy : refusal;
    // One line for each new reason, not one for each attempt.
    if (why != m_lastFailure) {
        m_say("cannot connect to " + m_config.broker.text() + ": " + why +
              "; trying again, less often each time (at most 90 s apart)");
        m_lastFailure = why;
    }
    scheduleReconnect();
}

void PublisherCore::lose() {
    m_connected = false;
    m_outbox->forget();
    m_params->lost();
    if (m_clock.now() - m_upSince >= STABLE_CONNECTION) {
        m_attempts = 0;
        m_takeoverTold = false;
    }
    scheduleReconnect();
}

void PublisherCore::connectionLost(const std::string& why, int reason) {
    m_briefLosses = m_clock.now() - m_upSince < BRIEF_CONNECTION ? m_briefLosses + 1 : 0;
    if (reason == SESSION_TAKEN_OVER) {
        if (!m_takeoverTold) {
            m_say("the broker gave our session to another client with the client id " +
                  m_config.clientId +
                  " (session taken over): two publishers share it; give each vehicle a "
                  "client_id of its own in the configuration (trying again, less often each "
                  "time)");
            m_takeoverTold = true;
        }
    } else if (m_briefLosses >= TWIN_LOSSES) {
        if (!m_takeoverTold) {
            m_say("the broker closed our connection within seconds of its start " +
                  std::to_string(m_briefLosses) +
                  " times in a row, without a reason: another client is likely connecting "
                  "with the client id " +
                  m_config.clientId +
                  " and taking the session over; give each vehicle a client_id of its own in "
                  "the configuration (trying again, less often each time)");
            m_takeoverTold = true;
        }
    } else {
        m_say("lost the connection to " + m_config.broker.text() + " (" + why +
              "); the readings are kept until it is back");
    }
    lose();
}

void PublisherCore::foreign(const std::string& topic) {
    if (m_foreignTold || !m_connected) {
        return;
    }
    m_foreignTold = true;
    m_say("the broker sends this client messages on " + escapeControls(topic) +
          ", which it never subscribed to: the session of client id " + m_config.clientId +
          " holds another program's subscriptions; starting a clean one");
    m_cleanNext = true;
    m_client->abandon();
    m_connected = false;
    m_outbox->forget();
    m_params->lost();
    m_reconnectAt = m_clock.now();
}

void PublisherCore::networkBack() {
    if (m_connected || !m_reconnectAt) {
        return;
    }
    const auto now = m_clock.now();
    const auto wait = std::chrono::milliseconds(m_random.between(0, NETWORK_SPREAD.count()));
    if (now + wait >= *m_reconnectAt) {
        return;
    }
    // Once until a connection is made: a modem whose routes flap must not fill the journal.
    if (!m_networkBackTold) {
        const auto backoff = std::chrono::ceil<std::chrono::seconds>(*m_reconnectAt - now);
        m_say("the network is back: trying " + m_config.broker.text() + " again within " +
              std::to_string(NETWORK_SPREAD.count() / 1000) + " s, not in " +
              std::to_string(backoff.count()) + " s");
        m_networkBackTold = true;
    }
    m_reconnectAt = now + wait;
    m_attempts = 0;
    if (m_waits) {
        m_waits(wait);
    }
}

bool PublisherCore::isBirth(const std::string& topic, const std::string& payload) const {
    // Whatever else a broker sends (an old subscription, a wrong one) is not looked at.
    return m_config.homeAssistant && topic == m_topics.homeAssistantStatus() && payload == ONLINE;
}

bool PublisherCore::subscribed(const std::string& topic) const {
    return (m_config.homeAssistant && topic == m_topics.homeAssistantStatus()) ||
           m_params->isCommand(topic);
}

void PublisherCore::handle(const Event& event) {
    switch (event.kind) {
        case Event::Kind::Reading:
            reading(event.reading);
            break;
        case Event::Kind::Connected:
            connected(event.code != 0);
            break;
        case Event::Kind::ConnectFailed:
            connectFailed(event.text, event.code);
            break;
        case Event::Kind::ConnectionLost:
            connectionLost(event.text, event.code);
            break;
        case Event::Kind::Delivered:
            if (m_outbox->delivered(event.code)) {
                pump();
            } else if (!m_params->delivered(event.code)) {
                m_discoveries->delivered(event.code);
            }
            break;
        case Event::Kind::HomeAssistantOnline:
            if (!m_discoveryAt) {
                m_discoveryAt = m_clock.now() + std::chrono::milliseconds(
                                                    m_random.between(0, DISCOVERY_SPREAD.count()));
            }
            break;
        case Event::Kind::NetworkBack:
            networkBack();
            break;
        case Event::Kind::ForeignMessage:
            foreign(event.text);
            break;
        case Event::Kind::SetMessage:
            m_params->setMessage(event.text, event.payload, event.code != 0, m_clock.now());
            break;
        case Event::Kind::ParamsDone:
            if (event.done) {
                m_params->done(*event.done, m_clock.now());
            }
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
        sendDiscovery(location, tracked, tracked.latest->status, true);
        m_announced.erase(location);
    }
    sendAvailability();
    for (auto& [location, tracked] : m_tracked) {
        if (tracked.latest && m_available[location] && m_connected) {
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
        m_client->connect(m_cleanNext);
    }
    if (m_discoveryAt && now >= *m_discoveryAt) {
        m_discoveryAt.reset();
        rediscover();
    }
    if (m_connected && now - m_upSince >= STABLE_CONNECTION) {
        m_attempts = 0;
    }
    if (const auto oldest = m_outbox->oldestSent();
        m_connected && oldest && now - *oldest >= ACK_TIMEOUT) {
        m_say("no acknowledgement from " + m_config.broker.text() + " in " +
              std::to_string(ACK_TIMEOUT.count()) +
              " s: the link is taken for dead, and the readings in flight are sent again on "
              "the next connection");
        m_client->abandon();
        lose();
    }
    reportDrops(false);
    pump();
}

std::optional<Steady::time_point> PublisherCore::nextDue() const {
    std::optional<Steady::time_point> due = m_reconnectAt;
    auto earliest = [&due](Steady::time_point at) { due = due ? std::min(*due, at) : at; };
    if (m_discoveryAt) {
        earliest(*m_discoveryAt);
    }
    if (const auto oldest = m_outbox ? m_outbox->oldestSent() : std::nullopt; oldest) {
        earliest(*oldest + ACK_TIMEOUT);
    }
    return due;
}

bool PublisherCore::settled() const {
    return !m_connected || m_outbox->inFlight() == 0;
}

void PublisherCore::finish() {
    if (m_connected && m_config.clearAtEnd) {
        // A demonstration leaves no device behind in Home Assistant.
        for (const auto& [location, online] : m_available) {
            for (const std::string& topic : retainedTopics(m_config, m_topics, location, false)) {
                publish(topic, "", true, false);
            }
        }
    }
    if (m_connected) {
        // Leave with the last will: "offline".
        m_client->disconnect(SHUTDOWN_FLUSH);
    }
    reportDrops(true);
    const std::size_t held = m_queue->size();
    const std::size_t unkept = m_queue->unkept();
    const std::string where =
        m_queue->path().empty() ? std::string() : escapeControls(m_queue->path());
    if (held > unkept) {
        m_say(std::to_string(held - unkept) + " readings not delivered yet are kept in " + where +
              " for the next start");
    }
    if (unkept > 0) {
        m_say(std::to_string(unkept) + " readings not delivered yet are lost" +
              (where.empty() ? std::string(" (no store: memory only)")
                             : " (the store " + where + " could not take them)"));
    }
    if (m_queue->undeleted() > 0) {
        m_say(std::to_string(m_queue->undeleted()) +
              " readings delivered could not be taken out of " + where +
              " and go again at the next start");
    }
}

}  // namespace ctl::mqtt
