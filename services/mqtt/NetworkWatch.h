// Tells when the network may have come back, from the kernel's own word (rtnetlink), so that
// a publisher that lost its broker tries again at once rather than at the end of a back-off
// of up to a minute: a vehicle passes in and out of coverage, and its modem's link, address
// and route come and go with it. Linux only.
//
// A return is one of:
// - a link that became usable: up, with IFF_RUNNING or IFF_LOWER_UP newly set;
// - a new usable address (not one the kernel told of already and only refreshed, not an
//   IPv6 address still tentative or whose duplicate detection failed). Loopback and
//   host-scope addresses count too: the broker may be on this machine (a local broker that
//   bridges onwards), and they change only as the system starts, so they cost no retry later;
// - a new unicast default route (no destination bits) in the main table, IPv4 or IPv6.
// A link going down, an address or a route removed, and anything else are no return. Nothing
// is lost to a full receive buffer unseen: the overrun itself counts as a return.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <compare>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace ctl::mqtt {

// What the kernel's route messages say, free of sockets: the links' flags and the usable
// addresses told of so far, and whether a datagram tells of a return.
class NetworkSigns {
public:
    struct Taken {
        bool returned = false;   // it told of a return
        bool dumpEnded = false;  // it ended the dump asked for (its done or error message)
    };
    // One datagram from the kernel. Messages of the dump `dumpSequence` (asked for from this
    // watch's port `port`; 0: none) only tell what is there already; every other one may be
    // a return. Any bytes are safe here: what does not parse is passed over.
    Taken take(std::span<const std::uint8_t> datagram, std::uint32_t port = 0,
               std::uint32_t dumpSequence = 0);
    // After an overrun: what was known may be stale, so every link and address counts anew.
    void forget();

    // The most addresses remembered; beyond, a refreshed address counts as new again.
    static constexpr std::size_t ADDRESSES_KEPT = 4096;
    static constexpr std::size_t LINKS_KEPT = 4096;

private:
    struct Address {
        std::uint8_t family = 0;
        std::uint8_t prefix = 0;
        std::int32_t link = 0;
        std::array<std::uint8_t, 16> bytes{};
        auto operator<=>(const Address&) const = default;
    };

    bool link(std::span<const std::uint8_t> message, std::uint16_t type, bool told);
    bool address(std::span<const std::uint8_t> message, std::uint16_t type, bool told);
    static bool defaultRoute(std::span<const std::uint8_t> message);

    std::map<std::int32_t, bool> m_usable;  // by interface index
    std::set<Address> m_addresses;
};

class NetworkWatch {
public:
    // Opens the socket and learns the links and addresses there now. Never throws; error()
    // says why it could not open.
    NetworkWatch();
    ~NetworkWatch();
    NetworkWatch(const NetworkWatch&) = delete;
    NetworkWatch& operator=(const NetworkWatch&) = delete;

    // Empty when the watch works. Set by the constructor only.
    const std::string& error() const { return m_error; }

    // Waits up to `timeout` (or until cancel()); true when the network may have come back
    // since the last call, false once the time is up, after cancel(), or on a watch that
    // could not open (which waits all the same). One thread calls it at a time.
    bool next(std::chrono::milliseconds timeout);
    // Ends a next() in progress on another thread, and every later one at once: once and
    // for all. Any thread; the watch must outlive the call.
    void cancel();

private:
    // Reads what is there without waiting; true when it holds a return.
    bool drain();
    // Asks for the links or the addresses there now and takes the answer in.
    void learn(std::uint16_t type, std::uint32_t sequence);
    // One datagram into m_buffer from the kernel: its size, 0 for one to pass over, -1 with
    // errno when there is none or the socket failed.
    long receive();

    std::string m_error;
    int m_socket = -1;
    int m_cancel = -1;  // an eventfd, readable once cancelled
    std::uint32_t m_port = 0;
    NetworkSigns m_signs;
    std::vector<std::uint8_t> m_buffer;
    bool m_pending = false;  // a return seen while learning, for the first next()
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;  // for a watch without a socket, which waits on m_woken
    std::condition_variable m_woken;
};

}  // namespace ctl::mqtt
