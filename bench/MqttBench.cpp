// ostrelctl mqtt's cost on a vehicle: the bytes each reading takes on the wire (counted by a
// proxy between the publisher and Debian's mosquitto, plain and TLS) and per day at the
// default interval; and the processor time of the publisher over 60 s with 1 and with 16
// simulated controllers, beside `status --watch 1` asking the same controllers as often.
#include <poll.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/tests/MqttRig.h"

namespace {

using namespace std::chrono_literals;

// Forwards one connection at a time to the broker and counts the bytes each way.
class CountingProxy {
public:
    explicit CountingProxy(int upstreamPort) : m_upstream(upstreamPort) {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_port = rig::freePort();
        address.sin_port = htons(static_cast<std::uint16_t>(m_port));
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 4) != 0) {
            std::perror("the proxy cannot listen");
        }
        m_thread = std::thread([this] { run(); });
    }
    ~CountingProxy() {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    CountingProxy(const CountingProxy&) = delete;
    CountingProxy& operator=(const CountingProxy&) = delete;

    int port() const { return m_port; }
    std::uint64_t up() const { return m_up; }
    std::uint64_t down() const { return m_down; }

private:
    void run() {
        while (!m_stop) {
            pollfd listening{m_listener, POLLIN, 0};
            if (::poll(&listening, 1, 100) <= 0) {
                continue;
            }
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0) {
                continue;
            }
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(static_cast<std::uint16_t>(m_upstream));
            if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                pump(client, server);
            }
            ::close(server);
            ::close(client);
        }
    }
    void pump(int client, int server) {
        char buffer[65536];
        while (!m_stop) {
            pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(fds, 2, 100) <= 0) {
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                    continue;
                }
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0 || ::write(fds[1 - i].fd, buffer, static_cast<std::size_t>(n)) != n) {
                    return;
                }
                (i == 0 ? m_up : m_down) += static_cast<std::uint64_t>(n);
            }
        }
    }

    int m_upstream;
    int m_port = 0;
    int m_listener = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_up{0};
    std::atomic<std::uint64_t> m_down{0};
    std::thread m_thread;
};

std::size_t lines(const std::string& path, const std::string& start, std::size_t* bytes = nullptr) {
    std::istringstream text(rig::readFile(path));
    std::string line;
    std::size_t count = 0;
    while (std::getline(text, line)) {
        if (line.starts_with(start)) {
            ++count;
            if (bytes != nullptr) {
                *bytes += line.size() - line.find(' ') - 1;
            }
        }
    }
    return count;
}

std::string configFile(const rig::TempFolder& folder, const std::string& name,
                       const std::string& broker, const std::string& extra) {
    std::string path = folder / name;
    rig::writeFile(path, "broker = " + broker + "\nclient_id = car7\nusername = " + rig::USER +
                             "\npassword_file = " + (folder / "password") + "\n" + extra);
    return path;
}

// Bytes each way per reading once the publisher runs steadily, through the proxy.
bool wireBytes(const rig::TempFolder& folder, const rig::Broker& broker, bool tls) {
    CountingProxy proxy(tls ? broker.tlsPort() : broker.port());
    const std::string url =
        std::string(tls ? "mqtts" : "mqtt") + "://127.0.0.1:" + std::to_string(proxy.port());
    const std::string log = folder / (tls ? "tls.log" : "plain.log");
    const std::string conf = configFile(folder, tls ? "tls.conf" : "plain.conf", url,
                                        "interval = 0.25\nreport = interval\nhomeassistant = no\n" +
                                            (tls ? "ca_file = " + (folder / "ca.crt") + "\n" : ""));
    rig::Process publisher({MQTT_PUBLISHER, "1", conf, "--log", log, "--state", folder / "state"},
                           folder / "bench.out", folder / "bench.err");
    const std::string topic = "ostrel/car7/sim-1/state ";
    if (!waitFor([&] { return lines(log, topic) >= 8; }, 20s)) {
        std::cout << "the publisher did not start:\n" << rig::readFile(folder / "bench.err");
        return false;
    }
    constexpr std::size_t READINGS = 80;
    // Each reading has been acknowledged once the next one is taken.
    const std::size_t first = lines(log, topic);
    const std::uint64_t up = proxy.up();
    const std::uint64_t down = proxy.down();
    waitFor([&] { return lines(log, topic) >= first + READINGS; }, 60s);
    const double upEach = static_cast<double>(proxy.up() - up) / READINGS;
    const double downEach = static_cast<double>(proxy.down() - down) / READINGS;
    std::size_t payload = 0;
    const std::size_t count = lines(log, topic, &payload);
    publisher.signal(SIGINT);
    publisher.wait(20s);
    // Each reading is a PUBLISH up and a PUBACK down: two TCP segments, with IPv4 and TCP
    // headers (timestamps on) of 52 bytes each.
    constexpr double TCP_IP = 2 * 52;
    const double each = upEach + downEach;
    std::printf(
        "%-5s payload %5.0f B, MQTT+%s up %5.0f B, down %4.0f B: %5.0f B a reading, "
        "%4.0f B with TCP/IPv4 headers; at 10 s: %.2f MB a day (%.2f MB with headers)\n",
        tls ? "TLS" : "plain", static_cast<double>(payload) / static_cast<double>(count),
        tls ? "TLS" : "TCP", upEach, downEach, each, each + TCP_IP, each * 8640 / 1e6,
        (each + TCP_IP) * 8640 / 1e6);
    // A parked vehicle at the defaults, from the reading measured here: a heartbeat every
    // 1800 s, and in the silence between a keep-alive ping every 240 s (PINGREQ and PINGRESP,
    // 2 bytes each, a TLS record's 22 more each with TLS, and three segments of headers).
    constexpr double HEARTBEATS = 86400.0 / 1800;
    constexpr double PINGS = 86400.0 / 240 - HEARTBEATS;
    const double ping = 4 + (tls ? 44 : 0) + 3 * 52;
    std::printf(
        "%-5s parked at the defaults: %.0f heartbeats and %.0f pings, %.0f KB a day, "
        "%.1f MB a month\n",
        tls ? "TLS" : "plain", HEARTBEATS, PINGS,
        (HEARTBEATS * (each + TCP_IP + 52) + PINGS * ping) / 1e3,
        (HEARTBEATS * (each + TCP_IP + 52) + PINGS * ping) * 30 / 1e6);
    return true;
}

// Processor seconds of the publisher and of status --watch polling the same controllers,
// side by side for `seconds`.
void cpu(const rig::TempFolder& folder, const rig::Broker& broker, int controllers, int seconds) {
    const std::string conf =
        configFile(folder, "cpu" + std::to_string(controllers) + ".conf", broker.url(), "");
    rig::Process publisher({MQTT_PUBLISHER, std::to_string(controllers), conf, "--state",
                            folder / ("cpu-state" + std::to_string(controllers))},
                           "/dev/null", folder / "cpu.err");
    std::vector<std::unique_ptr<rig::Process>> watchers;
    for (int i = 1; i <= controllers; ++i) {
        watchers.push_back(std::make_unique<rig::Process>(
            std::vector<std::string>{OSTRELCTL, "--simulated=" + std::to_string(controllers),
                                     "--device", "sim-" + std::to_string(i), "status", "--watch",
                                     "1"},
            "/dev/null", folder / "watch.err"));
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    publisher.signal(SIGINT);
    for (auto& watcher : watchers) {
        watcher->signal(SIGINT);
    }
    publisher.wait(30s);
    double watching = 0;
    for (auto& watcher : watchers) {
        watcher->wait(30s);
        watching += watcher->cpuSeconds();
    }
    std::printf(
        "%2d controller(s), %d s: mqtt %.2f s of CPU (%.2f%%), status --watch 1 x %d "
        "%.2f s (%.2f%%)\n",
        controllers, seconds, publisher.cpuSeconds(), 100 * publisher.cpuSeconds() / seconds,
        controllers, watching, 100 * watching / seconds);
}

// The discovery of one controller, sent once and whenever Home Assistant starts.
void discoveryBytes() {
    for (const char* form : {"device", "entity"}) {
        const ctl::mqtt::ConfigResult config = ctl::mqtt::parseMqttConfig(
            std::string(
                "broker = mqtt://broker.example\nclient_id = car7\nhomeassistant_discovery = ") +
                form + "\n",
            "bench", {});
        const ctl::mqtt::Topics topics(*config.config);
        StatusReport status;
        status.version = 0x21;
        std::size_t bytes = 0;
        const auto messages =
            ctl::mqtt::discoveryMessages(*config.config, topics, "1-1.4.2", status);
        for (const ctl::mqtt::Message& message : messages) {
            bytes += message.topic.size() + message.payload.size();
        }
        std::printf("discovery, %s form: %zu message(s), %zu B of topics and payloads\n", form,
                    messages.size(), bytes);
    }
}

}  // namespace

int main() {
    discoveryBytes();
    for (const char* program : {rig::MOSQUITTO, "/usr/bin/mosquitto_sub", "/usr/bin/openssl"}) {
        if (!std::filesystem::exists(program)) {
            std::cout << "(skipped: " << program << " is missing; make deps installs it)\n";
            return 0;
        }
    }
    rig::TempFolder folder;
    rig::Broker broker(folder);
    if (!broker.ready() || !broker.start()) {
        std::cout << "(skipped: the broker did not start)\n";
        return 1;
    }
    std::cout << "bytes on the wire per reading of one controller (Home Assistant off):\n";
    if (!wireBytes(folder, broker, false) || !wireBytes(folder, broker, true)) {
        return 1;
    }
    std::cout << "processor time, publisher at the default interval (10 s, asked every 1 s):\n";
    cpu(folder, broker, 1, 60);
    cpu(folder, broker, 16, 60);
    return 0;
}
