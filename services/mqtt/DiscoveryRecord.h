// Which discovery the broker holds of each controller, across runs: the digest of the last
// one it acknowledged whole, kept in the queue's store, so that a run on a session the broker
// kept (and with it what it retained) does not send the same kilobytes again at every start
// of a vehicle's computer.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/ReadingQueue.h"

namespace ctl::mqtt {

class DiscoveryRecord {
public:
    explicit DiscoveryRecord(ReadingQueue& store) : m_store(store) {}

    // Whether the broker holds `messages` of `location` from an earlier acknowledgement.
    bool held(const std::string& location, const std::vector<Message>& messages) const;
    // They go now, those of `tokens` taken (`whole`: all of them were): what the broker holds
    // is not known until each is acknowledged.
    void sending(const std::string& location, const std::vector<Message>& messages,
                 std::set<int> tokens, bool whole);
    // Whether `token` was one of a discovery's messages.
    bool delivered(int token);
    // A new connection: the locations whose discovery the last one left unacknowledged, which
    // may not have reached the broker.
    std::vector<std::string> unacknowledged();

private:
    struct Sent {
        std::string digest;
        std::set<int> tokens;  // not acknowledged yet
        bool whole = true;
    };

    ReadingQueue& m_store;
    std::map<std::string, Sent> m_sent;  // by location
};

}  // namespace ctl::mqtt
