#include "services/mqtt/Outbox.h"

#include <algorithm>

namespace ctl::mqtt {
namespace {

// How far into the queue one round looks for a controller's readings.
constexpr std::size_t LOOK_AHEAD = 4096;

}  // namespace

bool Outbox::send(const Send& send, const std::string& topic, const std::string& payload,
                  std::vector<std::int64_t> ids, Steady::time_point now) {
    const std::optional<int> token = send(topic, payload);
    if (!token) {
        return false;
    }
    m_flying.insert(ids.begin(), ids.end());
    m_flights[*token] = Flight{std::move(ids), now};
    return true;
}

std::size_t Outbox::pump(const Send& sender, Steady::time_point now) {
    std::size_t messages = 0;
    while (m_flights.size() < MOST_IN_FLIGHT) {
        const std::vector<const QueuedReading*> waiting = m_queue.oldest(LOOK_AHEAD, m_flying);
        if (waiting.empty()) {
            break;
        }
        // The controller whose reading has waited longest goes first.
        const std::string location = waiting.front()->location;
        const std::optional<std::int64_t> newest = m_queue.newest(location);
        const ControllerTopics topics = m_topics.controller(location);
        bool sent = false;
        if (waiting.front()->id == newest) {
            sent = send(sender, topics.state, waiting.front()->payload, {waiting.front()->id}, now);
        } else {
            std::string batch = "[";
            std::vector<std::int64_t> ids;
            for (const QueuedReading* reading : waiting) {
                if (reading->location != location) {
                    continue;
                }
                if (reading->id == newest ||
                    (!ids.empty() &&
                     batch.size() + reading->payload.size() + 2 > MOST_BATCH_BYTES)) {
                    break;
                }
                batch += (ids.empty() ? "" : ",") + reading->payload;
                ids.push_back(reading->id);
            }
            batch += "]";
            sent = send(sender, topics.history, batch, std::move(ids), now);
        }
        if (!sent) {
            break;
        }
        ++messages;
    }
    return messages;
}

bool Outbox::delivered(int token) {
    const auto flight = m_flights.find(token);
    if (flight == m_flights.end()) {
        return false;
    }
    for (const std::int64_t id : flight->second.ids) {
        m_flying.erase(id);
    }
    m_queue.remove(flight->second.ids);
    m_flights.erase(flight);
    return true;
}

void Outbox::forget() {
    m_flights.clear();
    m_flying.clear();
}

std::optional<Outbox::Steady::time_point> Outbox::oldestSent() const {
    std::optional<Steady::time_point> oldest;
    for (const auto& [token, flight] : m_flights) {
        if (!oldest || flight.sent < *oldest) {
            oldest = flight.sent;
        }
    }
    return oldest;
}

}  // namespace ctl::mqtt
