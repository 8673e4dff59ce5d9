// The one connection to the broker, on Eclipse Paho C's asynchronous client: MQTT 5 with a
// session the broker keeps (clean start off, a session expiry), QoS 1, and Paho's offline
// buffer in a folder, bounded, dropping the oldest. It connects when told to: the caller
// schedules the attempts (with backoff and jitter, which Paho's own reconnect lacks).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>

#include "services/mqtt/MqttClient.h"

namespace ctl::mqtt {

class PahoClient final : public MqttClient {
public:
    PahoClient(Settings settings, Listener& listener);
    // Destroys Paho's client; what it has not delivered stays in the folder for the next start.
    ~PahoClient() override;
    PahoClient(const PahoClient&) = delete;
    PahoClient& operator=(const PahoClient&) = delete;

    std::string create() override;
    void connect() override;
    bool publish(const std::string& topic, const std::string& payload, bool retained,
                 unsigned expirySeconds, std::string& error) override;
    void subscribe(const std::string& topic) override;
    void disconnect(std::chrono::milliseconds flush) override;
    bool isConnected() override;

    std::uint64_t dropped() const override { return m_dropped.load(); }
    std::size_t pending() override;
    std::size_t restored() const override { return m_restored; }
    // The tokens of ours that left Paho's lists without an acknowledgement: pushed out of the
    // full buffer, or in flight when a broker that had lost our session took us.
    void reconcile() override;

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
