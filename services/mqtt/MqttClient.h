// What the publisher needs of a connection to the broker: MQTT 5 with a session the broker
// keeps, QoS 1, and a bounded buffer of what is not yet delivered. PahoClient is the one
// that talks to a broker; the publisher's tests drive it with one of their own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

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

    // Called on the client's own threads, never while the client is used from this side's
    // calls: a listener only hands what it hears to its own thread.
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

    virtual ~MqttClient() = default;

    // Empty, or why the client could not be created.
    virtual std::string create() = 0;
    // Starts one attempt; connected() or connectFailed() follows.
    virtual void connect() = 0;
    // Queues one QoS 1 message (also while disconnected); false with `error` set when it was
    // refused. `expirySeconds` 0: no message expiry.
    virtual bool publish(const std::string& topic, const std::string& payload, bool retained,
                         unsigned expirySeconds, std::string& error) = 0;
    // QoS 1; a retained message only when the subscription is new.
    virtual void subscribe(const std::string& topic) = 0;
    // Waits up to `flush` for messages in flight, then closes the connection cleanly.
    virtual void disconnect(std::chrono::milliseconds flush) = 0;
    virtual bool isConnected() = 0;

    // Messages the bounded buffer dropped so far (the oldest, to make room).
    virtual std::uint64_t dropped() const = 0;
    // Messages queued or in flight, not yet acknowledged by the broker.
    virtual std::size_t pending() = 0;
    // Messages found in the buffer when the client was created (those of an earlier run).
    virtual std::size_t restored() const = 0;
    // Counts the messages that left the buffer without an acknowledgement.
    virtual void reconcile() = 0;
};

// Makes the client the publisher uses; `listener` outlives it.
using ClientFactory = std::function<std::unique_ptr<MqttClient>(const MqttClient::Settings&,
                                                                MqttClient::Listener& listener)>;

// The client on Eclipse Paho C (PahoClient).
std::unique_ptr<MqttClient> makePahoClient(const MqttClient::Settings& settings,
                                           MqttClient::Listener& listener);

}  // namespace ctl::mqtt
