// What the publisher needs of a connection to the broker: MQTT 5 with a session the broker
// keeps, QoS 1, each message's acknowledgement told by its token. What is not delivered yet
// is the publisher's to keep (ReadingQueue). PahoClient is the one that talks to a broker;
// the publisher's tests drive it with one of their own.
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
        std::string willTopic;  // the last will: "offline", retained; empty: none
        int keepAliveSeconds = 240;
        unsigned sessionExpirySeconds = 86400;
    };

    // Called on the client's own threads, never while the client is used from this side's
    // calls: a listener only hands what it hears to its own thread. `reason`: the MQTT 5
    // reason code the broker gave (0 when it gave none).
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void connected(bool sessionPresent) = 0;
        virtual void connectFailed(const std::string& why, int reason) = 0;
        virtual void connectionLost(const std::string& why, int reason) = 0;
        // The broker acknowledged the message of this token.
        virtual void delivered(int token) = 0;
        // `retained`: from what the broker retained, not published since the subscription.
        // A payload longer than the client takes arrives cut one byte beyond it.
        virtual void messageArrived(const std::string& topic, const std::string& payload,
                                    bool retained) = 0;
    };

    virtual ~MqttClient() = default;

    // Empty, or why the client could not be created.
    virtual std::string create() = 0;
    // Starts one attempt on a connection of its own: whatever the one before still held is
    // forgotten (its tokens are never delivered). connected() or connectFailed() follows.
    virtual void connect(bool cleanStart) = 0;
    // Sends one QoS 1 message on the connection; its token, or nullopt with `error` set.
    // `expirySeconds` 0: no message expiry. A message that is not retained may go by a topic
    // alias, when the broker allows them.
    virtual std::optional<int> publish(const std::string& topic, const std::string& payload,
                                       bool retained, unsigned expirySeconds,
                                       std::string& error) = 0;
    // QoS 1; a retained message only when the subscription is new.
    virtual void subscribe(const std::string& topic) = 0;
    // Waits up to `flush` for messages in flight, then closes the connection cleanly, the
    // last will sent.
    virtual void disconnect(std::chrono::milliseconds flush) = 0;
    // Gives the connection up at once, without a word to the broker (a link taken for dead).
    virtual void abandon() = 0;
    virtual bool isConnected() = 0;
};

// Makes the client the publisher uses; `listener` outlives it.
using ClientFactory = std::function<std::unique_ptr<MqttClient>(const MqttClient::Settings&,
                                                                MqttClient::Listener& listener)>;

// The client on Eclipse Paho C (PahoClient).
std::unique_ptr<MqttClient> makePahoClient(const MqttClient::Settings& settings,
                                           MqttClient::Listener& listener);

}  // namespace ctl::mqtt
