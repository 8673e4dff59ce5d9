// The one connection to the broker, on Eclipse Paho C's asynchronous client: MQTT 5 with a
// session the broker keeps (clean start off, a session expiry), QoS 1, and Paho's offline
// buffer in a folder, bounded, dropping the oldest. It connects when told to: the caller
// schedules the attempts (with backoff and jitter, which Paho's own reconnect lacks).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>

#include "services/mqtt/MqttConfig.h"

namespace ctl::mqtt {

class MqttClient {
public:
    struct Settings {
        BrokerAddress broker;
        std::string clientId;
        std::string username;  // empty: none
        std::optional<std::string> password;
        std::string caFile;  // TLS only; empty: the system's trusted CAs
        std::string certFile;
        std::string keyFile;
        std::string willTopic;          // the last will: "offline", retained
        std::string persistenceFolder;  // empty: the buffer is in memory only
        int maxBuffered = 1000;         // messages queued at most; the oldest go first
        int keepAliveSeconds = 60;
        unsigned sessionExpirySeconds = 86400;
    };

    // Called on Paho's threads, never while the client is used from this side's calls: a
    // listener only hands what it hears to its own thread.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void connected() = 0;
        virtual void connectFailed(const std::string& why) = 0;
        virtual void connectionLost(const std::string& why) = 0;
        virtual void messageArrived(const std::string& topic, const std::string& payload) = 0;
        // The buffer folder could not be written: messages stay in memory.
        virtual void persistenceFailed() = 0;
    };

    MqttClient(Settings settings, Listener& listener);
    // Destroys Paho's client; what it has not delivered stays in the folder for the next start.
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Empty, or why Paho refused to create the client.
    std::string create();
    // Starts one attempt; connected() or connectFailed() follows.
    void connect();
    // Queues one QoS 1 message (also while disconnected); false with `error` set when Paho
    // refused it. `expirySeconds` 0: no message expiry.
    bool publish(const std::string& topic, const std::string& payload, bool retained,
                 unsigned expirySeconds, std::string& error);
    // QoS 1; a retained message only when the subscription is new.
    void subscribe(const std::string& topic);
    // Waits up to `flush` for messages in flight, then closes the connection cleanly.
    void disconnect(std::chrono::milliseconds flush);
    bool isConnected();

    // Messages the bounded buffer dropped so far (the oldest, to make room).
    std::uint64_t dropped() const { return m_dropped.load(); }
    // Messages queued or in flight, not yet acknowledged by the broker.
    std::size_t pending();
    // Messages found in the folder when the client was created (those of an earlier run).
    std::size_t restored() const { return m_restored; }
    // Counts the messages of ours that left Paho's lists without an acknowledgement: pushed
    // out of the full buffer, or in flight when a broker that had lost our session took us.
    void reconcile();

private:
    friend struct PahoCallbacks;

    Settings m_settings;
    Listener& m_listener;
    void* m_handle = nullptr;

    std::mutex m_mutex;                     // what follows
    std::unordered_set<int> m_outstanding;  // tokens sent, not acknowledged
    std::unordered_set<int> m_early;        // acknowledged before publish() noted them
    std::string m_tlsError;
    std::atomic<std::uint64_t> m_dropped{0};
    std::size_t m_restored = 0;
};

}  // namespace ctl::mqtt
