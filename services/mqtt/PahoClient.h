// The one connection to the broker, on Eclipse Paho C's asynchronous client: MQTT 5 with a
// session the broker keeps (clean start when the publisher asks), QoS 1, nothing of Paho's
// own kept on disk: the publisher keeps what is undelivered. Each attempt gets a Paho client
// of its own, so that nothing of a broken connection is sent again on the next one (the
// publisher sends it again, from its queue), and the topic aliases start afresh with it.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "services/mqtt/MqttClient.h"

namespace ctl::mqtt {

class PahoClient final : public MqttClient {
public:
    PahoClient(Settings settings, Listener& listener);
    ~PahoClient() override;
    PahoClient(const PahoClient&) = delete;
    PahoClient& operator=(const PahoClient&) = delete;

    std::string create() override;
    void connect(bool cleanStart) override;
    std::optional<int> publish(const std::string& topic, const std::string& payload, bool retained,
                               unsigned expirySeconds, std::string& error) override;
    void subscribe(const std::string& topic) override;
    void disconnect(std::chrono::milliseconds flush) override;
    void abandon() override;
    bool isConnected() override;

    // What a callback is given: the client and the attempt it belongs to.
    struct Attempt {
        PahoClient* client;
        unsigned number;
    };

private:
    friend struct PahoCallbacks;

    std::string make();
    void destroy();
    // Whether `attempt` is the one under way (a callback of an earlier one is not heard).
    bool current(const Attempt* attempt);

    Settings m_settings;
    Listener& m_listener;
    void* m_handle = nullptr;
    unsigned m_attempt = 0;
    // Those of the last two attempts: a callback may still be on its way from the one before.
    std::deque<std::unique_ptr<Attempt>> m_attempts;

    std::mutex m_mutex;  // what follows
    std::string m_tlsError;
    int m_disconnectReason = 0;  // of the broker's DISCONNECT
    int m_aliasMaximum = 0;      // the broker's, for this connection
    // Topic aliases of this connection; touched only by publish(), on the caller's thread.
    std::map<std::string, int> m_aliases;
};

}  // namespace ctl::mqtt
