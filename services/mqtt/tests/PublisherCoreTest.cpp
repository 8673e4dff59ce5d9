// The publisher's decisions on a client and a clock of the test's own, in milliseconds: when it
// tries again, what each reading publishes, the discovery after Home Assistant's birth
// message, and what it says of the connection and of a full buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>

#include "core/selection/Selection.h"
#include "core/session/Controller.h"
#include "services/mqtt/PublisherCore.h"
#include "services/mqtt/tests/SimFigures.h"

namespace {

using namespace ctl::mqtt;
using ctl::Answer;
using ctl::Reading;
using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;
using Lines = std::vector<std::string>;

class FakeClock final : public Clock {
public:
    Steady::time_point now() override {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    void sleepFor(Steady::duration duration) override {
        std::lock_guard lock(m_mutex);
        m_now += duration;
    }
    long long at() { return std::chrono::duration_cast<ms>(now() - Steady::time_point{}).count(); }

private:
    std::mutex m_mutex;
    Steady::time_point m_now{};
};

// `fraction` of the way from low to high.
struct FakeRandom final : Random {
    double fraction = 0;
    long long between(long long low, long long high) override {
        return low + std::llround(fraction * static_cast<double>(high - low));
    }
};

struct Sent {
    std::string topic, payload;
    bool retained;
    unsigned expiry;
};

struct FakeClient final : MqttClient {
    FakeClient(Settings given, FakeClock& time) : settings(std::move(given)), clock(time) {}
    std::string create() override { return createError; }
    void connect() override { connects.push_back(clock.at()); }
    bool publish(const std::string& topic, const std::string& payload, bool retained,
                 unsigned expiry, std::string& error) override {
        error = refusal;
        if (refusal.empty()) {
            sent.push_back({topic, payload, retained, expiry});
        }
        return refusal.empty();
    }
    void subscribe(const std::string& topic) override { subscribed.push_back(topic); }
    void disconnect(ms) override { disconnectedAt = clock.at(); }
    bool isConnected() override { return connected; }
    std::uint64_t dropped() const override { return drops; }
    std::size_t pending() override { return unsent; }
    std::size_t restored() const override { return earlier; }
    void reconcile() override {}
    Lines on(const std::string& topic) const {
        Lines payloads;
        for (const Sent& message : sent) {
            if (message.topic == topic || topic.empty()) {
                payloads.push_back(topic.empty() ? message.topic : message.payload);
            }
        }
        return payloads;
    }

    const Settings settings;
    FakeClock& clock;
    std::string createError, refusal;
    std::vector<long long> connects;
    Lines subscribed;
    std::vector<Sent> sent;
    std::optional<long long> disconnectedAt;
    bool connected = false;
    std::uint64_t drops = 0;
    std::size_t unsent = 0, earlier = 0;
};

struct NoListener final : MqttClient::Listener {
    void connected() override {}
    void connectFailed(const std::string&) override {}
    void connectionLost(const std::string&) override {}
    void messageArrived(const std::string&, const std::string&) override {}
    void persistenceFailed() override {}
};

// The status of simulated controller sim-1, read once through the controller interface.
const Reading& simReading() {
    static const Reading reading = [] {
        platform::SimHidPlatform platform;
        const auto controllers = plugSimControllers(platform, 1, false);
        const auto found = ctl::findControllers(platform, nullptr);
        ParamTable table;
        ctl::Controller controller(platform, table, {});
        Reading result{"sim-1", Answer::Ok, {}, {}, {}};
        if (found.size() == 1 && controller.open(*found[0]) == ctl::Controller::Found::One &&
            controller.status(result.status) == ctl::Outcome::Ok) {
            result.texts = ctl::statusTexts(table, result.status);
        }
        return result;
    }();
    return reading;
}

const std::string STATE = "ostrel/car7/sim-1/state";
const std::string STATUS = "ostrel/car7/sim-1/status";
const std::string PUBLISHER = "ostrel/car7/status";
const std::string DISCOVERY = "homeassistant/device/car7_sim-1/config";
const std::string BROKER = "mqtt://127.0.0.1:1883";

class Publishing : public ::testing::Test {
protected:
    // One controller, sim-1, every 10 s, the buffer in /st; `tweak` changes that first.
    void start(const std::function<void(MqttConfig&)>& tweak = {}) {
        MqttConfig config;
        config.broker = *parseBrokerUrl(BROKER);
        config.clientId = "car7";
        config.homeAssistant = false;
        if (tweak) {
            tweak(config);
        }
        said.clear();
        core = std::make_unique<PublisherCore>(
            config, clock, random, [this](const std::string& line) { said.push_back(line); },
            nullptr);
        for (int i = 1; i <= controllers; ++i) {
            core->track("sim-" + std::to_string(i));
        }
        const auto make = [this](const MqttClient::Settings& settings, MqttClient::Listener&) {
            auto made = std::make_unique<FakeClient>(settings, clock);
            made->createError = createError;
            made->earlier = restored;
            client = made.get();
            return made;
        };
        startError = core->start(make, listener, "pw", folder);
        begun = clock.at();
    }

    // Space-separated steps: C connected, F:WHY an attempt failed, L:WHY the connection lost,
    // B Home Assistant's birth message, P the buffer folder failed, Q:WHY messages refused
    // (Q: accepted again), D:N dropped so far, U sim-1 unplugged, E the end; T:MS the clock at
    // MS since the start, then tick; O:MS[:CHANGE[:FIRMWARE]], S:MS and X:MS sim-1 answered,
    // was silent or was lost, taken at MS, its state moved by CHANGE.
    void play(const std::string& steps) {
        std::istringstream words(steps);
        for (std::string step; words >> step;) {
            const std::string arg = step.size() > 2 ? step.substr(2) : "";
            const long long n = std::atoll(arg.c_str());
            using K = Event::Kind;
            static const std::map<char, K> events{{'C', K::Connected},
                                                  {'F', K::ConnectFailed},
                                                  {'L', K::ConnectionLost},
                                                  {'B', K::HomeAssistantOnline},
                                                  {'P', K::PersistenceFailed}};
            if (const auto event = events.find(step[0]); event != events.end()) {
                core->handle({event->second, {}, arg});
            } else if (step[0] == 'Q') {
                client->refusal = arg;
            } else if (step[0] == 'D') {
                client->drops = static_cast<std::uint64_t>(n);
            } else if (step[0] == 'U') {
                core->untrack("sim-1");
            } else if (step[0] == 'E') {
                core->finish();
            } else if (step[0] == 'T') {
                clock.sleepFor(ms(begun + n - clock.at()));
                core->tick();
            } else {
                answer(step, n);
            }
        }
    }
    void answer(const std::string& step, long long at) {
        Reading reading = simReading();
        reading.answer = step[0] == 'O'   ? Answer::Ok
                         : step[0] == 'S' ? Answer::Silent
                                          : Answer::Lost;
        reading.taken = Wall::time_point{} + 1000h + ms(at);
        int change = 0;
        unsigned firmware = 0x21;
        std::sscanf(step.c_str(), "%*c:%*d:%d:%x", &change, &firmware);
        reading.status.state = static_cast<std::int8_t>(reading.status.state + change);
        reading.status.version = static_cast<std::uint8_t>(firmware);
        core->handle({Event::Kind::Reading, reading, {}});
    }

    FakeClock clock;
    long long begun = 0;  // when start() was
    FakeRandom random;
    NoListener listener;
    int controllers = 1;
    std::string folder = "/st", createError, startError;
    std::size_t restored = 0;
    Lines said;
    std::unique_ptr<PublisherCore> core;
    FakeClient* client = nullptr;
};

TEST_F(Publishing, TriesAgainOneSecondDoublingToSixtyWithJitterAndAfreshOnceConnected) {
    struct Case {
        const char* events;            // F: an attempt failed, L: the connection lost, C: connected
        double jitter;                 // how much of the half the random source gives
        std::vector<long long> waits;  // before the next attempt, after each F and L
    };
    for (const Case& c : {
             Case{"FFFFFFFFF", 0, {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}},
             Case{"FFFFFFFF", 1, {1500, 3000, 6000, 12000, 24000, 48000, 90000, 90000}},
             Case{"FFF", 0.5, {1250, 2500, 5000}},
             Case{"FFFCF", 0, {1000, 2000, 4000, 1000}},
             Case{"FFLF", 1, {1500, 3000, 1500, 3000}},
             Case{"CLLF", 0, {1000, 1000, 2000}},
         }) {
        SCOPED_TRACE(c.events);
        random.fraction = c.jitter;
        start();
        std::vector<long long> expected{begun};  // the first at once
        auto wait = c.waits.begin();
        for (const char* e = c.events; *e != '\0'; ++e) {
            play(std::string(1, *e) + ":no");
            if (*e != 'C') {
                const long long due = clock.at() + *wait++;
                EXPECT_EQ(core->nextDue(), Steady::time_point{} + ms(due));
                play("T:" + std::to_string(due - 1 - begun));  // not a millisecond early
                play("T:" + std::to_string(due - begun));
                expected.push_back(due);
            }
            EXPECT_FALSE(core->nextDue());
        }
        EXPECT_EQ(client->connects, expected);
    }
}

TEST_F(Publishing, SaysTheStartEachNewReasonAFullBufferAndTheEndOnce) {
    const std::string retry = "; trying again, less often each time (at most 90 s apart)";
    const std::string connected = "connected to " + BROKER;
    const std::string full =
        "the buffer is full (34 messages): the oldest are dropped to make room";
    const auto dropped = [](int n) {
        return std::to_string(n) +
               " messages dropped while the broker was unreachable (the buffer holds 34; the "
               "oldest went first)";
    };
    const std::string folderFailed =
        "cannot write the buffer folder /st (full or read-only?): messages are kept in memory "
        "until it can be written again, and lost if the program ends first";
    struct Case {
        const char* steps;
        Lines lines;  // after the start's
    };
    for (const Case& c : {
             Case{"F:refused F:refused F:timeout F:timeout",
                  {"cannot connect to " + BROKER + ": refused" + retry,
                   "cannot connect to " + BROKER + ": timeout" + retry}},
             Case{"F:refused C F:refused",
                  {"cannot connect to " + BROKER + ": refused" + retry, connected,
                   "cannot connect to " + BROKER + ": refused" + retry}},
             Case{"C L:keepalive",
                  {connected, "lost the connection to " + BROKER +
                                  " (keepalive); the readings are kept until it is back"}},
             Case{"D:3 T:1 D:5 T:2 D:9 T:3 C", {full, connected, dropped(9)}},
             Case{"C D:3 T:1 L:x D:4 T:2 D:7 T:3 E",
                  {connected, dropped(3),
                   "lost the connection to " + BROKER +
                       " (x); the readings are kept until it is back",
                   full, dropped(4)}},
             // Once a minute at most.
             Case{"P T:30000 P T:60000 P", {folderFailed}},
             Case{"P T:60001 P T:120001 P T:120002 P", {folderFailed, folderFailed, folderFailed}},
             Case{"Q:full C O:0 Q: O:1000:1 Q:full O:2000:2",
                  {connected, "cannot queue a message on " + PUBLISHER + ": full",
                   "cannot queue a message on " + STATE + ": full"}},
         }) {
        SCOPED_TRACE(c.steps);
        start([](MqttConfig& config) {
            config.intervalSeconds = 0.1;
            config.bufferHours = 0.0005;  // 18 readings, and 16 beside them
        });
        said.erase(said.begin());
        play(c.steps);
        EXPECT_EQ(said, c.lines);
    }
    // What the start says: where, how often, how much is kept; at most a packet id each.
    struct Start {
        double interval, bufferHours;
        int controllers;
        std::string folder;
        std::size_t restored;
        Lines lines;
    };
    for (const Start& c : {
             Start{10,
                   24,
                   2,
                   "",
                   5,
                   {"publishing 2 controller(s) to " + BROKER +
                        " as car7 every 10 s; up to 17296 messages are kept in memory while it is "
                        "unreachable",
                    "5 messages of an earlier run are still to be delivered"}},
             Start{0.1,
                   24,
                   0,
                   "/st",
                   0,
                   {"publishing 0 controller(s) to " + BROKER +
                    " as car7 every 0.1 s; up to 65000 messages are kept in /st while it is "
                    "unreachable"}},
         }) {
        controllers = c.controllers, folder = c.folder, restored = c.restored;
        start([&](MqttConfig& config) {
            config.intervalSeconds = c.interval;
            config.bufferHours = c.bufferHours;
        });
        EXPECT_EQ(said, c.lines);
        EXPECT_EQ(client->settings.willTopic, PUBLISHER);
        EXPECT_EQ(client->settings.sessionExpirySeconds, 86400U);
    }
    createError = "bad URI";
    start();
    EXPECT_EQ(startError, "bad URI");
}

TEST_F(Publishing, TheEndWaitsUpToTwoSecondsForWhatIsInFlightAndSaysWhatStays) {
    for (const bool connected : {true, false}) {
        folder = connected ? "/st" : "";
        start();
        client->connected = connected;
        client->unsent = 3;
        play("E");
        EXPECT_EQ(client->disconnectedAt, connected ? std::optional(begun + 2000) : std::nullopt);
        EXPECT_EQ(said.back(),
                  connected ? "3 messages not delivered yet are kept in /st for the next start"
                            : "3 messages not delivered yet are lost (no buffer folder)");
    }
}

TEST_F(Publishing, PublishesTheFirstStateAtOnceThenByTheIntervalAndAChangeAtOnce) {
    struct Case {
        double interval;
        const char* readings;
        Lines times;  // the seconds of the readings published
    };
    for (const Case& c : {
             Case{3, "O:0 O:1000 O:2000 O:3000 O:4000 O:6000", {"00.000", "03.000", "06.000"}},
             // Half a period early is due, and keeps the beat.
             Case{3, "O:0 O:1000 O:2600 O:4600 O:5200 O:6000", {"00.000", "02.600", "06.000"}},
             // A change at once keeps it.
             Case{3,
                  "O:0 O:1000:1 O:2000:1 O:3000:1 O:4000:2",
                  {"00.000", "01.000", "03.000", "04.000"}},
             Case{0.2, "O:0 O:200 O:400", {"00.000", "00.200", "00.400"}},
             // After a long gap the beat starts again.
             Case{1, "O:0 O:5000 O:5700 O:6000", {"00.000", "05.000", "05.700"}},
         }) {
        SCOPED_TRACE(c.readings);
        start([&](MqttConfig& config) { config.intervalSeconds = c.interval; });
        play(c.readings);
        Lines times;
        for (const std::string& payload : client->on(STATE)) {
            times.push_back(payload.substr(payload.find("\"time\":\"") + 25, 6));
        }
        EXPECT_EQ(times, c.times);
        EXPECT_FALSE(client->sent.back().retained);
        EXPECT_EQ(client->sent.back().expiry, 86400U);
    }
}

TEST_F(Publishing, AvailabilityIsRetainedAndSaidOncePerChange) {
    struct Case {
        const char* steps;
        Lines sim1, publisher;
    };
    for (const Case& c : {
             Case{"O:0 O:1000 O:2000", {"online"}, {}},
             Case{
                 "S:0 S:1000 O:2000 S:3000 O:4000", {"offline", "online", "offline", "online"}, {}},
             Case{"O:0 X:1000 O:2000", {"online", "offline"}, {}},  // forgotten once lost
             Case{"O:0 U O:2000", {"online", "offline"}, {}},
             Case{"C L:x C", {}, {"online", "online"}},
         }) {
        SCOPED_TRACE(c.steps);
        start();
        play(c.steps);
        EXPECT_EQ(client->on(STATUS), c.sim1);
        EXPECT_EQ(client->on(PUBLISHER), c.publisher);
        for (const Sent& sent : client->sent) {
            EXPECT_EQ(sent.retained, sent.topic != STATE) << sent.topic;
        }
        EXPECT_TRUE(client->subscribed.empty()) << "no Home Assistant to listen to";
    }
}

TEST_F(Publishing, DiscoveryGoesWithTheFirstAnswerANewFirmwareAndAfterTheBirthMessage) {
    struct Case {
        double spread;  // of the 3 s
        const char* steps;
        Lines topics;  // what the last step published
    };
    for (const Case& c : {
             Case{0, "O:0", {DISCOVERY, STATUS, STATE}},  // before what it describes
             Case{0, "O:0 O:1000", {}},
             Case{0, "O:0 O:1000:0:22", {DISCOVERY, STATE}},
             Case{0, "O:0 B T:0", {DISCOVERY, STATUS, STATE}},
             Case{0.5, "O:0 B T:1499", {}},
             Case{0.5, "O:0 B T:750 B T:1500", {DISCOVERY, STATUS, STATE}},  // not put off
             Case{1, "O:0 S:100 B T:3000", {DISCOVERY, STATUS}},  // offline again, no state
             Case{1, "B T:3000", {}},                             // nothing before an answer
             Case{0, "C", {PUBLISHER}},
         }) {
        SCOPED_TRACE(c.steps);
        random.fraction = c.spread;
        start([](MqttConfig& config) { config.homeAssistant = true; });
        core->track("sim-0");  // never answers: nothing of it, and no hold-up of sim-1
        const std::string steps = c.steps;
        const auto last = steps.rfind(' ');
        play(last == std::string::npos ? "" : steps.substr(0, last));
        client->sent.clear();
        play(last == std::string::npos ? steps : steps.substr(last + 1));
        EXPECT_EQ(client->on(""), c.topics);
    }
    EXPECT_EQ(client->subscribed, Lines{"homeassistant/status"});
    EXPECT_TRUE(core->isBirth("homeassistant/status", "online"));
    EXPECT_FALSE(core->isBirth("homeassistant/status", "offline"));
    EXPECT_FALSE(core->isBirth("homeassistant/other", "online"));
    start();
    EXPECT_FALSE(core->isBirth("homeassistant/status", "online")) << "without Home Assistant";
}

}  // namespace
