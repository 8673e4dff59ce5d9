#include "services/mqtt/NetworkWatch.h"

#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>
#include <utility>

namespace ctl::mqtt {
namespace {

// Messages and their attributes are laid out on four-byte boundaries; they are copied out of
// the datagram rather than cast, so that no length in it can lead a read astray.
static_assert(NLMSG_ALIGNTO == 4U && RTA_ALIGNTO == 4U);
constexpr std::size_t align4(std::size_t size) {
    return (size + 3U) & ~std::size_t{3U};
}

template <typename Struct>
bool copyOut(std::span<const std::uint8_t> bytes, Struct& into) {
    if (bytes.size() < sizeof into) {
        return false;
    }
    std::memcpy(&into, bytes.data(), sizeof into);
    return true;
}

// Calls `each(type, payload)` for every attribute wholly inside `bytes`, in order; stops at
// the first whose length is shorter than its header or runs past the end.
template <typename Each>
void eachAttribute(std::span<const std::uint8_t> bytes, Each each) {
    std::size_t at = 0;
    rtattr header{};
    while (copyOut(bytes.subspan(at), header)) {
        const std::size_t length = header.rta_len;
        if (length < sizeof header || length > bytes.size() - at) {
            return;
        }
        each(header.rta_type, bytes.subspan(at + align4(sizeof header), length - sizeof header));
        at += align4(length);
        if (at >= bytes.size()) {
            return;
        }
    }
}

// The attributes of a message whose fixed part is `Struct`.
template <typename Struct>
std::span<const std::uint8_t> attributesAfter(std::span<const std::uint8_t> payload) {
    return payload.size() > align4(sizeof(Struct)) ? payload.subspan(align4(sizeof(Struct)))
                                                   : std::span<const std::uint8_t>();
}

std::uint32_t word(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    return bytes.size() == sizeof value && copyOut(bytes, value) ? value : 0;
}

std::string errnoText(const char* call) {
    return std::string(call) + ": " + std::error_code(errno, std::generic_category()).message();
}

constexpr std::uint32_t GROUPS =
    RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
// The largest datagram read whole: the kernel fills a dump's datagrams to the reader's
// buffer, up to 32 KiB; a longer one is cut and counts as a return.
constexpr std::size_t BUFFER_SIZE = 64 * 1024;
// The kernel answers a dump at once; a longer wait means no answer is coming.
constexpr std::chrono::seconds LEARN_LIMIT{2};
// Datagrams read in one go before the wait is looked at again.
constexpr int DRAIN_LIMIT = 1024;
// The longest wait taken at once: a year stands for for ever, and fits every clock.
constexpr std::chrono::milliseconds WAIT_LIMIT = std::chrono::hours(24 * 365);

}  // namespace

NetworkSigns::Taken NetworkSigns::take(std::span<const std::uint8_t> datagram, std::uint32_t port,
                                       std::uint32_t dumpSequence) {
    Taken taken;
    std::size_t at = 0;
    nlmsghdr header{};
    while (copyOut(datagram.subspan(at), header)) {
        const std::size_t length = header.nlmsg_len;
        if (length < sizeof header || length > datagram.size() - at) {
            break;
        }
        const std::span<const std::uint8_t> payload =
            datagram.subspan(at + align4(sizeof header), length - sizeof header);
        const bool told =
            dumpSequence != 0 && header.nlmsg_seq == dumpSequence && header.nlmsg_pid == port;
        switch (header.nlmsg_type) {
            case NLMSG_DONE:
            case NLMSG_ERROR:
                taken.dumpEnded = taken.dumpEnded || told;
                break;
            case NLMSG_OVERRUN:
                forget();
                taken.returned = true;
                break;
            case RTM_NEWLINK:
            case RTM_DELLINK:
                taken.returned = link(payload, header.nlmsg_type, told) || taken.returned;
                break;
            case RTM_NEWADDR:
            case RTM_DELADDR:
                taken.returned = address(payload, header.nlmsg_type, told) || taken.returned;
                break;
            case RTM_NEWROUTE:
                taken.returned = (!told && defaultRoute(payload)) || taken.returned;
                break;
            default:
                break;
        }
        at += align4(length);
        if (at >= datagram.size()) {
            break;
        }
    }
    return taken;
}

void NetworkSigns::forget() {
    m_usable.clear();
    m_addresses.clear();
}

bool NetworkSigns::link(std::span<const std::uint8_t> message, std::uint16_t type, bool told) {
    ifinfomsg info{};
    if (!copyOut(message, info)) {
        return false;
    }
    const std::int32_t index = info.ifi_index;
    if (type == RTM_DELLINK) {
        // Its index may come back on another link, which owes this one nothing.
        m_usable.erase(index);
        std::erase_if(m_addresses, [index](const Address& known) { return known.link == index; });
        return false;
    }
    const bool usable =
        (info.ifi_flags & IFF_UP) != 0 && (info.ifi_flags & (IFF_RUNNING | IFF_LOWER_UP)) != 0;
    const auto known = m_usable.find(index);
    // A link not known before is one made since, or one whose state an overrun lost: usable,
    // it may be a return.
    const bool was = known != m_usable.end() && known->second;
    if (known != m_usable.end()) {
        known->second = usable;
    } else if (m_usable.size() < LINKS_KEPT) {
        m_usable.emplace(index, usable);
    }
    return !told && usable && !was;
}

bool NetworkSigns::address(std::span<const std::uint8_t> message, std::uint16_t type, bool told) {
    ifaddrmsg info{};
    if (!copyOut(message, info) || (info.ifa_family != AF_INET && info.ifa_family != AF_INET6)) {
        return false;
    }
    const std::size_t size = info.ifa_family == AF_INET ? 4 : 16;
    std::uint32_t flags = info.ifa_flags;
    std::span<const std::uint8_t> local;
    std::span<const std::uint8_t> peer;
    eachAttribute(attributesAfter<ifaddrmsg>(message),
                  [&](std::uint16_t attribute, std::span<const std::uint8_t> value) {
                      if (attribute == IFA_FLAGS && value.size() == sizeof flags) {
                          flags = word(value);  // all 32 bits: ifa_flags holds only 8
                      } else if (attribute == IFA_LOCAL && value.size() == size) {
                          local = value;
                      } else if (attribute == IFA_ADDRESS && value.size() == size) {
                          peer = value;
                      }
                  });
    // The address of this end: IFA_LOCAL where the link has another end, else IFA_ADDRESS.
    const std::span<const std::uint8_t> own = local.empty() ? peer : local;
    if (own.empty()) {
        return false;
    }
    Address key;
    key.family = info.ifa_family;
    key.prefix = info.ifa_prefixlen;
    key.link = static_cast<std::int32_t>(info.ifa_index);
    std::copy(own.begin(), own.end(), key.bytes.begin());
    // Not usable until its duplicate detection is done, which the kernel tells again.
    if (type == RTM_DELADDR || (flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) != 0) {
        m_addresses.erase(key);
        return false;
    }
    // A lease or a router's advertisement renewed tells of the same address again: no return.
    const bool added = m_addresses.size() < ADDRESSES_KEPT ? m_addresses.insert(key).second
                                                           : m_addresses.count(key) == 0;
    return !told && added;
}

bool NetworkSigns::defaultRoute(std::span<const std::uint8_t> message) {
    rtmsg route{};
    if (!copyOut(message, route) || (route.rtm_family != AF_INET && route.rtm_family != AF_INET6) ||
        route.rtm_dst_len != 0 || route.rtm_type != RTN_UNICAST ||
        (route.rtm_flags & RTM_F_CLONED) != 0) {
        return false;
    }
    // The table's number is in the header up to 255 and in RTA_TABLE always.
    std::uint32_t table = route.rtm_table;
    eachAttribute(attributesAfter<rtmsg>(message),
                  [&](std::uint16_t attribute, std::span<const std::uint8_t> value) {
                      if (attribute == RTA_TABLE && value.size() == sizeof table) {
                          table = word(value);
                      }
                  });
    return table == RT_TABLE_MAIN;
}

NetworkWatch::NetworkWatch() {
    m_cancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_cancel < 0) {
        m_error = errnoText("eventfd");
        return;
    }
    m_socket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (m_socket < 0) {
        m_error = errnoText("socket(AF_NETLINK)");
        return;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = GROUPS;
    socklen_t length = sizeof local;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own type
    auto* address = reinterpret_cast<sockaddr*>(&local);
    if (::bind(m_socket, address, sizeof local) != 0 ||
        ::getsockname(m_socket, address, &length) != 0) {
        m_error = errnoText("bind(NETLINK_ROUTE)");
        ::close(m_socket);
        m_socket = -1;
        return;
    }
    m_port = local.nl_pid;
    // Room for a burst (a modem's link, addresses and routes at once); the kernel may give
    // less, and an overrun still counts as a return.
    const int room = 1024 * 1024;
    ::setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    m_buffer.resize(BUFFER_SIZE);
    learn(RTM_GETLINK, 1);
    learn(RTM_GETADDR, 2);
}

NetworkWatch::~NetworkWatch() {
    if (m_socket >= 0) {
        ::close(m_socket);
    }
    if (m_cancel >= 0) {
        ::close(m_cancel);
    }
}

long NetworkWatch::receive() {
    sockaddr_nl sender{};
    iovec part{m_buffer.data(), m_buffer.size()};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t got = 0;
    do {
        got = ::recvmsg(m_socket, &message, MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return -1;
    }
    // Only the kernel speaks for the network: another program may send to our groups.
    if (message.msg_namelen != sizeof sender || sender.nl_family != AF_NETLINK ||
        sender.nl_pid != 0) {
        return 0;
    }
    if ((message.msg_flags & MSG_TRUNC) != 0) {
        m_signs.forget();
        m_pending = true;  // what was cut may have been a return
    }
    return static_cast<long>(got);
}

void NetworkWatch::learn(std::uint16_t type, std::uint32_t sequence) {
    struct {
        nlmsghdr header;
        rtgenmsg body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.body.rtgen_family = AF_UNSPEC;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own type
    const auto* to = reinterpret_cast<const sockaddr*>(&kernel);
    if (::sendto(m_socket, &request, sizeof request, 0, to, sizeof kernel) < 0) {
        return;  // then every link and address counts when first told of
    }
    const auto deadline = std::chrono::steady_clock::now() + LEARN_LIMIT;
    for (;;) {
        const long got = receive();
        if (got < 0 && errno == ENOBUFS) {
            // The dump's answer may be what was lost: what it did tell stays, the rest
            // counts when first told of.
            m_signs.forget();
            m_pending = true;
            return;
        }
        if (got > 0) {
            const NetworkSigns::Taken taken = m_signs.take(
                std::span(m_buffer).first(static_cast<std::size_t>(got)), m_port, sequence);
            m_pending = m_pending || taken.returned;
            if (taken.dumpEnded) {
                return;
            }
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return;
        }
        pollfd ready{m_socket, POLLIN, 0};
        ::poll(&ready, 1, static_cast<int>(left.count()));
    }
}

bool NetworkWatch::drain() {
    bool returned = std::exchange(m_pending, false);
    for (int i = 0; i < DRAIN_LIMIT; ++i) {
        const long got = receive();
        if (got < 0 && errno == ENOBUFS) {
            m_signs.forget();
            returned = true;
            continue;
        }
        if (got < 0) {
            break;
        }
        if (got > 0) {
            returned =
                m_signs.take(std::span(m_buffer).first(static_cast<std::size_t>(got))).returned ||
                returned;
        }
        returned = std::exchange(m_pending, false) || returned;  // a datagram cut short
    }
    return returned;
}

bool NetworkWatch::next(std::chrono::milliseconds timeout) {
    timeout = std::clamp(timeout, std::chrono::milliseconds(0), WAIT_LIMIT);
    if (m_cancelled.load()) {
        return false;
    }
    if (m_socket < 0) {
        std::unique_lock lock(m_mutex);
        m_woken.wait_for(lock, timeout, [this] { return m_cancelled.load(); });
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (drain()) {
            return true;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd ready[2] = {{m_socket, POLLIN, 0}, {m_cancel, POLLIN, 0}};
        const int n =
            ::poll(ready, 2, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (n < 0 && errno != EINTR) {
            return false;
        }
        if (ready[1].revents != 0 || m_cancelled.load()) {
            return false;
        }
        if ((ready[0].revents & (POLLHUP | POLLNVAL)) != 0) {
            // A socket that can tell nothing more: the rest of the wait, on cancel() alone.
            pollfd cancelled{m_cancel, POLLIN, 0};
            ::poll(&cancelled, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
            return false;
        }
    }
}

void NetworkWatch::cancel() {
    m_cancelled.store(true);
    if (m_cancel >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_cancel, &one, sizeof one);
    }
    { std::lock_guard lock(m_mutex); }
    m_woken.notify_all();
}

}  // namespace ctl::mqtt
