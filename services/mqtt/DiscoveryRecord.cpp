#include "services/mqtt/DiscoveryRecord.h"

#include <cstdint>
#include <cstdio>

namespace ctl::mqtt {
namespace {

// What a discovery said, in a few bytes: FNV-1a of its topics and payloads.
std::string digest(const std::vector<Message>& messages) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const Message& message : messages) {
        for (const std::string* text : {&message.topic, &message.payload}) {
            for (const char c : *text) {
                hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
            }
            hash = (hash ^ 0xffU) * 0x100000001b3ULL;  // 0xff is in no UTF-8 text
        }
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string key(const std::string& location) {
    return "discovery " + location;
}

}  // namespace

bool DiscoveryRecord::held(const std::string& location,
                           const std::vector<Message>& messages) const {
    return m_store.meta(key(location)) == digest(messages);
}

void DiscoveryRecord::sending(const std::string& location, const std::vector<Message>& messages,
                              std::set<int> tokens, bool whole) {
    m_store.setMeta(key(location), "");
    m_sent[location] = {digest(messages), std::move(tokens), whole};
}

bool DiscoveryRecord::delivered(int token) {
    for (auto it = m_sent.begin(); it != m_sent.end(); ++it) {
        if (it->second.tokens.erase(token) == 0) {
            continue;
        }
        if (it->second.tokens.empty()) {
            if (it->second.whole) {
                m_store.setMeta(key(it->first), it->second.digest);
            }
            m_sent.erase(it);
        }
        return true;
    }
    return false;
}

std::vector<std::string> DiscoveryRecord::unacknowledged() {
    std::vector<std::string> locations;
    for (const auto& [location, sent] : m_sent) {
        locations.push_back(location);
    }
    m_sent.clear();
    return locations;
}

}  // namespace ctl::mqtt
