// The publisher: one thread asks each controller for its status once a second (a silent one
// holds up no other), this thread decides what to publish and talks to Paho. Paho's own
// threads only hand events over.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "services/mqtt/Mqtt.h"
#include "services/mqtt/MqttClient.h"
#include "services/mqtt/MqttConfig.h"
#include "services/mqtt/MqttMessages.h"
#include "core/selection/Selection.h"
#include "core/session/Controller.h"
#include "core/readings/StatusJson.h"
#include "device/ControllerWatch.h"

namespace ctl::mqtt {
namespace {

using Steady = std::chrono::steady_clock;
using Wall = std::chrono::system_clock;

// How often what Paho holds is compared with what was sent (MqttClient::reconcile). The
// controllers are searched for again whenever the hotplug watch says some came or went.
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

// One controller, asked for its status every period on a thread of its own.
class Poller {
public:
    using Sink = std::function<void(Reading)>;

    Poller(platform::HidPlatform& platform, std::unique_ptr<HIDDescriptor> descriptor,
           std::string location, Controller::Options options, Steady::duration period, Sink sink)
        : m_platform(platform),
          m_descriptor(std::move(descriptor)),
          m_location(std::move(location)),
          m_options(options),
          m_period(period),
          m_sink(std::move(sink)) {
        m_thread = std::thread([this] { run(); });
    }

    ~Poller() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

private:
    void run() {
        ParamTable table;  // the status switches it to this controller's firmware
        Controller controller(m_platform, table, m_options);
        if (controller.open(*m_descriptor) != Controller::Found::One) {
            m_sink(Reading{m_location, Answer::Lost, {}, {}, Wall::now()});
            return;
        }
        auto next = Steady::now();
        for (;;) {
            Reading result;
            result.location = m_location;
            const Outcome outcome = controller.status(result.status);
            result.taken = Wall::now();
            if (outcome == Outcome::Ok) {
                result.answer = Answer::Ok;
                result.texts = statusTexts(table, result.status);
            } else {
                result.answer = outcome == Outcome::Lost ? Answer::Lost : Answer::Silent;
            }
            const bool lost = result.answer == Answer::Lost;
            m_sink(std::move(result));
            if (lost) {
                return;
            }
            next += m_period;
            next = std::max(next, Steady::now());
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_until(lock, next, [this] { return m_stop; })) {
                return;
            }
        }
    }

    platform::HidPlatform& m_platform;
    std::unique_ptr<HIDDescriptor> m_descriptor;
    std::string m_location;
    Controller::Options m_options;
    Steady::duration m_period;
    Sink m_sink;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;  // last: started once everything above is set
};

class Publisher final : public MqttClient::Listener {
public:
    Publisher(CommandContext& context, MqttConfig config, const MqttOptions& options,
              std::optional<std::string> password, std::string folder)
        : m_context(context),
          m_config(std::move(config)),
          m_options(options),
          m_password(std::move(password)),
          m_folder(std::move(folder)),
          m_topics(m_config),
          m_interval(std::chrono::duration_cast<Wall::duration>(
              std::chrono::duration<double>(m_config.intervalSeconds))),
          m_period(std::min<Steady::duration>(LONGEST_POLL, m_interval)),
          m_expirySeconds(static_cast<unsigned>(std::lround(m_config.expiryHours * 3600))),
          m_random(std::random_device{}()) {}

    int run();

    void connected() override { post({Kind::Connected, {}, {}}); }
    void connectFailed(const std::string& why) override { post({Kind::ConnectFailed, {}, why}); }
    void connectionLost(const std::string& why) override { post({Kind::ConnectionLost, {}, why}); }
    void messageArrived(const std::string& topic, const std::string& payload) override {
        // Whatever else a broker sends (an old subscription, a wrong one) is not looked at.
        if (m_config.homeAssistant && topic == m_topics.homeAssistantStatus() &&
            payload == ONLINE) {
            post({Kind::HomeAssistantOnline, {}, {}});
        }
    }
    void persistenceFailed() override { post({Kind::PersistenceFailed, {}, {}}); }

private:
    enum class Kind {
        Reading,
        Connected,
        ConnectFailed,
        ConnectionLost,
        HomeAssistantOnline,
        PersistenceFailed,
        ControllersChanged,
    };
    struct Event {
        Kind kind;
        Reading reading;
        std::string text;
    };
    struct Tracked {
        ControllerTopics topics;
        std::optional<Reading> latest;             // the last answer
        std::optional<StatusReport> published;     // the last state published
        Wall::time_point nextDue;                  // of the next state by the interval
        std::optional<std::uint8_t> discoveredAt;  // the firmware the discovery names
        std::unique_ptr<Poller> poller;            // last: its thread ends first
    };

    void post(Event event) {
        {
            std::lock_guard lock(m_mutex);
            m_events.push_back(std::move(event));
        }
        m_wake.notify_one();
    }

    void say(const std::string& line) {
        m_context.console.err << "ostrelctl mqtt: " << line << std::endl;
    }

    void handle(Event& event);
    void rescan(bool first);
    void reading(const Reading& result);
    void setAvailability(const std::string& location, const ControllerTopics& topics, bool online,
                         bool again);
    void sendDiscovery(const std::string& location, Tracked& tracked, const StatusReport& status);
    void sendState(Tracked& tracked, const Reading& result);
    void publish(const std::string& topic, const std::string& payload, bool retained, bool expires);
    void scheduleReconnect();
    void reportDrops(bool final);
    std::string folderText() const { return m_folder.empty() ? std::string("memory") : m_folder; }

    CommandContext& m_context;
    const MqttConfig m_config;
    const MqttOptions& m_options;
    const std::optional<std::string> m_password;
    const std::string m_folder;
    const Topics m_topics;
    const Wall::duration m_interval;
    const Steady::duration m_period;
    const unsigned m_expirySeconds;
    std::mt19937 m_random;

    // Before the client and the pollers, which post into it until they are gone.
    std::mutex m_mutex;  // m_events
    std::condition_variable m_wake;
    std::deque<Event> m_events;

    std::unique_ptr<MqttClient> m_client;
    int m_maxBuffered = 0;

    std::map<std::string, Tracked> m_tracked;  // by location (by path without one)
    std::map<std::string, bool> m_available;   // what each controller's status topic says
    bool m_connected = false;
    int m_attempts = 0;
    std::string m_lastFailure;
    std::optional<Steady::time_point> m_reconnectAt;
    std::optional<Steady::time_point> m_discoveryAt;
    std::uint64_t m_droppedTold = 0;
    bool m_fullTold = false;
    std::optional<Steady::time_point> m_persistenceTold;
    std::string m_queueFailure;
};

void Publisher::publish(const std::string& topic, const std::string& payload, bool retained,
                        bool expires) {
    std::string error;
    if (!m_client->publish(topic, payload, retained, expires ? m_expirySeconds : 0, error)) {
        if (error != m_queueFailure) {
            say("cannot queue a message on " + topic + ": " + error);
            m_queueFailure = error;
        }
        return;
    }
    m_queueFailure.clear();
    if (m_options.queued) {
        m_options.queued(topic, payload);
    }
}

void Publisher::setAvailability(const std::string& location, const ControllerTopics& topics,
                                bool online, bool again) {
    const auto known = m_available.find(location);
    if (!again && known != m_available.end() && known->second == online) {
        return;
    }
    m_available[location] = online;
    publish(topics.status, online ? ONLINE : OFFLINE, true, false);
}

void Publisher::sendDiscovery(const std::string& location, Tracked& tracked,
                              const StatusReport& status) {
    for (const Message& message : discoveryMessages(m_config, m_topics, location, status)) {
        publish(message.topic, message.payload, true, false);
    }
    tracked.discoveredAt = status.version;
}

void Publisher::sendState(Tracked& tracked, const Reading& result) {
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

void Publisher::reading(const Reading& result) {
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

void Publisher::rescan(bool first) {
    platform::HidPlatform& platform = m_context.platforms.platform(m_context.global.simulated);
    std::FILE* diagnostics =
        first && m_context.global.verbose ? m_context.console.diagnostics : nullptr;
    std::vector<std::unique_ptr<HIDDescriptor>> found;
    if (m_context.global.device.empty()) {
        found = findControllers(platform, diagnostics);
    } else {
        // The one --device names, whenever it is there.
        Selection selection =
            selectControllers(platform, m_context.global.device, false, diagnostics);
        if (selection.code == EXIT_OK) {
            found = std::move(selection.chosen);
        }
    }
    std::set<std::string> present;
    Controller::Options options;
    options.timeout = std::chrono::milliseconds(m_context.global.timeoutMs);
    for (std::unique_ptr<HIDDescriptor>& descriptor : found) {
        const std::string location =
            descriptor->location.empty() ? descriptor->path : descriptor->location;
        present.insert(location);
        if (m_tracked.contains(location)) {
            continue;
        }
        Tracked& tracked = m_tracked[location];
        tracked.topics = m_topics.controller(location);
        tracked.poller = std::make_unique<Poller>(platform, std::move(descriptor), location,
                                                  options, m_period, [this](Reading result) {
                                                      post({Kind::Reading, std::move(result), {}});
                                                  });
    }
    for (auto it = m_tracked.begin(); it != m_tracked.end();) {
        if (present.contains(it->first)) {
            ++it;
            continue;
        }
        setAvailability(it->first, it->second.topics, false, false);
        it = m_tracked.erase(it);
    }
}

void Publisher::scheduleReconnect() {
    ++m_attempts;
    // 1 s doubling to 60 s, and up to half as much again at random, so that a fleet does not
    // come back in the same second after a broker restart.
    const auto base = std::min<std::chrono::milliseconds>(
        LONGEST_BACKOFF, std::chrono::seconds(1) * (1 << std::min(m_attempts - 1, 6)));
    std::uniform_int_distribution<long long> jitter(0, base.count() / 2);
    m_reconnectAt = Steady::now() + base + std::chrono::milliseconds(jitter(m_random));
}

void Publisher::reportDrops(bool final) {
    const std::uint64_t dropped = m_client->dropped();
    if (dropped == m_droppedTold) {
        return;
    }
    if (!m_connected && !final) {
        if (!m_fullTold) {
            say("the buffer is full (" + std::to_string(m_maxBuffered) +
                " messages): the oldest are dropped to make room");
            m_fullTold = true;
        }
        return;
    }
    say(std::to_string(dropped - m_droppedTold) +
        " messages dropped while the broker was unreachable (the buffer holds " +
        std::to_string(m_maxBuffered) + "; the oldest went first)");
    m_droppedTold = dropped;
    m_fullTold = false;
}

void Publisher::handle(Event& event) {
    switch (event.kind) {
        case Kind::Reading:
            reading(event.reading);
            break;
        case Kind::Connected:
            m_connected = true;
            m_attempts = 0;
            m_lastFailure.clear();
            say("connected to " + m_config.broker.text());
            reportDrops(false);
            if (m_config.homeAssistant) {
                m_client->subscribe(m_topics.homeAssistantStatus());
            }
            publish(m_topics.publisherStatus(), ONLINE, true, false);
            break;
        case Kind::ConnectFailed:
            m_connected = false;
            // One line for each new reason, not one for each attempt.
            if (event.text != m_lastFailure) {
                say("cannot connect to " + m_config.broker.text() + ": " + event.text +
                    "; trying again, less often each time (at most 90 s apart)");
                m_lastFailure = event.text;
            }
            scheduleReconnect();
            break;
        case Kind::ConnectionLost:
            m_connected = false;
            m_attempts = 0;
            say("lost the connection to " + m_config.broker.text() + " (" + event.text +
                "); the readings are kept until it is back");
            scheduleReconnect();
            break;
        case Kind::HomeAssistantOnline:
            if (!m_discoveryAt) {
                std::uniform_int_distribution<long long> spread(0, DISCOVERY_SPREAD.count());
                m_discoveryAt = Steady::now() + std::chrono::milliseconds(spread(m_random));
            }
            break;
        case Kind::ControllersChanged:
            rescan(false);
            break;
        case Kind::PersistenceFailed:
            if (!m_persistenceTold ||
                Steady::now() - *m_persistenceTold > std::chrono::minutes(1)) {
                say("cannot write the buffer folder " + folderText() +
                    " (full or read-only?): messages are kept in memory until it can be written "
                    "again, and lost if the program ends first");
                m_persistenceTold = Steady::now();
            }
            break;
    }
}

int Publisher::run() {
    rescan(true);
    const double perController =
        std::ceil(m_config.bufferHours * 3600.0 / m_config.intervalSeconds);
    const double wanted =
        perController * static_cast<double>(std::max<std::size_t>(1, m_tracked.size())) +
        SPARE_MESSAGES;
    m_maxBuffered = static_cast<int>(std::min<double>(wanted, MOST_BUFFERED));

    MqttClient::Settings settings;
    settings.broker = m_config.broker;
    settings.clientId = m_config.clientId;
    settings.username = m_config.username;
    settings.password = m_password;
    settings.caFile = m_config.caFile;
    settings.certFile = m_config.certFile;
    settings.keyFile = m_config.keyFile;
    settings.willTopic = m_topics.publisherStatus();
    settings.persistenceFolder = m_folder;
    settings.maxBuffered = m_maxBuffered;
    // The broker keeps our session as long as anything we sent may still matter.
    settings.sessionExpirySeconds = static_cast<unsigned>(
        std::lround(std::max({m_config.expiryHours, m_config.bufferHours, 1.0}) * 3600));
    m_client = std::make_unique<MqttClient>(settings, *this);
    if (const std::string error = m_client->create(); !error.empty()) {
        m_tracked.clear();
        m_context.console.err << "ostrelctl: cannot set up the MQTT client for "
                              << m_config.broker.text() << ": " << error << '\n';
        return EXIT_USAGE;
    }
    std::ostringstream interval;
    interval << m_config.intervalSeconds;
    say("publishing " + std::to_string(m_tracked.size()) + " controller(s) to " +
        m_config.broker.text() + " as " + m_config.clientId + " every " + interval.str() +
        " s; up to " + std::to_string(m_maxBuffered) + " messages are kept in " + folderText() +
        " while it is unreachable");
    if (m_client->restored() > 0) {
        say(std::to_string(m_client->restored()) +
            " messages of an earlier run are still to be delivered");
    }
    m_client->connect();

    // Controllers plugged in or pulled out: told by the watch's own thread, as an event.
    ControllerWatch watch(m_context.platforms.platform(m_context.global.simulated));
    std::thread watching([this, &watch] {
        while (!watch.cancelled()) {
            if (!watch.next(std::chrono::seconds(1)).empty()) {
                post({Kind::ControllersChanged, {}, {}});
            }
        }
    });
    rescan(false);  // what came between the first search and the watch's start
    auto nextReconcile = Steady::now() + RECONCILE_PERIOD;
    while (!m_context.interrupted.load()) {
        std::deque<Event> batch;
        {
            // Ctrl-C sets a flag nobody notifies: looked at every 100 ms.
            auto until = Steady::now() + std::chrono::milliseconds(100);
            for (const auto& at : {m_reconnectAt, m_discoveryAt}) {
                if (at) {
                    until = std::min(until, *at);
                }
            }
            std::unique_lock lock(m_mutex);
            m_wake.wait_until(lock, until, [this] { return !m_events.empty(); });
            batch.swap(m_events);
        }
        for (Event& event : batch) {
            handle(event);
        }
        const auto now = Steady::now();
        if (m_reconnectAt && now >= *m_reconnectAt) {
            m_reconnectAt.reset();
            m_client->connect();
        }
        if (m_discoveryAt && now >= *m_discoveryAt) {
            m_discoveryAt.reset();
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
        if (now >= nextReconcile) {
            m_client->reconcile();
            nextReconcile = now + RECONCILE_PERIOD;
        }
        reportDrops(false);
    }
    watch.cancel();
    watching.join();

    m_tracked.clear();  // the pollers end
    if (m_client->isConnected()) {
        // Let what is in flight arrive, then leave with the last will: "offline".
        const auto until = Steady::now() + SHUTDOWN_FLUSH;
        while (m_client->pending() > 0 && Steady::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        m_client->disconnect(SHUTDOWN_FLUSH);
    }
    m_client->reconcile();
    reportDrops(true);
    if (const std::size_t pending = m_client->pending(); pending > 0) {
        say(std::to_string(pending) + " messages not delivered yet " +
            (m_folder.empty() ? std::string("are lost (no buffer folder)")
                              : "are kept in " + m_folder + " for the next start"));
    }
    return EXIT_OK;
}

// Where Paho keeps the messages; empty (in memory) after saying why when it cannot be written.
std::string bufferFolder(const MqttOptions& options, std::ostream& err) {
    std::string folder = options.stateDirectory;
    auto env = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    };
    if (folder.empty()) {
        // systemd's StateDirectory=; several would be separated by ':'.
        folder = env("STATE_DIRECTORY");
        folder = folder.substr(0, folder.find(':'));
    }
    if (folder.empty() && !env("XDG_STATE_HOME").empty()) {
        folder = env("XDG_STATE_HOME") + "/ostrelctl";
    }
    if (folder.empty() && !env("HOME").empty()) {
        folder = env("HOME") + "/.local/state/ostrelctl";
    }
    if (folder.empty()) {
        err << "ostrelctl mqtt: no folder for the buffer (no $STATE_DIRECTORY, $XDG_STATE_HOME "
               "or $HOME): messages are kept in memory only, and lost when the program ends\n";
        return {};
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::string why;
    if (error) {
        why = error.message();
    } else {
        // Written once to know: a read-only or full folder is said now, not found later.
        const std::string probe = folder + "/.ostrelctl-probe";
        std::ofstream file(probe, std::ios::trunc);
        file << "probe\n";
        file.close();
        if (!file) {
            why = std::strerror(errno);
        }
        std::filesystem::remove(probe, error);
    }
    if (!why.empty()) {
        err << "ostrelctl mqtt: cannot write the buffer folder " << folder << " (" << why
            << "): messages are kept in memory only, and lost when the program ends\n";
        return {};
    }
    return folder;
}

}  // namespace

int runMqtt(CommandContext& context, const MqttOptions& options) {
    const ConfigResult loaded = loadMqttConfig(options.configPath, processEnvironment());
    if (!loaded.config) {
        context.console.err << "ostrelctl: " << loaded.error << '\n';
        return EXIT_USAGE;
    }
    std::optional<std::string> password;
    if (!loaded.config->passwordFile.empty()) {
        std::string error;
        password = readPassword(loaded.config->passwordFile, error);
        if (!password) {
            context.console.err << "ostrelctl: " << options.configPath
                                << ": password_file: " << error << '\n';
            return EXIT_USAGE;
        }
    }
    const std::string folder = bufferFolder(options, context.console.err);
    Publisher publisher(context, *loaded.config, options, password, folder);
    return publisher.run();
}

}  // namespace ctl::mqtt
