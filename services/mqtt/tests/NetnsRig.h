// The network taken from the publisher and given back, in a network namespace of the test's
// own: a thread unshares it (root, or CAP_SYS_ADMIN) and what that thread starts lives in it,
// until the last of them ends. A veth pair stands in for the modem (its carrier is on once
// both ends are up; the kernel here has no dummy link). For the tests and the benchmark.
#pragma once

#include <sched.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "services/mqtt/tests/MqttRig.h"

namespace rig {

// iproute2's ip in the calling thread's namespace: whether it succeeded.
inline bool ip(const std::string& arguments) {
    return run("ip " + arguments);
}

// The calling thread in a network namespace of its own, lo and the pair v0-v1 up, neither
// with an IPv6 link-local address (whose duplicate detection, done late, is a return).
class Namespace {
public:
    Namespace() {
        if (::unshare(CLONE_NEWNET) != 0) {
            m_error =
                std::string("no network namespace of the test's own (unshare(CLONE_NEWNET): ") +
                std::strerror(errno) + "; it needs CAP_SYS_ADMIN)";
            return;
        }
        if (!ip("link set lo up")) {
            m_error = "ip link set lo up failed in the namespace";
        } else if (!ip("link add v0 type veth peer name v1")) {
            m_error = "no veth link in the namespace (ip link add v0 type veth peer name v1)";
        } else if (!ip("link set v0 addrgenmode none") || !ip("link set v1 addrgenmode none") ||
                   !ip("link set v0 up") || !ip("link set v1 up")) {
            m_error = "ip link set v0/v1 up failed in the namespace";
        }
    }
    // Why the namespace could not be had: a reason to skip.
    const std::string& error() const { return m_error; }

private:
    std::string m_error;
};

// `body` on a thread of its own in a fresh Namespace: the namespace ends with the thread and
// what it started. Empty, or why the namespace could not be had.
template <typename Body>
std::string inNamespace(Body body) {
    std::string skipped;
    std::thread([&] {
        const Namespace space;
        skipped = space.error();
        if (skipped.empty()) {
            body();
        }
    }).join();
    return skipped;
}

struct NetworkReturn {
    std::string skipped;                  // why it cannot run here
    std::string failed;                   // what did not happen, with what the programs said
    std::chrono::milliseconds backoff{};  // the wait the publisher had set at the loss's end
    double seconds = 0;         // from the address's return to the first reading at the broker
    double backoffSeconds = 0;  // from the address's return to the attempt the backoff set
    bool toldFirst = false;     // the publisher said the network was back before that reading
};

// `publisher` (mqtt_publisher_under_test) on one simulated controller against mosquitto on
// 10.9.0.1, an address of v1: delivering, then the address taken away until the backoff's next
// attempt is at least `far` away, then given back.
inline NetworkReturn measureNetworkReturn(
    const std::string& publisher, std::chrono::milliseconds far = std::chrono::seconds(16),
    std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    using Clock = std::chrono::steady_clock;
    NetworkReturn result;
    for (const char* program : {MOSQUITTO, "/usr/bin/openssl", "/usr/bin/mosquitto_passwd",
                                "/usr/sbin/ip", "/usr/bin/ss"}) {
        if (::access(program, X_OK) != 0) {
            result.skipped = std::string(program) + " is missing (make deps installs it)";
            return result;
        }
    }
    constexpr const char* HOST = "10.9.0.1";
    const std::string address = std::string(HOST) + "/24 dev v1";
    result.skipped = inNamespace([&] {
        if (!ip("addr add " + address)) {
            result.failed = "ip addr add " + address + " failed";
            return;
        }
        const TempFolder folder;
        // Where the broker and the publisher run they reach 10.9.0.1, which only the
        // namespace has: both were started in it.
        Broker broker(folder, HOST);
        if (!broker.ready() || !broker.start()) {
            result.failed = "the broker did not start on " + broker.url() + ": " + broker.log();
            return;
        }
        const std::string conf = folder / "mqtt.conf";
        writeFile(conf, "broker = " + broker.url() + "\nclient_id = car7\nusername = " + USER +
                            "\npassword_file = " + (folder / "password") +
                            "\ninterval = 0.2\nreport = interval\nhomeassistant = no\n");
        const std::string log = folder / "published.log";
        Process process({publisher, "1", conf, "--state", folder / "state", "--log", log},
                        folder / "publisher.out", folder / "publisher.err");
        const auto said = [&] { return readFile(folder / "publisher.err"); };
        // The readings the broker has received, from its log.
        const auto readings = [&] {
            const std::string text = broker.log();
            std::size_t count = 0;
            for (auto at = text.find("Received PUBLISH from car7 "); at != std::string::npos;
                 at = text.find("Received PUBLISH from car7 ", at + 1)) {
                const std::string line = text.substr(at, text.find('\n', at) - at);
                count += line.find("/sim-1/state'") != std::string::npos ||
                         line.find("/sim-1/history'") != std::string::npos;
            }
            return count;
        };
        if (!waitFor([&] { return readings() >= 3; }, limit)) {
            result.failed = "no readings at the broker: " + said();
            return;
        }

        // The address goes, and with it the connections: a modem's loss is noticed by the
        // keep-alive, here ss kills them at once (or, where it cannot, 30 s without an
        // acknowledgement take the link for dead).
        if (!ip("addr del " + address)) {
            result.failed = "ip addr del " + address + " failed";
            return;
        }
        run("ss -K dst " + std::string(HOST));  // where the kernel cannot, the 30 s do it
        if (!waitFor(
                [&] {
                    const std::string text = said();
                    return text.find("lost the connection") != std::string::npos ||
                           text.find("no acknowledgement") != std::string::npos;
                },
                limit)) {
            result.failed = "the publisher did not lose its connection: " + said();
            return;
        }
        const std::size_t before = readings();
        // Until the next attempt the backoff sets is at least `far` away.
        Clock::time_point setAt{};
        if (!waitFor(
                [&] {
                    const std::string text = readFile(log);
                    for (auto at = text.find("next-attempt-ms "); at != std::string::npos;
                         at = text.find("next-attempt-ms ", at + 1)) {
                        const std::chrono::milliseconds wait{std::atoll(text.c_str() + at + 16)};
                        if (wait >= far) {
                            result.backoff = wait;
                            setAt = Clock::now();
                            return true;
                        }
                    }
                    return false;
                },
                limit)) {
            result.failed = "the backoff never reached " + std::to_string(far.count()) +
                            " ms: " + said() + readFile(log);
            return;
        }

        const auto back = Clock::now();
        if (!ip("addr add " + address)) {
            result.failed = "ip addr add " + address + " failed";
            return;
        }
        if (!waitFor([&] { return readings() > before; }, limit)) {
            result.failed = "no reading at the broker after the network's return: " + said();
            return;
        }
        const auto delivered = Clock::now();
        result.toldFirst = said().find("the network is back") != std::string::npos;
        const auto seconds = [back](Clock::time_point at) {
            return std::chrono::duration<double>(at - back).count();
        };
        result.seconds = seconds(delivered);
        result.backoffSeconds = seconds(setAt + result.backoff);
        process.signal(SIGINT);
        if (process.wait(limit) != 0) {
            result.failed = "the publisher did not end cleanly on SIGINT: " + said();
        }
    });
    return result;
}

}  // namespace rig
