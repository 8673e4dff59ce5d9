// ostrelctl mqtt's cost on a vehicle's link. Each run has a network namespace of its own,
// whose loopback carries only the packets of the publisher and of Debian's mosquitto: the
// kernel's counters are the bytes on the wire, IP and TCP headers and TLS records included.
// - what a reading, a keep-alive ping and the start of a connection cost, plain and TLS;
// - a day of a parked and of a driving vehicle at the defaults, beside today's way (every
//   interval, with the texts): the publisher's own report policy replayed over 24 hours of
//   the trace, in simulated time, for how many readings and pings a day holds, priced at the
//   costs captured; and a 10-minute run of the real publisher on the driving trace, captured
//   whole, beside what the same pricing says of it;
// - a 10-minute dead zone (the broker stopped) on the driving trace: the messages and the
//   bytes that deliver it once the broker is back;
// - the processor time of the publisher and of `status --watch` asking as often.
#include <sys/wait.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "core/readings/Reading.h"
#include "core/selection/Selection.h"
#include "core/session/Controller.h"
#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/ReportPolicy.h"
#include "services/mqtt/tests/MqttRig.h"
#include "services/mqtt/tests/NetnsRig.h"
#include "sim/SimulatedOstrel.h"
#include "sim/TraceRunner.h"

namespace {

using namespace std::chrono_literals;
using ctl::mqtt::MqttConfig;

constexpr double DAY = 86400;
constexpr auto DEAD_ZONE = 600s;
constexpr auto CAPTURED_RUN = 600s;

// What the loopback sent: each packet once, without the link layer's header.
struct Wire {
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
};

Wire operator-(Wire after, Wire before) {
    return {after.bytes - before.bytes, after.packets - before.packets};
}

Wire loopback() {
    std::istringstream table(rig::readFile("/proc/self/net/dev"));
    std::string line;
    while (std::getline(table, line)) {
        const auto colon = line.find(':');
        std::istringstream name(line.substr(0, colon == std::string::npos ? 0 : colon));
        std::string interface;
        if (!(name >> interface) || interface != "lo") {
            continue;
        }
        std::istringstream fields(line.substr(colon + 1));
        std::uint64_t value[10] = {};
        for (std::uint64_t& field : value) {
            fields >> field;
        }
        return {value[8], value[9]};
    }
    return {};
}

// The counters once nothing has moved for a second (at most 10 s).
Wire settled() {
    Wire last = loopback();
    for (int quiet = 0, rounds = 0; quiet < 5 && rounds < 50; ++rounds) {
        std::this_thread::sleep_for(200ms);
        const Wire now = loopback();
        quiet = now.bytes == last.bytes ? quiet + 1 : 0;
        last = now;
    }
    return last;
}

// A network namespace of this process's own (called while it has one thread), with its
// loopback and a veth pair up; or why there is none.
std::string privateNetwork() {
    const rig::Namespace space;
    return space.error();
}

// What mosquitto's log says car7 sent, from `offset` on.
struct Seen {
    std::size_t state = 0;
    std::size_t history = 0;
    std::size_t other = 0;  // availability, discovery
    std::size_t pings = 0;
    std::size_t payload = 0;  // bytes of the readings' payloads
    std::size_t publishes() const { return state + history + other; }
};

Seen seen(const rig::Broker& broker, std::size_t offset = 0) {
    const std::string log = broker.log();
    std::istringstream lines(log.substr(std::min(offset, log.size())));
    std::string line;
    Seen result;
    while (std::getline(lines, line)) {
        if (line.find("Received PINGREQ from car7") != std::string::npos) {
            ++result.pings;
        }
        if (line.find("Received PUBLISH from car7 ") == std::string::npos) {
            continue;
        }
        const auto open = line.find('\'');
        const auto close = line.find('\'', open + 1);
        const std::string topic = line.substr(open + 1, close - open - 1);
        const auto size = line.rfind('(');
        const std::size_t bytes = std::strtoull(line.c_str() + size + 1, nullptr, 10);
        if (topic.ends_with("/state") || topic.ends_with("/history")) {
            (topic.ends_with("/state") ? result.state : result.history) += 1;
            result.payload += bytes;
        } else {
            ++result.other;
        }
    }
    return result;
}

// The real program: ostrelctl on a simulated controller that replays `trace`.
class Publisher {
public:
    Publisher(const rig::TempFolder& folder, const rig::Broker& broker, const std::string& name,
              bool tls, const std::string& trace, const std::string& extra) {
        const std::string conf = folder / (name + ".conf");
        rig::writeFile(conf, "broker = " + (tls ? broker.tlsUrl() : broker.url()) +
                                 "\nclient_id = car7\nusername = " + rig::USER +
                                 "\npassword_file = " + (folder / "password") + "\n" +
                                 (tls ? "ca_file = " + (folder / "ca.crt") + "\n" : "") + extra);
        std::filesystem::create_directories(folder / (name + "-state"));
        m_process = std::make_unique<rig::Process>(
            std::vector<std::string>{OSTRELCTL, "--simulated", "--simulated-trace", trace, "mqtt",
                                     "--config", conf},
            folder / (name + ".out"), folder / (name + ".err"),
            std::map<std::string, std::string>{{"STATE_DIRECTORY", folder / (name + "-state")}});
        m_err = folder / (name + ".err");
    }
    ~Publisher() {
        m_process->signal(SIGINT);
        m_process->wait(30s);
    }
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    std::string errors() const { return rig::readFile(m_err); }

private:
    std::unique_ptr<rig::Process> m_process;
    std::string m_err;
};

bool waitSeen(const rig::Broker& broker, std::size_t offset, const std::function<bool(Seen)>& done,
              std::chrono::seconds limit) {
    return waitFor([&] { return done(seen(broker, offset)); }, limit);
}

// What one thing costs on the wire, plain or TLS.
struct Costs {
    double reading = 0;       // a reading at the defaults' payload: PUBLISH, PUBACK, ACK
    double payload = 0;       // its payload alone
    double textsReading = 0;  // a reading as before: every interval, with the texts
    double textsPayload = 0;
    double ping = 0;     // PINGREQ and PINGRESP
    double connect = 0;  // the first connection at the defaults, its first reading aside
    double restart = 0;  // the next start of the same configuration
};

// A steady stream of readings, priced each.
bool readingCost(const rig::TempFolder& folder, const rig::Broker& broker, bool tls, bool texts,
                 double& each, double& payload) {
    const std::string name = std::string(tls ? "tls" : "plain") + (texts ? "-texts" : "");
    const std::size_t offset = broker.log().size();
    Publisher publisher(folder, broker, name, tls, "driving",
                        std::string("interval = 0.25\nreport = interval\ntexts = ") +
                            (texts ? "yes" : "no") + "\n");
    if (!waitSeen(
            broker, offset, [](Seen s) { return s.state >= 8; }, 30s)) {
        std::cout << "the publisher did not start:\n" << publisher.errors();
        return false;
    }
    constexpr std::size_t READINGS = 80;
    const Seen first = seen(broker, offset);
    const Wire before = loopback();
    waitSeen(
        broker, offset, [&](Seen s) { return s.state >= first.state + READINGS; }, 60s);
    const Wire after = loopback();
    const Seen last = seen(broker, offset);
    const auto count = static_cast<double>(last.state - first.state);
    each = static_cast<double>((after - before).bytes) / count;
    payload = static_cast<double>(last.payload - first.payload) / count;
    return true;
}

bool costs(const rig::TempFolder& folder, const rig::Broker& broker, bool tls, Costs& out) {
    if (!readingCost(folder, broker, tls, false, out.reading, out.payload) ||
        !readingCost(folder, broker, tls, true, out.textsReading, out.textsPayload)) {
        return false;
    }
    {
        // Pings every 10 s on a parked vehicle whose heartbeat is a day away; a reading its
        // jitter publishes in the meantime is taken off at its own price.
        const std::size_t offset = broker.log().size();
        Publisher publisher(folder, broker, tls ? "tls-ping" : "plain-ping", tls, "parked",
                            "keep_alive = 10\nheartbeat = 86400\nhomeassistant = no\n");
        if (!waitSeen(
                broker, offset, [](Seen s) { return s.pings >= 1; }, 30s)) {
            std::cout << "no ping came:\n" << publisher.errors();
            return false;
        }
        const Wire before = settled();
        const Seen first = seen(broker, offset);
        waitSeen(
            broker, offset, [&](Seen s) { return s.pings >= first.pings + 3; }, 60s);
        const Wire after = settled();
        const Seen last = seen(broker, offset);
        out.ping = (static_cast<double>((after - before).bytes) -
                    static_cast<double>(last.publishes() - first.publishes()) * out.reading) /
                   static_cast<double>(last.pings - first.pings);
    }
    // A connection at the defaults: CONNECT, the subscription to Home Assistant's status,
    // the availability, the discovery, the first reading; then the next start of the same
    // configuration, as a vehicle's computer starts each day, on the session the broker kept.
    const std::string name = tls ? "tls-start" : "plain-start";
    for (double* cost : {&out.connect, &out.restart}) {
        const std::size_t offset = broker.log().size();
        const Wire before = loopback();
        Publisher publisher(folder, broker, name, tls, "parked", "");
        if (!waitSeen(
                broker, offset, [](Seen s) { return s.state >= 1; }, 30s)) {
            std::cout << "the publisher did not start:\n" << publisher.errors();
            return false;
        }
        *cost = static_cast<double>((settled() - before).bytes) - out.reading;
    }
    return true;
}

MqttConfig defaults() {
    return *ctl::mqtt::parseMqttConfig("broker = mqtt://broker.example\nclient_id = car7\n",
                                       "bench", {})
                .config;
}

// The publisher's report policy over `length` of a trace, one question a second as the
// publisher asks, in simulated time: how many readings it publishes and how many pings the
// silences between them hold.
struct Replay {
    std::size_t readings = 0;
    std::size_t pings = 0;
    std::size_t payload = 0;
};

Replay replay(const std::string& name, std::chrono::seconds length) {
    const MqttConfig config = defaults();
    platform::SimHidPlatform platform;
    sim::SimulatedOstrel controller(platform);
    sim::TraceRunner trace(*sim::builtinTrace(name, controller.firmware().firmwareVersion()));
    trace.add(controller.firmware());
    const auto found = ctl::findControllers(platform, nullptr);
    ParamTable table;
    ctl::Controller device(platform, table, {});
    Replay result;
    if (found.size() != 1 || device.open(*found[0]) != ctl::Controller::Found::One) {
        return result;
    }
    ctl::mqtt::ReportPolicy policy(config, 1s);
    const std::chrono::seconds keepAlive(config.keepAliveSeconds);
    std::chrono::seconds last{0};
    for (std::chrono::seconds at{0}; at < length; ++at) {
        trace.applyUntil(at);
        ctl::Reading reading{"sim-1", ctl::Answer::Ok, {}, {}, std::chrono::system_clock::now()};
        const ctl::mqtt::ReportPolicy::Time now{at};
        if (device.status(reading.status) != ctl::Outcome::Ok) {
            continue;
        }
        reading.texts = ctl::statusTexts(table, reading.status);
        if (!policy.due(reading, now)) {
            continue;
        }
        policy.published(reading, now);
        result.pings +=
            result.readings == 0 ? 0 : static_cast<std::size_t>((at - last) / keepAlive);
        last = at;
        ++result.readings;
        result.payload +=
            ctl::mqtt::statePayload(reading.status, reading.texts, reading.taken, false).size();
    }
    result.pings += static_cast<std::size_t>((length - last) / keepAlive);
    return result;
}

// A start (`start` its cost), each reading at its own payload's size, and the pings.
double priced(const Replay& day, const Costs& costs, double start) {
    return start + static_cast<double>(day.readings) * (costs.reading - costs.payload) +
           static_cast<double>(day.payload) + static_cast<double>(day.pings) * costs.ping;
}

// A run in a namespace of its own, in a child started before any thread: its figures go to
// `file` for the parent to print in order.
pid_t child(const std::string& file, const std::function<std::string()>& run) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    std::string text;
    if (const std::string why = privateNetwork(); !why.empty()) {
        text = "(skipped: no network of its own: " + why + ")\n";
    } else {
        text = run();
    }
    rig::writeFile(file, text);
    std::_Exit(0);
}

// The driving trace at the defaults (with `extra`), and a dead zone of ten minutes: the
// broker's address goes, so that nothing gets through and nothing says why, as on a mobile
// link out of coverage, and comes back as a modem's does, a new address.
std::string deadZone(bool tls, const std::string& how, const std::string& extra) {
    const std::string address = "10.9.0.1";
    const std::string add = "addr add " + address + "/24 dev v1";
    if (!rig::ip(add)) {
        return "(skipped: ip " + add + " failed)\n";
    }
    rig::TempFolder folder;
    rig::Broker broker(folder, address);
    if (!broker.ready() || !broker.start()) {
        return "(skipped: the broker did not start)\n";
    }
    Publisher publisher(folder, broker, "dead", tls, "driving", extra);
    if (!waitSeen(
            broker, 0, [](Seen s) { return s.state >= 1; }, 30s)) {
        return "the publisher did not start:\n" + publisher.errors();
    }
    settled();
    rig::ip("addr del " + address + "/24 dev v1");
    std::this_thread::sleep_for(DEAD_ZONE);
    const std::size_t offset = broker.log().size();
    const Wire before = loopback();
    const auto back = std::chrono::steady_clock::now();
    rig::ip(add);
    if (!waitSeen(
            broker, offset, [](Seen s) { return s.state >= 1; }, 120s)) {
        return "nothing came after the dead zone:\n" + publisher.errors();
    }
    const double first =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count();
    const Wire cost = settled() - before;
    const Seen after = seen(broker, offset);
    char line[640];
    std::snprintf(line, sizeof line,
                  "%-5s %s: %zu history + %zu state message(s) (and %zu of availability and "
                  "discovery), %zu B of readings; %llu B in %llu packets on the wire with the "
                  "reconnection; the first delivery %.1f s after the network's return\n",
                  tls ? "TLS" : "plain", how.c_str(), after.history, after.state, after.other,
                  after.payload, static_cast<unsigned long long>(cost.bytes),
                  static_cast<unsigned long long>(cost.packets), first);
    return line;
}

// Ten minutes of the real publisher on the driving trace, captured whole.
std::string capturedRun() {
    rig::TempFolder folder;
    rig::Broker broker(folder);
    if (!broker.ready() || !broker.start()) {
        return "(skipped: the broker did not start)\n";
    }
    const Wire before = loopback();
    {
        Publisher publisher(folder, broker, "captured", false, "driving", "");
        std::this_thread::sleep_for(CAPTURED_RUN);
    }
    const Wire cost = settled() - before;
    const Seen all = seen(broker);
    // The parent prices the same ten minutes: BYTES READINGS PINGS.
    char line[128];
    std::snprintf(line, sizeof line, "%llu %zu %zu\n", static_cast<unsigned long long>(cost.bytes),
                  all.state, all.pings);
    return line;
}

std::string configFile(const rig::TempFolder& folder, const std::string& name,
                       const std::string& broker, const std::string& extra) {
    std::string path = folder / name;
    rig::writeFile(path, "broker = " + broker + "\nclient_id = car7\nusername = " + rig::USER +
                             "\npassword_file = " + (folder / "password") + "\n" + extra);
    return path;
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
    for (const char* program : {rig::MOSQUITTO, "/usr/bin/openssl"}) {
        if (!std::filesystem::exists(program)) {
            std::cout << "(skipped: " << program << " is missing; make deps installs it)\n";
            return 0;
        }
    }
    // The long runs first, each in a process and a namespace of its own, while this one
    // prices the pieces.
    rig::TempFolder results;
    std::vector<std::pair<pid_t, std::string>> children;
    struct Zone {
        const char* name;
        bool tls;
        const char* how;
        const char* extra;
    };
    for (const Zone& zone : {
             Zone{"dead-plain", false, "10-minute dead zone, driving", ""},
             Zone{"dead-tls", true, "10-minute dead zone, driving", ""},
             Zone{"dead-interval", false, "10-minute dead zone, a reading every 10 s",
                  "report = interval\n"},
         }) {
        const std::string file = results / zone.name;
        children.emplace_back(
            child(file, [zone] { return deadZone(zone.tls, zone.how, zone.extra); }), file);
    }
    const std::string capturedFile = results / "captured";
    children.emplace_back(child(capturedFile, capturedRun), capturedFile);

    discoveryBytes();
    const std::string why = privateNetwork();
    rig::TempFolder folder;
    rig::Broker broker(folder);
    if (!broker.ready() || !broker.start()) {
        std::cout << "(skipped: the broker did not start)\n";
        return 1;
    }
    if (!why.empty()) {
        // The loopback would count whatever else the machine does.
        std::cout << "(bytes on the wire skipped: no network of its own: " << why << ")\n";
        cpu(folder, broker, 1, 60);
        return 0;
    }
    Costs plain;
    Costs tls;
    if (!costs(folder, broker, false, plain) || !costs(folder, broker, true, tls)) {
        return 1;
    }
    std::cout << "bytes on the wire (IP and TCP headers included), captured:\n";
    for (const auto* side : {&plain, &tls}) {
        std::printf(
            "%-5s a reading %.0f B (payload %.0f B), as before (texts) %.0f B (payload %.0f B); "
            "a ping %.0f B; the first start %.0f B, a start after it %.0f B\n",
            side == &tls ? "TLS" : "plain", side->reading, side->payload, side->textsReading,
            side->textsPayload, side->ping, side->connect, side->restart);
    }
    std::cout << "a day at the defaults (one start, and the report policy replayed over 24 h of "
                 "the trace):\n";
    const Replay parked = replay("parked", std::chrono::seconds(86400));
    const Replay driving = replay("driving", std::chrono::seconds(86400));
    for (const auto* side : {&plain, &tls}) {
        const char* name = side == &tls ? "TLS" : "plain";
        std::printf("%-5s before (a reading every 10 s with the texts): %.2f MB a day\n", name,
                    (side->connect + DAY / 10 * side->textsReading) / 1e6);
        for (const auto& [vehicle, day] : {std::pair{"parked", &parked}, {"driving", &driving}}) {
            const double bytes = priced(*day, *side, side->restart);
            std::printf("%-5s %-7s: %zu readings and %zu pings: %.1f KB a day, %.2f MB a month\n",
                        name, vehicle, day->readings, day->pings, bytes / 1e3, bytes * 30 / 1e6);
        }
    }

    int status = 0;
    for (const auto& [pid, file] : children) {
        ::waitpid(pid, &status, 0);
    }
    std::istringstream captured(rig::readFile(capturedFile));
    unsigned long long bytes = 0;
    std::size_t readings = 0;
    std::size_t pings = 0;
    if (captured >> bytes >> readings >> pings) {
        const Replay first = replay("driving", CAPTURED_RUN);
        std::printf(
            "plain driving, 10 minutes of the real publisher: %llu B captured, %zu readings, "
            "%zu pings; priced as above: %.0f B, %zu readings, %zu pings\n",
            bytes, readings, pings, priced(first, plain, plain.connect), first.readings,
            first.pings);
    } else {
        std::cout << rig::readFile(capturedFile);
    }
    for (const auto& [pid, file] : children) {
        if (file != capturedFile) {
            std::cout << rig::readFile(file);
        }
    }
    std::cout << "processor time, publisher at the default interval (10 s, asked every 1 s):\n";
    cpu(folder, broker, 1, 60);
    cpu(folder, broker, 16, 60);
    return 0;
}
