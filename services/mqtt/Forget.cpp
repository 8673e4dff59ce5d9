// ostrelctl mqtt --forget LOCATION: every retained topic of one controller emptied, on a
// connection of its own (a client id of its own, a clean session the broker forgets, no last
// will), so that the service publishing beside it keeps its session.
#include "services/mqtt/Forget.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>

#include "core/texts/OutsideText.h"
#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/PublisherCore.h"

namespace ctl::mqtt {
namespace {

constexpr auto CONNECT_WAIT = std::chrono::seconds(15);
constexpr auto ACK_WAIT = std::chrono::seconds(15);

class Waiter final : public MqttClient::Listener {
public:
    void connected(bool) override {
        note([this] { m_connected = true; });
    }
    void connectFailed(const std::string& why, int) override {
        note([&] { m_failure = why; });
    }
    void connectionLost(const std::string& why, int) override {
        note([&] { m_failure = "the connection was lost (" + why + ")"; });
    }
    void delivered(int token) override {
        note([&] { m_delivered.insert(token); });
    }
    void messageArrived(const std::string&, const std::string&, bool) override {}

    // Whether `done` came true within `limit`; false too once a failure came.
    template <typename Done>
    bool waitFor(Steady::duration limit, Done done) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, limit, [&] { return done() || !m_failure.empty(); });
        return done();
    }
    bool isConnected() const { return m_connected; }
    bool hasDelivered(const std::set<int>& tokens) const {
        return std::includes(m_delivered.begin(), m_delivered.end(), tokens.begin(), tokens.end());
    }
    std::string failure() {
        std::lock_guard lock(m_mutex);
        return m_failure.empty() ? "no answer" : m_failure;
    }

private:
    template <typename Change>
    void note(Change change) {
        {
            std::lock_guard lock(m_mutex);
            change();
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_connected = false;
    std::string m_failure;
    std::set<int> m_delivered;
};

}  // namespace

int forgetController(CommandContext& context, const MqttConfig& config,
                     std::optional<std::string> password, const std::string& location,
                     const ClientFactory& make) {
    if (location.find_first_of("/+#") != std::string::npos ||
        escapeControls(location) != location) {
        return fail(context, EXIT_USAGE,
                    "--forget: \"" + escapeControls(location) +
                        "\" is no location (ostrelctl devices shows them)");
    }
    const Topics topics(config);
    MqttClient::Settings settings = clientSettings(config, topics, std::move(password));
    settings.clientId += "-forget";
    settings.willTopic.clear();
    settings.sessionExpirySeconds = 0;
    Waiter waiter;
    const std::unique_ptr<MqttClient> client = make(settings, waiter);
    if (const std::string error = client->create(); !error.empty()) {
        return fail(context, EXIT_USAGE,
                    "cannot set up the MQTT client for " + config.broker.text() + ": " + error);
    }
    client->connect(true);
    if (!waiter.waitFor(CONNECT_WAIT, [&] { return waiter.isConnected(); })) {
        return fail(context, EXIT_TIMEOUT,
                    "cannot connect to " + config.broker.text() + ": " + waiter.failure() +
                        "; nothing was forgotten");
    }
    std::set<int> tokens;
    const std::vector<std::string> all = retainedTopics(config, topics, location, true);
    for (const std::string& topic : all) {
        std::string error;
        const std::optional<int> token = client->publish(topic, "", true, 0, error);
        if (!token) {
            client->disconnect(std::chrono::seconds(2));
            return fail(context, EXIT_TIMEOUT, "cannot empty " + topic + ": " + error);
        }
        tokens.insert(*token);
    }
    const bool acknowledged = waiter.waitFor(ACK_WAIT, [&] { return waiter.hasDelivered(tokens); });
    client->disconnect(std::chrono::seconds(2));
    if (!acknowledged) {
        return fail(context, EXIT_TIMEOUT,
                    "the broker did not acknowledge every emptied topic of " + location + " (" +
                        waiter.failure() + "); run it again");
    }
    context.console.out << "forgot " << location << " of " << config.clientId << " on "
                        << config.broker.text() << ": " << all.size()
                        << " retained topics emptied; Home Assistant removes its device\n";
    return EXIT_OK;
}

}  // namespace ctl::mqtt
