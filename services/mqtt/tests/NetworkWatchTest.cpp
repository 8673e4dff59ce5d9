// The network's return as the kernel tells it: the signs read from crafted datagrams, and the
// watch on a network namespace of its own, changed with iproute2's ip as a user would.
#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sched.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "services/mqtt/NetworkWatch.h"

// NOLINTNEXTLINE(readability-redundant-declaration): POSIX leaves it to the program.
extern char** environ;

namespace {

using ctl::mqtt::NetworkSigns;
using ctl::mqtt::NetworkWatch;
using Bytes = std::vector<std::uint8_t>;

void append(Bytes& bytes, const void* data, std::size_t size) {
    const auto* from = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), from, from + size);
    bytes.resize((bytes.size() + 3) / 4 * 4);
}

Bytes attribute(std::uint16_t type, const void* data, std::size_t size) {
    const rtattr header{static_cast<unsigned short>(sizeof(rtattr) + size), type};
    Bytes bytes;
    append(bytes, &header, sizeof header);
    append(bytes, data, size);
    return bytes;
}

template <typename Fixed>
Bytes message(std::uint16_t type, const Fixed& fixed, const Bytes& attributes = {},
              std::uint32_t sequence = 0, std::uint32_t port = 0) {
    Bytes body;
    append(body, &fixed, sizeof fixed);
    body.insert(body.end(), attributes.begin(), attributes.end());
    nlmsghdr header{};
    header.nlmsg_len = static_cast<std::uint32_t>(sizeof header + body.size());
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    header.nlmsg_pid = port;
    Bytes bytes;
    append(bytes, &header, sizeof header);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

Bytes link(std::uint16_t type, int index, unsigned flags) {
    ifinfomsg info{};
    info.ifi_family = AF_UNSPEC;
    info.ifi_index = index;
    info.ifi_flags = flags;
    return message(type, info);
}

Bytes ipv4(std::uint16_t type, std::uint8_t last, std::uint32_t sequence = 0,
           std::uint32_t port = 0) {
    ifaddrmsg info{AF_INET, 24, 0, RT_SCOPE_UNIVERSE, 2};
    const std::uint8_t address[4] = {192, 0, 2, last};
    Bytes attributes = attribute(IFA_LOCAL, address, sizeof address);
    const Bytes same = attribute(IFA_ADDRESS, address, sizeof address);
    attributes.insert(attributes.end(), same.begin(), same.end());
    return message(type, info, attributes, sequence, port);
}

Bytes ipv6(std::uint32_t flags) {
    ifaddrmsg info{AF_INET6, 64, 0, RT_SCOPE_UNIVERSE, 2};
    const std::uint8_t address[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    Bytes attributes = attribute(IFA_ADDRESS, address, sizeof address);
    const Bytes flagged = attribute(IFA_FLAGS, &flags, sizeof flags);
    attributes.insert(attributes.end(), flagged.begin(), flagged.end());
    return message(RTM_NEWADDR, info, attributes);
}

Bytes route(std::uint16_t type, std::uint8_t prefix, std::uint8_t kind, std::uint8_t table,
            const Bytes& attributes = {}) {
    rtmsg info{};
    info.rtm_family = AF_INET;
    info.rtm_dst_len = prefix;
    info.rtm_table = table;
    info.rtm_type = kind;
    return message(type, info, attributes);
}

Bytes inTable(std::uint32_t table) {
    return attribute(RTA_TABLE, &table, sizeof table);
}

Bytes joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes withLength(Bytes bytes, std::uint32_t length) {
    std::memcpy(bytes.data(), &length, sizeof length);  // nlmsg_len comes first
    return bytes;
}

Bytes cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

TEST(NetworkSigns, ReadsReturnsFromTheKernelsMessagesAndSurvivesAnyBytes) {
    constexpr unsigned UP = IFF_UP;
    constexpr unsigned CARRIER = IFF_UP | IFF_LOWER_UP;
    constexpr std::uint32_t DUMP = 5;
    constexpr std::uint32_t PORT = 4242;
    struct Case {
        const char* what;
        Bytes datagram;
        bool returned;
        std::uint32_t dump = 0;  // the sequence of the dump asked for from PORT
    };
    const std::uint8_t threeBytes[3] = {192, 0, 2};
    const std::uint32_t mainTable = RT_TABLE_MAIN;
    ifaddrmsg shortInfo{AF_INET, 24, 0, 0, 2};
    const Case cases[] = {
        {"three bytes", Bytes{1, 2, 3}, false},
        {"a length past the datagram", withLength(ipv4(RTM_NEWADDR, 1), 4000), false},
        {"a length shorter than a header", withLength(ipv4(RTM_NEWADDR, 1), 8), false},
        {"an address message cut in its fixed part", withLength(cut(ipv4(RTM_NEWADDR, 1), 20), 20),
         false},
        {"an attribute of length 0",
         message(RTM_NEWADDR, shortInfo, Bytes{0, 0, IFA_LOCAL, 0, 192, 0, 2, 1}), false},
        {"an attribute running past its message",
         message(RTM_NEWADDR, shortInfo, Bytes{40, 0, IFA_LOCAL, 0, 192, 0, 2, 1}), false},
        {"an IPv4 address of three bytes",
         message(RTM_NEWADDR, shortInfo, attribute(IFA_LOCAL, threeBytes, 3)), false},
        {"a link up with its carrier", link(RTM_NEWLINK, 2, CARRIER), true},
        {"the same link told again", link(RTM_NEWLINK, 2, CARRIER | IFF_RUNNING), false},
        {"that link down", link(RTM_NEWLINK, 2, UP), false},
        {"and running again", link(RTM_NEWLINK, 2, UP | IFF_RUNNING), true},
        {"a link up without a carrier", link(RTM_NEWLINK, 3, UP), false},
        {"a link running but not up", link(RTM_NEWLINK, 4, IFF_LOWER_UP), false},
        {"a new address", ipv4(RTM_NEWADDR, 1), true},
        {"the same address renewed", ipv4(RTM_NEWADDR, 1), false},
        {"that address removed", ipv4(RTM_DELADDR, 1), false},
        {"and added again", ipv4(RTM_NEWADDR, 1), true},
        {"a tentative IPv6 address", ipv6(IFA_F_TENTATIVE), false},
        {"that address once detected unique", ipv6(0), true},
        {"a duplicate detection failed", ipv6(IFA_F_DADFAILED), false},
        {"a default route", route(RTM_NEWROUTE, 0, RTN_UNICAST, RT_TABLE_MAIN), true},
        {"an unreachable default route", route(RTM_NEWROUTE, 0, RTN_UNREACHABLE, RT_TABLE_MAIN),
         false},
        {"a default route in table 100", route(RTM_NEWROUTE, 0, RTN_UNICAST, 0, inTable(100)),
         false},
        {"a default route in the main table by its attribute",
         route(RTM_NEWROUTE, 0, RTN_UNICAST, RT_TABLE_UNSPEC, inTable(mainTable)), true},
        {"a route to a network", route(RTM_NEWROUTE, 24, RTN_UNICAST, RT_TABLE_MAIN), false},
        {"a default route removed", route(RTM_DELROUTE, 0, RTN_UNICAST, RT_TABLE_MAIN), false},
        {"two messages, the second a return",
         joined(link(RTM_NEWLINK, 2, CARRIER), ipv4(RTM_NEWADDR, 9)), true},
        {"an address the dump tells of", ipv4(RTM_NEWADDR, 20, DUMP, PORT), false, DUMP},
        {"then told again outside it", ipv4(RTM_NEWADDR, 20), false},
        {"an address of another dump's sequence", ipv4(RTM_NEWADDR, 21, DUMP + 1, PORT), true,
         DUMP},
        {"a link deleted", link(RTM_DELLINK, 2, 0), false},
        {"a new link with that index, up", link(RTM_NEWLINK, 2, CARRIER), true},
        {"an address the link had, after the link went", ipv4(RTM_NEWADDR, 9), true},
    };
    NetworkSigns signs;
    for (const Case& c : cases) {
        EXPECT_EQ(signs.take(c.datagram, PORT, c.dump).returned, c.returned) << c.what;
    }
    nlmsghdr done{};
    done.nlmsg_len = sizeof done;
    done.nlmsg_type = NLMSG_DONE;
    done.nlmsg_seq = DUMP;
    done.nlmsg_pid = PORT;
    Bytes end;
    append(end, &done, sizeof done);
    EXPECT_TRUE(signs.take(end, PORT, DUMP).dumpEnded);
    EXPECT_FALSE(signs.take(end, PORT, DUMP + 1).dumpEnded);

    // Every datagram above cut anywhere, on signs that know nothing: read within its bytes
    // (the sanitizers' builds tell otherwise).
    for (const Case& c : cases) {
        NetworkSigns fresh;
        for (std::size_t cut = 0; cut <= c.datagram.size(); ++cut) {
            fresh.take(std::span(c.datagram).first(cut));
        }
    }
}

// Runs `ip` with `arguments` in the calling thread's network namespace; its exit status.
int ip(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"ip"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, "ip", nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string joinedWords(const std::vector<std::string>& words) {
    std::string text = "ip";
    for (const std::string& word : words) {
        text += " " + word;
    }
    return text;
}

// From a socket of a program's, not the kernel's: a new address, to the address group.
void forgeNewAddress() {
    const int forger = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    ASSERT_GE(forger, 0) << std::strerror(errno);
    sockaddr_nl to{};
    to.nl_family = AF_NETLINK;
    to.nl_pid = 0x7FFFFFF0;  // nobody's port: the kernel never sees it, the group does
    to.nl_groups = RTMGRP_IPV4_IFADDR;
    const Bytes forged = ipv4(RTM_NEWADDR, 77);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API's own type
    ::sendto(forger, forged.data(), forged.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(forger);
}

constexpr std::chrono::seconds GENEROUS{20};

// The steps of the namespace test, on its own thread; `skipped` says why it could not run.
void watchAFreshNamespace(std::string& skipped) {
    if (::unshare(CLONE_NEWNET) != 0) {
        skipped = std::string("no network namespace of the test's own (unshare(CLONE_NEWNET): ") +
                  std::strerror(errno) + "; it needs CAP_SYS_ADMIN)";
        return;
    }
    NetworkWatch watch;
    ASSERT_EQ(watch.error(), "");
    // What the namespace held at the start (lo, down) is no return.
    EXPECT_FALSE(watch.next(std::chrono::milliseconds(0)));

    // A software link whose carrier is always on: dummy, or ifb where the kernel lacks it.
    const bool dummy = ip({"link", "add", "d0", "type", "dummy"}) == 0;
    ASSERT_TRUE(dummy || ip({"link", "add", "d0", "type", "ifb"}) == 0)
        << "ip link add d0 type dummy (or ifb) failed";
    // No IPv6 link-local address, whose duplicate detection would end in a return later on.
    ASSERT_EQ(ip({"link", "set", "d0", "addrgenmode", "none"}), 0);
    EXPECT_FALSE(watch.next(std::chrono::milliseconds(0))) << "a new link, down";

    struct Step {
        std::vector<std::string> command;
        bool returns;
    };
    const Step steps[] = {
        {{"link", "set", "lo", "up"}, true},
        {{"addr", "add", "198.51.100.7/32", "dev", "lo"}, true},
        {{"addr", "replace", "198.51.100.7/32", "dev", "lo", "valid_lft", "300", "preferred_lft",
          "300"},
         false},
        {{"addr", "del", "198.51.100.7/32", "dev", "lo"}, false},
        {{"link", "set", "d0", "up"}, true},
        {{"addr", "add", "10.7.0.1/24", "dev", "d0"}, true},
        {{"route", "add", "203.0.113.0/24", "dev", "d0"}, false},
        {{"route", "add", "default", "dev", "d0", "table", "100"}, false},
        {{"route", "add", "unreachable", "default", "metric", "500"}, false},
        {{"route", "add", "default", "dev", "d0"}, true},
        {{"-6", "route", "add", "default", "dev", "d0"}, true},
        {{"addr", "del", "10.7.0.1/24", "dev", "d0"}, false},
        {{"link", "set", "d0", "down"}, false},
        {{"link", "set", "d0", "up"}, true},
    };
    for (const Step& step : steps) {
        const std::string said = joinedWords(step.command);
        ASSERT_EQ(ip(step.command), 0) << said << " failed";
        // What ip changed the kernel has told before ip ends: a change that is no return is
        // already there to be read, and must not count.
        EXPECT_EQ(watch.next(step.returns ? std::chrono::milliseconds(GENEROUS)
                                          : std::chrono::milliseconds(0)),
                  step.returns)
            << said;
    }

    forgeNewAddress();
    EXPECT_FALSE(watch.next(std::chrono::milliseconds(0))) << "a program's message taken";

    // Far more changes than the receive buffer holds, none of them a return: the overrun is.
    const std::string batch = testing::TempDir() + "network-watch-batch";
    {
        std::ofstream lines(batch);
        for (int i = 0; i < 20000; ++i) {
            lines << "route add 203.0.113.0/24 dev d0\nroute del 203.0.113.0/24 dev d0\n";
        }
    }
    ASSERT_EQ(ip({"-batch", batch}), 0);
    std::remove(batch.c_str());
    EXPECT_TRUE(watch.next(std::chrono::milliseconds(0))) << "the overrun";
}

TEST(NetworkWatch, SeesTheNetworkComeBackInANamespaceOfItsOwn) {
    std::string skipped;
    // unshare() moves the calling thread alone, and what it starts, into the namespace.
    std::thread([&skipped] { watchAFreshNamespace(skipped); }).join();
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
}

TEST(NetworkWatch, CancelEndsAWaitOnceAndForAll) {
    NetworkWatch watch;
    ASSERT_EQ(watch.error(), "");
    bool ended = false;
    std::thread waiting([&] {
        // The machine's own network may change meanwhile: only cancel() ends the loop.
        while (watch.next(std::chrono::hours(1))) {
        }
        ended = true;
    });
    watch.cancel();
    waiting.join();  // an hour if cancel() did not end it
    EXPECT_TRUE(ended);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(watch.next(std::chrono::hours(1)));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::minutes(30));
}

}  // namespace
