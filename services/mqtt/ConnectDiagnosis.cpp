#include "services/mqtt/ConnectDiagnosis.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/texts/OutsideText.h"
#include "services/mqtt/TlsProbe.h"

namespace ctl::mqtt::probe {
namespace {

constexpr std::size_t MAX_NAME_BYTES = 160;  // of one name from outside

int millisecondsLeft(Clock::time_point deadline) {
    const long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

}  // namespace

std::string secondsText(std::chrono::milliseconds duration) {
    const long long tenths = (duration.count() + 50) / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0) {
        text += "." + std::to_string(tenths % 10);
    }
    return text + " s";
}

bool ready(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int count = ::poll(&entry, 1, millisecondsLeft(deadline));
        if (count > 0) {
            return true;
        }
        if (count == 0 || errno != EINTR) {
            return false;
        }
    }
}

std::string outside(std::string text) {
    if (text.size() > MAX_NAME_BYTES) {
        text.resize(MAX_NAME_BYTES);
        text += "...";
    }
    return escapeControls(text);
}

}  // namespace ctl::mqtt::probe

namespace ctl::mqtt {
namespace {

using probe::Clock;
using probe::outside;
using probe::ready;
using probe::secondsText;

constexpr std::size_t MAX_ADDRESSES = 8;

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Socket(Socket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Socket& operator=(Socket&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// --- The name ---

struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    std::string text;  // numeric
};

// One lookup, shared with the thread that makes it: a resolver that takes longer than the
// timeout finishes there, after the caller has gone on.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int status = 0;
    int error = 0;  // errno, for EAI_SYSTEM
    std::vector<Address> addresses;
};

void lookUp(Lookup& lookup, const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    const int error = errno;
    std::vector<Address> addresses;
    for (const addrinfo* entry = status == 0 ? list : nullptr;
         entry != nullptr && addresses.size() < MAX_ADDRESSES; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        Address& address = addresses.emplace_back();
        std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
        address.length = entry->ai_addrlen;
        std::array<char, NI_MAXHOST> text{};
        if (::getnameinfo(entry->ai_addr, entry->ai_addrlen, text.data(), text.size(), nullptr, 0,
                          NI_NUMERICHOST) == 0) {
            address.text = text.data();
        }
    }
    if (list != nullptr) {
        ::freeaddrinfo(list);
    }
    {
        const std::lock_guard lock(lookup.mutex);
        lookup.status = status;
        lookup.error = error;
        lookup.addresses = std::move(addresses);
        lookup.finished = true;
    }
    lookup.done.notify_all();
}

// The host's addresses, or why there are none.
std::string resolve(const std::string& host, int port, Clock::time_point deadline,
                    std::chrono::milliseconds timeout, std::vector<Address>& addresses) {
    const auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, port] { lookUp(*lookup, host, port); }).detach();
    } catch (const std::system_error&) {
        lookUp(*lookup, host, port);  // no thread to be had: unbounded, but an answer
    }
    std::unique_lock lock(lookup->mutex);
    const std::string name = "the name " + outside(host);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        return name + " does not resolve within " + secondsText(timeout) +
               " (no answer from the name servers)";
    }
    if (lookup->status != 0) {
        const std::string why = lookup->status == EAI_SYSTEM ? std::strerror(lookup->error)
                                                             : ::gai_strerror(lookup->status);
        return name + " does not resolve (" + why + ")";
    }
    if (lookup->addresses.empty()) {
        return name + " does not resolve (no IPv4 or IPv6 address)";
    }
    addresses = lookup->addresses;
    return {};
}

// --- The TCP connection ---

// Tries the addresses in order; the first failure is the one said.
std::string connectTo(const std::vector<Address>& addresses, const std::string& where, bool named,
                      Clock::time_point deadline, std::chrono::milliseconds timeout,
                      Socket& connected) {
    std::string failure;
    for (const Address& address : addresses) {
        const std::string at = named ? where + " (" + address.text + ")" : where;
        Socket socket(
            ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        int error = socket.fd() < 0 ? errno : 0;
        if (error == 0 &&
            ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address.storage),
                      address.length) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                if (!ready(socket.fd(), POLLOUT, deadline)) {
                    return failure.empty()
                               ? "no answer from " + at + " within " + secondsText(timeout)
                               : failure;
                }
                socklen_t length = sizeof error;
                if (::getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                    error = errno;
                }
            }
        }
        if (error == 0) {
            connected = std::move(socket);
            return {};
        }
        if (failure.empty()) {
            failure = error == ECONNREFUSED
                          ? at + " refused the connection (nothing listens on that port)"
                          : at + " cannot be reached (" + std::strerror(error) + ")";
        }
    }
    return failure;
}
std::string unbracketed(const std::string& host) {
    return host.size() >= 2 && host.front() == '[' && host.back() == ']'
               ? host.substr(1, host.size() - 2)
               : host;
}

bool isAddress(const std::string& host) {
    std::array<unsigned char, sizeof(in6_addr)> bytes{};
    return ::inet_pton(AF_INET, host.c_str(), bytes.data()) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), bytes.data()) == 1;
}

}  // namespace

std::string diagnoseConnection(const DiagnosisTarget& target) {
    const Clock::time_point deadline = Clock::now() + target.timeout;
    const std::string host = unbracketed(target.broker.host);
    const std::string where =
        outside(target.broker.host) + ":" + std::to_string(target.broker.port);
    const bool named = !isAddress(host);
    std::vector<Address> addresses;
    if (std::string why = resolve(host, target.broker.port, deadline, target.timeout, addresses);
        !why.empty()) {
        return why;
    }
    Socket socket;
    if (std::string why = connectTo(addresses, where, named, deadline, target.timeout, socket);
        !why.empty()) {
        return why;
    }
    if (!target.broker.tls) {
        return {};
    }
    return probe::tlsHandshake(target, host, named, where, socket.fd(), deadline);
}

std::string brokerReasonText(int reasonCode, const std::string& username,
                             const std::string& clientId) {
    const std::string user = "user '" + escapeControls(username) + "'";
    const std::string client = "client id '" + escapeControls(clientId) + "'";
    const bool anonymous = username.empty();
    switch (reasonCode) {
        case 0x80:
            return "the broker refused the connection (unspecified error)";
        case 0x81:
            return "the broker took a packet of ours for malformed (malformed packet)";
        case 0x82:
            return "the broker saw a protocol error of ours (protocol error)";
        case 0x83:
            return "the broker refused the connection (implementation specific error): its log "
                   "says why";
        case 0x84:
            return "the broker does not speak MQTT 5 (unsupported protocol version): the "
                   "publisher needs one that does";
        case 0x85:
            return "the broker does not take " + client +
                   " (client identifier not valid): choose another client_id";
        case 0x86:
            return anonymous ? "the broker wants a login (bad user name or password): set username "
                               "and password_file"
                             : "the broker refused the login of " + user +
                                   " (bad user name or password): check username and password_file";
        case 0x87:
            return anonymous ? "the broker lets no client in without a login (not authorized): set "
                               "username and password_file"
                             : "the broker does not let " + user + " in as " + client +
                                   " (not authorized): check username, password_file and the "
                                   "broker's access rules";
        case 0x88:
            return "the broker is unavailable (server unavailable); it is tried again";
        case 0x89:
            return "the broker is busy (server busy); it is tried again";
        case 0x8A:
            return "the broker has banned " + client + (anonymous ? "" : " or " + user) +
                   " (banned): ask its administrator";
        case 0x8B:
            return "the broker is shutting down (server shutting down); it is tried again";
        case 0x8C:
            return "the broker does not take this way of logging in (bad authentication method): "
                   "it may want a client certificate (cert_file and key_file) instead of username "
                   "and password_file";
        case 0x8D:
            return "the broker heard nothing from us within the keep-alive (keep alive timeout)";
        case 0x8E:
            return "another client connected as " + client +
                   " and took the session over (session taken over): give each vehicle a "
                   "client_id of its own";
        case 0x8F:
            return "the broker refused a subscription (topic filter invalid): check "
                   "homeassistant_prefix";
        case 0x90:
            return "the broker refused a topic (topic name invalid): check prefix and "
                   "homeassistant_prefix";
        case 0x93:
            return "the broker got more messages in flight than it takes (receive maximum "
                   "exceeded)";
        case 0x94:
            return "the broker refused a topic alias (topic alias invalid)";
        case 0x95:
            return "a message was larger than the broker takes (packet too large): "
                   "homeassistant_discovery = entity and texts = no send smaller ones";
        case 0x96:
            return "the broker got messages too fast (message rate too high): raise interval";
        case 0x97:
            return "the broker's quota for " + client +
                   " is used up (quota exceeded): raise interval, or ask its administrator";
        case 0x98:
            return "the broker's administrator ended the connection (administrative action)";
        case 0x99:
            return "the broker refused a message's payload (payload format invalid)";
        case 0x9A:
            return "the broker takes no retained messages (retain not supported), which the "
                   "availability and the discovery are";
        case 0x9B:
            return "the broker does not take QoS 1 (QoS not supported)";
        case 0x9C:
            return "the broker sends us to another server (use another server): change broker";
        case 0x9D:
            return "the broker has moved (server moved): change broker";
        case 0x9F:
            return "the broker takes no more connections this often (connection rate exceeded); "
                   "it is tried again later";
        case 0xA0:
            return "the broker's longest time for a connection is over (maximum connect time); it "
                   "is tried again";
        default:
            break;
    }
    if (reasonCode < 0x80) {
        return {};
    }
    std::array<char, 8> hex{};
    std::snprintf(hex.data(), hex.size(), "0x%02X", static_cast<unsigned>(reasonCode) & 0xFFFFU);
    return "the broker refused the connection (reason code " + std::string(hex.data()) + ")";
}

}  // namespace ctl::mqtt
