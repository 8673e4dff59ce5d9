// The publisher's threads: one asks each controller for its status once a second (a silent one
// holds up no other), the hotplug watch says when controllers came or went, and this one hands
// their events and the client's to PublisherCore, which decides. The client's own threads
// only hand events over.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "core/readings/StatusJson.h"
#include "core/selection/Selection.h"
#include "core/session/Controller.h"
#include "device/ControllerWatch.h"
#include "services/mqtt/ConnectDiagnosis.h"
#include "services/mqtt/Forget.h"
#include "services/mqtt/Mqtt.h"
#include "services/mqtt/MqttConfig.h"
#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/NetworkWatch.h"
#include "services/mqtt/ParamWorker.h"
#include "services/mqtt/PublisherCore.h"

namespace ctl::mqtt {
namespace {

// One controller, asked for its status every period on a thread of its own. It lets go of
// the controller while a read or write of its parameters runs (pause()), whose answers its
// channel would otherwise take on a system that hands each report to one reader only.
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

    // Returns once the controller is closed; asked again after as many resume().
    void pause() {
        std::unique_lock lock(m_mutex);
        ++m_paused;
        m_wake.notify_all();
        m_wake.wait(lock, [this] { return !m_open; });
    }
    void resume() {
        {
            std::lock_guard lock(m_mutex);
            --m_paused;
        }
        m_wake.notify_all();
    }

private:
    void run() {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stop || m_paused == 0; });
                if (m_stop) {
                    return;
                }
                m_open = true;
            }
            const bool paused = poll();
            {
                std::lock_guard lock(m_mutex);
                m_open = false;
            }
            m_wake.notify_all();
            if (!paused) {
                return;
            }
        }
    }

    // Until the controller is lost or the poller stops (false), or it is paused (true).
    bool poll() {
        ParamTable table;  // the status switches it to this controller's firmware
        Controller controller(m_platform, table, m_options);
        if (controller.open(*m_descriptor) != Controller::Found::One) {
            m_sink(Reading{m_location, Answer::Lost, {}, {}, Wall::now()});
            return false;
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
                return false;
            }
            next += m_period;
            next = std::max(next, Steady::now());
            std::unique_lock lock(m_mutex);
            if (m_wake.wait_until(lock, next, [this] { return m_stop || m_paused > 0; })) {
                return !m_stop;
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
    int m_paused = 0;
    bool m_open = false;   // the controller's channel
    std::thread m_thread;  // last: started once everything above is set
};

class Publisher final : public MqttClient::Listener {
public:
    Publisher(CommandContext& context, MqttConfig config, const MqttOptions& options)
        : m_context(context),
          m_target{config.broker, config.caFile, config.certFile, config.keyFile},
          m_random(systemRandom()),
          m_core(
              std::move(config), systemClock(), *m_random,
              [this](const std::string& line) {
                  m_context.console.err << "ostrelctl mqtt: " << line << std::endl;
              },
              options.queued) {
        m_core.tellWaits(options.waits);
        if (m_core.config().parameters || m_core.config().profiles) {
            m_worker = std::make_unique<ParamWorker>(m_context, [this](ParamDone done) {
                post({Event::Kind::ParamsDone,
                      {},
                      {},
                      0,
                      {},
                      std::make_shared<const ParamDone>(std::move(done))});
            });
            m_core.runParams([this](ParamJob job) {
                const auto poller = m_pollers.find(job.location);
                std::shared_ptr<Poller> paused =
                    poller == m_pollers.end() ? nullptr : poller->second;
                m_worker->run(std::move(job), [paused](bool before) {
                    if (paused) {
                        before ? paused->pause() : paused->resume();
                    }
                });
            });
        }
    }

    int run(const MqttConfig& config, std::optional<std::string> password,
            const std::string& folder);

    void connected(bool sessionPresent) override {
        {
            std::lock_guard lock(m_diagnosisMutex);
            m_diagnosedWhy.clear();
        }
        post({Event::Kind::Connected, {}, {}, sessionPresent ? 1 : 0});
    }
    void connectFailed(const std::string& why, int reason) override {
        post({Event::Kind::ConnectFailed, {}, reason == 0 ? diagnosed(why) : why, reason});
    }
    void connectionLost(const std::string& why, int reason) override {
        post({Event::Kind::ConnectionLost, {}, why, reason});
    }
    void delivered(int token) override { post({Event::Kind::Delivered, {}, {}, token}); }
    void messageArrived(const std::string& topic, const std::string& payload,
                        bool retained) override {
        if (m_core.isBirth(topic, payload)) {
            post({Event::Kind::HomeAssistantOnline, {}, {}});
        } else if (m_core.isCommand(topic)) {
            post({Event::Kind::SetMessage, {}, topic, retained ? 1 : 0, payload, {}});
        } else if (!m_core.subscribed(topic)) {
            post({Event::Kind::ForeignMessage, {}, topic});
        }
    }

private:
    // Paho's words for a failed attempt, replaced by the step that fails (the name, the TCP
    // connection, the TLS handshake). Retraced once for each new text of Paho's and then every
    // ten minutes at most: a handshake costs a few kilobytes of a metered link.
    std::string diagnosed(const std::string& why) {
        static constexpr auto AGAIN = std::chrono::minutes(10);
        std::lock_guard lock(m_diagnosisMutex);
        const auto now = Steady::now();
        if (why != m_diagnosedWhy || now - m_diagnosedAt >= AGAIN) {
            m_diagnosis = diagnoseConnection(m_target);
            m_diagnosedWhy = why;
            m_diagnosedAt = now;
        }
        return m_diagnosis.empty() ? why : m_diagnosis;
    }

    void post(Event event) {
        {
            std::lock_guard lock(m_mutex);
            m_events.push_back(std::move(event));
        }
        m_wake.notify_one();
    }

    void rescan(bool first);
    std::deque<Event> nextEvents();
    void handle(const Event& event);

    CommandContext& m_context;
    const DiagnosisTarget m_target;
    std::mutex m_diagnosisMutex;  // the three below, set on the client's threads
    std::string m_diagnosedWhy;
    std::string m_diagnosis;
    Steady::time_point m_diagnosedAt{};
    std::unique_ptr<Random> m_random;

    // Before the client and the pollers, which post into it until they are gone.
    std::mutex m_mutex;  // m_events
    std::condition_variable m_wake;
    std::deque<Event> m_events;

    PublisherCore m_core;                   // holds the client
    std::unique_ptr<ParamWorker> m_worker;  // with parameters; posts until it is gone
    // Last: their threads end first. Shared with the parameters' jobs that pause them.
    std::map<std::string, std::shared_ptr<Poller>> m_pollers;
};

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
        if (m_core.tracks(location)) {
            continue;
        }
        m_core.track(location);
        m_pollers[location] =
            std::make_shared<Poller>(platform, std::move(descriptor), location, options,
                                     m_core.period(), [this](Reading result) {
                                         post({Event::Kind::Reading, std::move(result), {}});
                                     });
    }
    for (const std::string& location : m_core.locations()) {
        if (!present.contains(location)) {
            m_core.untrack(location);
            m_pollers.erase(location);
        }
    }
}

// The events posted so far, after waiting for one until something of the core's is due.
std::deque<Event> Publisher::nextEvents() {
    // Ctrl-C sets a flag nobody notifies: looked at every 100 ms.
    auto until = Steady::now() + std::chrono::milliseconds(100);
    if (const auto due = m_core.nextDue()) {
        until = std::min(until, *due);
    }
    std::deque<Event> batch;
    std::unique_lock lock(m_mutex);
    m_wake.wait_until(lock, until, [this] { return !m_events.empty(); });
    batch.swap(m_events);
    return batch;
}

void Publisher::handle(const Event& event) {
    if (event.kind == Event::Kind::ControllersChanged) {
        rescan(false);
        return;
    }
    m_core.handle(event);
    if (event.kind == Event::Kind::Reading && !m_core.tracks(event.reading.location)) {
        m_pollers.erase(event.reading.location);  // lost: its thread has ended
    }
}

int Publisher::run(const MqttConfig& config, std::optional<std::string> password,
                   const std::string& folder) {
    rescan(true);
    if (const std::string error = m_core.start(makePahoClient, *this, std::move(password), folder);
        !error.empty()) {
        m_pollers.clear();
        m_context.console.err << "ostrelctl: cannot set up the MQTT client for "
                              << config.broker.text() << ": " << error << '\n';
        return EXIT_USAGE;
    }
    // Controllers plugged in or pulled out: told by the watch's own thread, as an event.
    ControllerWatch watch(m_context.platforms.platform(m_context.global.simulated));
    std::thread watching([this, &watch] {
        while (!watch.cancelled()) {
            if (!watch.next(std::chrono::seconds(1)).empty()) {
                post({Event::Kind::ControllersChanged, {}, {}});
            }
        }
    });
    rescan(false);  // what came between the first search and the watch's start
    NetworkWatch network;
    std::thread networking([this, &network] {
        while (network.error().empty() && !m_context.interrupted.load()) {
            if (network.next(std::chrono::seconds(1))) {
                post({Event::Kind::NetworkBack, {}, {}});
            }
        }
    });
    while (!m_context.interrupted.load()) {
        for (const Event& event : nextEvents()) {
            handle(event);
        }
        m_core.tick();
    }
    watch.cancel();
    watching.join();
    network.cancel();
    networking.join();
    m_pollers.clear();
    m_worker.reset();  // after the write in progress and its read-back
    // What is in flight may still arrive: its acknowledgement takes it out of the queue, so
    // that the next start sends nothing twice.
    const auto until = Steady::now() + std::chrono::seconds(2);
    while (!m_core.settled() && Steady::now() < until) {
        for (const Event& event : nextEvents()) {
            if (event.kind != Event::Kind::Reading &&
                event.kind != Event::Kind::ControllersChanged) {
                m_core.handle(event);
            }
        }
    }
    m_core.finish();
    return EXIT_OK;
}

// Where the queue of readings is kept; empty (in memory) after saying why when it cannot be made.
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
    if (error) {
        err << "ostrelctl mqtt: cannot make the buffer folder " << folder << " (" << error.message()
            << "): readings are kept in memory only, and lost when the program ends\n";
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
    MqttConfig config = *loaded.config;
    if (!options.forget.empty()) {
        return forgetController(context, config, password, options.forget, makePahoClient);
    }
    if (options.demo) {
        config.clientId += "-sim";
        config.clearAtEnd = true;
    }
    const std::string folder = bufferFolder(options, context.console.err);
    Publisher publisher(context, config, options);
    return publisher.run(config, password, folder);
}

}  // namespace ctl::mqtt
