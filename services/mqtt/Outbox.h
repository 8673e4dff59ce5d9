// What of the queue of readings is on its way to the broker: a few messages at a time, each
// known by its token until the broker acknowledges it, when its readings leave the queue.
// A controller's newest reading goes on its state topic; those before it, a dead zone's,
// go as batches on its history topic, so that a 10-minute gap costs a message or two.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/ReadingQueue.h"

namespace ctl::mqtt {

// Messages on their way at once: enough to fill a slow link, few to send again after a break.
inline constexpr std::size_t MOST_IN_FLIGHT = 4;
// The most bytes of readings in one message of the history.
inline constexpr std::size_t MOST_BATCH_BYTES = 64 * 1024;

class Outbox {
public:
    using Steady = std::chrono::steady_clock;
    // Sends one message; its token, or nullopt when it could not.
    using Send =
        std::function<std::optional<int>(const std::string& topic, const std::string& payload)>;

    Outbox(ReadingQueue& queue, const Topics& topics) : m_queue(queue), m_topics(topics) {}

    // Sends what there is room for; how many messages that were.
    std::size_t pump(const Send& send, Steady::time_point now);
    // The broker has the message of `token`: its readings leave the queue. False for a token
    // that is not a batch or a state of ours (a retained message's).
    bool delivered(int token);
    // The connection is gone: what was in flight is sent again on the next one.
    void forget();

    std::size_t inFlight() const { return m_flights.size(); }
    // When the oldest message in flight was sent.
    std::optional<Steady::time_point> oldestSent() const;

private:
    struct Flight {
        std::vector<std::int64_t> ids;
        Steady::time_point sent;
    };

    bool send(const Send& send, const std::string& topic, const std::string& payload,
              std::vector<std::int64_t> ids, Steady::time_point now);

    ReadingQueue& m_queue;
    const Topics& m_topics;
    std::map<int, Flight> m_flights;  // by token
    std::set<std::int64_t> m_flying;  // the ids of their readings
};

}  // namespace ctl::mqtt
