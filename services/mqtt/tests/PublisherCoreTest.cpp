// The publisher's decisions on a client and a clock of the test's own, in milliseconds: when it
// tries again, which readings are published and where, what waits in the queue until the
// broker acknowledges it (a week of it, too), the sessions it starts clean, the discovery after
// Home Assistant's birth message, a wall clock set back or forward, and what it says of all
// that.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/context/Context.h"
#include "core/files/Sha256.h"
#include "core/selection/Selection.h"
#include "core/session/Controller.h"
#include "services/mqtt/ParamWorker.h"
#include "services/mqtt/PublisherCore.h"
#include "services/mqtt/tests/SimFigures.h"

namespace {

using namespace ctl::mqtt;
using ctl::Answer;
using ctl::Reading;
using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;
using Lines = std::vector<std::string>;
using json = nlohmann::json;

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
    int token;
};

struct FakeClient final : MqttClient {
    FakeClient(Settings given, FakeClock& time) : settings(std::move(given)), clock(time) {}
    std::string create() override { return createError; }
    void connect(bool clean) override {
        connects.push_back(clock.at());
        cleanStarts.push_back(clean);
    }
    std::optional<int> publish(const std::string& topic, const std::string& payload, bool retained,
                               unsigned expiry, std::string& error) override {
        error = refusal;
        if (!refusal.empty()) {
            return std::nullopt;
        }
        sent.push_back({topic, payload, retained, expiry, ++lastToken});
        return lastToken;
    }
    void subscribe(const std::string& topic) override { subscribed.push_back(topic); }
    void disconnect(ms) override { disconnectedAt = clock.at(); }
    void abandon() override { ++abandoned; }
    bool isConnected() override { return false; }
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
    std::vector<bool> cleanStarts;
    Lines subscribed;
    std::vector<Sent> sent;
    int lastToken = 0;
    int abandoned = 0;
    std::optional<long long> disconnectedAt;
};

struct NoListener final : MqttClient::Listener {
    void connected(bool) override {}
    void connectFailed(const std::string&, int) override {}
    void connectionLost(const std::string&, int) override {}
    void delivered(int) override {}
    void messageArrived(const std::string&, const std::string&, bool) override {}
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
const std::string HISTORY = "ostrel/car7/sim-1/history";
const std::string STATUS = "ostrel/car7/sim-1/status";
const std::string PUBLISHER = "ostrel/car7/status";
const std::string DISCOVERY = "homeassistant/device/car7_sim-1/config";
const std::string BROKER = "mqtt://127.0.0.1:1883";

// The seconds of the reading times in `payload` (a state, or a batch of them), as "SS.mmm".
Lines timesIn(const std::string& payload) {
    Lines times;
    for (auto at = payload.find("\"time\":\""); at != std::string::npos;
         at = payload.find("\"time\":\"", at + 1)) {
        times.push_back(payload.substr(at + 25, 6));
    }
    return times;
}

// The whole reading times in `payload`.
Lines stampsIn(const std::string& payload) {
    Lines stamps;
    for (auto at = payload.find("\"time\":\""); at != std::string::npos;
         at = payload.find("\"time\":\"", at + 1)) {
        const auto from = at + 8;
        stamps.push_back(payload.substr(from, payload.find('"', from) - from));
    }
    return stamps;
}

class Publishing : public ::testing::Test {
protected:
    // One controller, sim-1, every 10 s, by interval, the queue in memory; `tweak` changes that.
    void start(const std::function<void(MqttConfig&)>& tweak = {}) {
        MqttConfig config;
        config.broker = *parseBrokerUrl(BROKER);
        config.clientId = "car7";
        config.homeAssistant = false;
        config.byException = false;
        if (tweak) {
            tweak(config);
        }
        said.clear();
        wallShift = {};
        core.reset();
        core = std::make_unique<PublisherCore>(
            config, clock, random, [this](const std::string& line) { said.push_back(line); },
            nullptr);
        if (jobs) {
            core->runParams(jobs);
        }
        for (int i = 1; i <= controllers; ++i) {
            core->track("sim-" + std::to_string(i));
        }
        const auto make = [this](const MqttClient::Settings& settings, MqttClient::Listener&) {
            auto made = std::make_unique<FakeClient>(settings, clock);
            made->createError = createError;
            client = made.get();
            return made;
        };
        startError = core->start(make, listener, "pw", folder);
        begun = clock.at();
    }

    // Space-separated steps: C connected (C:1 with the session present), F:WHY an attempt
    // failed, R:CODE the broker refused it with that reason code, L:WHY the connection lost, K the
    // session taken over, A every message sent so far acknowledged, N the network back, G:TOPIC a
    // message never subscribed to, B Home Assistant's birth message, Q:WHY messages refused (Q:
    // accepted again), U sim-1 unplugged, E the end; T:MS the clock at MS since the start, then
    // tick; O:MS[:CHANGE[:FIRMWARE[:COUNTS]]], S:MS and X:MS sim-1 answered, was silent or was
    // lost, taken at MS, its state moved by CHANGE, its input voltage by COUNTS; W:MS the wall
    // clock (the readings' time, not the steady clock) set forward by MS, back when negative.
    void play(const std::string& steps) {
        std::istringstream words(steps);
        for (std::string step; words >> step;) {
            const std::string arg = step.size() > 2 ? step.substr(2) : "";
            const long long n = std::atoll(arg.c_str());
            using K = Event::Kind;
            switch (step[0]) {
                case 'C':
                    core->handle({K::Connected, {}, {}, static_cast<int>(n)});
                    break;
                case 'F':
                    core->handle({K::ConnectFailed, {}, arg});
                    break;
                case 'R':
                    core->handle({K::ConnectFailed, {}, "refused by Paho", static_cast<int>(n)});
                    break;
                case 'L':
                    core->handle({K::ConnectionLost, {}, arg});
                    break;
                case 'K':
                    core->handle({K::ConnectionLost, {}, "taken", 0x8E});
                    break;
                case 'A':
                    // By index: each acknowledgement may send more, which grows the list.
                    for (std::size_t i = 0, sent = client->sent.size(); i < sent; ++i) {
                        core->handle({K::Delivered, {}, {}, client->sent[i].token});
                    }
                    break;
                case 'N':
                    core->handle({K::NetworkBack, {}, {}});
                    break;
                case 'G':
                    core->handle({K::ForeignMessage, {}, arg});
                    break;
                case 'B':
                    core->handle({K::HomeAssistantOnline, {}, {}});
                    break;
                case 'Q':
                    client->refusal = arg;
                    break;
                case 'U':
                    core->untrack("sim-1");
                    break;
                case 'E':
                    core->finish();
                    break;
                case 'T':
                    clock.sleepFor(ms(begun + n - clock.at()));
                    core->tick();
                    break;
                case 'W':
                    wallShift += ms(n);
                    break;
                default:
                    answer(step, n);
            }
        }
    }
    void answer(const std::string& step, long long at) {
        Reading reading = simReading();
        reading.answer = step[0] == 'O'   ? Answer::Ok
                         : step[0] == 'S' ? Answer::Silent
                                          : Answer::Lost;
        reading.taken = takenAt(at);
        int change = 0, counts = 0;
        unsigned firmware = 0x21;
        std::sscanf(step.c_str(), "%*c:%*d:%d:%x:%d", &change, &firmware, &counts);
        reading.status.state = static_cast<std::int8_t>(reading.status.state + change);
        reading.status.version = static_cast<std::uint8_t>(firmware);
        reading.status.inputVoltage =
            static_cast<std::uint8_t>(reading.status.inputVoltage + counts);
        ParamTable table;
        reading.texts = ctl::statusTexts(table, reading.status);
        clock.sleepFor(ms(begun + at - clock.at()));
        ownTime[ctl::utcText(takenAt(at) - wallShift, true)] = ctl::utcText(reading.taken, true);
        core->handle({Event::Kind::Reading, reading, {}});
    }
    // The wall clock's time at MS since the start.
    Wall::time_point takenAt(long long at) const {
        return Wall::time_point{} + 1000h + ms(at) + wallShift;
    }
    // The whole times of the readings published on the state and the history, in the order sent.
    Lines stamps() const {
        Lines all;
        for (const Sent& sent : client->sent) {
            if (sent.topic == STATE || sent.topic == HISTORY) {
                const Lines in = stampsIn(sent.payload);
                all.insert(all.end(), in.begin(), in.end());
            }
        }
        return all;
    }
    // The times of the readings published on `topic`, message by message.
    std::vector<Lines> published(const std::string& topic) const {
        std::vector<Lines> all;
        for (const std::string& payload : client->on(topic)) {
            all.push_back(timesIn(payload));
        }
        return all;
    }

    FakeClock clock;
    long long begun = 0;  // when start() was
    Wall::duration wallShift{};
    std::map<std::string, std::string> ownTime;  // of each reading: its time after W, by before
    FakeRandom random;
    NoListener listener;
    int controllers = 1;
    std::string folder, createError, startError;
    std::unique_ptr<PublisherCore> core;
    FakeClient* client = nullptr;
    Lines said;
    ParamLink::Run jobs;  // with parameters
};

TEST_F(Publishing, TriesAgainWithABackoffThatOnlyAGoodConnectionOrTheNetworkStartsAfresh) {
    struct Case {
        const char* events;            // F failed, L lost, K taken over, C connected, S a minute up
        double jitter;                 // how much of the half the random source gives
        std::vector<long long> waits;  // before the next attempt, after each F, L and K
    };
    for (const Case& c : {
             Case{"FFFFFFFFF", 0, {1000, 2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000}},
             Case{"FFFFFFFF", 1, {1500, 3000, 6000, 12000, 24000, 48000, 90000, 90000}},
             Case{"FFF", 0.5, {1250, 2500, 5000}},
             // Up for less than a minute: the backoff goes on.
             Case{"FFFCF", 0, {1000, 2000, 4000, 8000}},
             Case{"CLCLCL", 0, {1000, 2000, 4000}},
             // Two publishers with one client id: each is put off longer every time.
             Case{"CKCKCKCK", 0, {1000, 2000, 4000, 8000}},
             Case{"FFCSL", 0, {1000, 2000, 1000}},
         }) {
        SCOPED_TRACE(c.events);
        random.fraction = c.jitter;
        start();
        std::vector<long long> told;
        core->tellWaits([&told](Steady::duration wait) {
            told.push_back(std::chrono::duration_cast<ms>(wait).count());
        });
        std::vector<long long> expected{begun};  // the first at once
        auto wait = c.waits.begin();
        for (const char* e = c.events; *e != '\0'; ++e) {
            if (*e == 'S') {
                play("T:" + std::to_string(clock.at() + 60000 - begun));
                continue;
            }
            play(std::string(1, *e) + ":no");
            if (*e == 'C') {
                continue;
            }
            const long long due = clock.at() + *wait++;
            EXPECT_EQ(core->nextDue(), Steady::time_point{} + ms(due));
            if (due > clock.at()) {
                play("T:" + std::to_string(due - 1 - begun));  // not a millisecond early
            }
            play("T:" + std::to_string(due - begun));
            expected.push_back(due);
            EXPECT_FALSE(core->nextDue());
        }
        EXPECT_EQ(client->connects, expected);
        EXPECT_EQ(told, c.waits);
    }
}

TEST_F(Publishing, TheNetworkBackBringsTheNextAttemptForwardWithinThreeSeconds) {
    struct Case {
        int failures;     // before the network comes back
        double jitter;    // of the 3 s
        long long after;  // the attempt, after the network is back
        long long next;   // after that one failed: afresh when it was brought forward
    };
    for (const Case& c : {Case{7, 0.5, 1500, 1250}, Case{7, 0, 0, 1000}, Case{1, 1, 1500, 3000}}) {
        SCOPED_TRACE(c.failures);
        random.fraction = c.jitter;
        start();
        for (int i = 0; i < c.failures; ++i) {
            play("F:no");
            if (i + 1 < c.failures) {
                play("T:" + std::to_string(std::chrono::duration_cast<ms>(*core->nextDue() -
                                                                          Steady::time_point{})
                                               .count() -
                                           begun));
            }
        }
        play("N");  // 1 s after one failure: never later than it was
        EXPECT_EQ(core->nextDue(), Steady::time_point{} + ms(clock.at() + c.after));
        play("T:" + std::to_string(clock.at() + c.after - begun) + " F:no");
        EXPECT_EQ(core->nextDue(), Steady::time_point{} + ms(clock.at() + c.next));
        play("C:1 N");
        EXPECT_EQ(client->connects.size(), static_cast<std::size_t>(c.failures + 1));
    }
}

TEST_F(Publishing, ReportsByExceptionChangesDeadbandsAndHeartbeats) {
    struct Case {
        const char* readings;  // O:MS:CHANGE:FIRMWARE:COUNTS, every one a second or so
        Lines times;           // of those published
    };
    // Deadband 0.5 V, four counts of 0.1123 V (firmware 1.x); heartbeat 60 s; interval 10 s.
    for (const Case& c : {
             // A parked vehicle: a count's jitter publishes nothing but the heartbeat.
             Case{"O:0 O:1000:0:21:1 O:2000:0:21:-1 O:30000:0:21:1 O:59600 O:61000",
                  {"00.000", "59.600"}},
             // Five counts away: at once, but not sooner than the interval after the last.
             Case{"O:0 O:4000:0:21:5 O:10000:0:21:5 O:11000:0:21:5", {"00.000", "10.000"}},
             // Back within the band before the interval ends: nothing.
             Case{"O:0 O:4000:0:21:5 O:10000:0:21:1", {"00.000"}},
             // The band is around the value published, not the last one read: a slow drift
             // is published once it has drifted far enough.
             Case{"O:0 O:10000:0:21:2 O:20000:0:21:4 O:30000:0:21:5 O:40000:0:21:6",
                  {"00.000", "30.000"}},
             // A change of state goes at once, interval or not.
             Case{"O:0 O:1000:1 O:2000:2 O:3000:2", {"00.000", "01.000", "02.000"}},
             Case{"O:0 O:1000:0:22", {"00.000", "01.000"}},  // a new firmware
         }) {
        SCOPED_TRACE(c.readings);
        start([](MqttConfig& config) {
            config.byException = true;
            config.heartbeatSeconds = 60;
        });
        play("C");
        play(c.readings);
        Lines times;
        for (const Lines& message : published(STATE)) {
            times.insert(times.end(), message.begin(), message.end());
        }
        EXPECT_EQ(times, c.times);
    }
}

TEST_F(Publishing, ReportsByIntervalAsBeforeWithAChangeAtOnce) {
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
        play("C");
        for (std::istringstream words(c.readings); words;) {
            std::string reading;
            words >> reading;
            play(reading + " A");  // each acknowledged: the next one goes on the state topic
        }
        Lines times;
        for (const Lines& message : published(STATE)) {
            times.insert(times.end(), message.begin(), message.end());
        }
        EXPECT_EQ(times, c.times);
        EXPECT_FALSE(client->sent.back().retained);
        EXPECT_EQ(client->sent.back().expiry, 86400U);
    }
}

TEST_F(Publishing, ADeadZoneGoesAsBatchesOnTheHistoryAndOnlyTheNewestOnTheState) {
    struct Case {
        const char* steps;  // readings every second, interval 1 s
        std::vector<Lines> history, state;
        std::size_t queued;  // after the steps
    };
    for (const Case& c : {
             // Taken offline: the oldest two as one batch, the newest as the state.
             Case{"O:0 O:1000 O:2000 C", {{"00.000", "01.000"}}, {{"02.000"}}, 3},
             Case{"O:0 O:1000 O:2000 C A", {{"00.000", "01.000"}}, {{"02.000"}}, 0},
             // Lost before the acknowledgement: sent again on the next connection, once.
             Case{"C O:0 L:x O:1000 C A", {{"00.000"}}, {{"00.000"}, {"01.000"}}, 0},
             // Acknowledged: never again.
             Case{"C O:0 A L:x O:1000 C A", {}, {{"00.000"}, {"01.000"}}, 0},
             // Four messages at most in flight: the fifth waits for an acknowledgement.
             Case{"C O:0 O:1000 O:2000 O:3000 O:4000",
                  {},
                  {{"00.000"}, {"01.000"}, {"02.000"}, {"03.000"}},
                  5},
             // A broker that says nothing for 30 s: the link is taken for dead, and the
             // readings go again on the next connection.
             Case{"C O:0 T:29999 T:30000 C", {}, {{"00.000"}, {"00.000"}}, 1},
         }) {
        SCOPED_TRACE(c.steps);
        start([](MqttConfig& config) { config.intervalSeconds = 1; });
        play(c.steps);
        EXPECT_EQ(published(HISTORY), c.history);
        EXPECT_EQ(published(STATE), c.state);
        EXPECT_EQ(core->queue()->size(), c.queued);
    }
    // A long dead zone: batches of at most 64 KB, in order, and nothing left out.
    start([](MqttConfig& config) { config.intervalSeconds = 1; });
    std::string steps;
    for (int second = 0; second < 600; ++second) {
        steps += "O:" + std::to_string(second * 1000) + " ";
    }
    play(steps + "C A A A");
    std::size_t readings = 0, messages = 0;
    for (const Sent& sent : client->sent) {
        if (sent.topic == STATE || sent.topic == HISTORY) {
            EXPECT_LE(sent.payload.size(), 64U * 1024) << sent.topic;
            readings += timesIn(sent.payload).size();
            ++messages;
        }
    }
    EXPECT_EQ(readings, 600U);
    EXPECT_LE(messages, 5U);
    EXPECT_EQ(core->queue()->size(), 0U);
}

TEST_F(Publishing, SaysTheStartEachNewReasonATakeoverAFullBufferAndTheEnd) {
    const std::string retry = "; trying again, less often each time (at most 90 s apart)";
    const std::string connected = "connected to " + BROKER;
    // Without a store, every run's first connection is the first of its configuration.
    const std::string first = connected + " (a clean session, the first of this configuration)";
    const std::string full =
        "the buffer is full (18 readings or its megabytes): the oldest are dropped to make room";
    const std::string takeover =
        "the broker gave our session to another client with the client id car7 (session taken "
        "over): two publishers share it; give each vehicle a client_id of its own in the "
        "configuration (trying again, less often each time)";
    const std::string lost =
        "lost the connection to " + BROKER + " (x); the readings are kept until it is back";
    const std::string twin =
        "the broker closed our connection within seconds of its start 3 times in a row, "
        "without a reason: another client is likely connecting with the client id car7 and "
        "taking the session over; give each vehicle a client_id of its own in the "
        "configuration (trying again, less often each time)";
    struct Case {
        const char* steps;
        Lines lines;  // after the start's
    };
    for (const Case& c : {
             Case{"F:refused F:refused F:timeout F:timeout",
                  {"cannot connect to " + BROKER + ": refused" + retry,
                   "cannot connect to " + BROKER + ": timeout" + retry}},
             Case{"R:135 R:135 R:134 R:0",
                  {"cannot connect to " + BROKER +
                       ": the broker lets no client in without a login (not authorized): set "
                       "username and password_file" +
                       retry,
                   "cannot connect to " + BROKER +
                       ": the broker wants a login (bad user name or password): set username "
                       "and password_file" +
                       retry,
                   "cannot connect to " + BROKER + ": refused by Paho" + retry}},
             Case{"C:1 L:keepalive",
                  {first, "lost the connection to " + BROKER +
                              " (keepalive); the readings are kept until it is back"}},
             Case{"C:1 K C:1 K", {first, takeover, connected}},
             Case{"C:1 L:x C:1 L:x C:1 L:x C:1 L:x C:1",
                  {first, lost, connected, lost, connected, twin, connected, connected}},
             Case{"C:1 T:11000 L:x C:1 T:22000 L:x C:1 T:33000 L:x",
                  {first, lost, connected, lost, connected, lost}},
             Case{"O:0 O:100 O:200 O:300 O:400 O:500 O:600 O:700 O:800 O:900 O:1000 O:1100 "
                  "O:1200 O:1300 O:1400 O:1500 O:1600 O:1700 O:1800 O:1900 T:2000 C:1",
                  {full, first,
                   "2 readings dropped while the broker was unreachable (the buffer holds 18 "
                   "readings or 16 MB; the oldest went first)"}},
             Case{"Q:full C:1 Q: O:0 Q:full O:100:1",
                  {first, "cannot send a message on " + PUBLISHER + ": full",
                   "cannot send a message on " + STATE + ": full"}},
             Case{"O:0 O:100 E", {"2 readings not delivered yet are lost (no store: memory only)"}},
             // Said once until a connection, however often the routes change meanwhile;
             // not at all when the next attempt is sooner anyway.
             Case{
                 "F:no N N T:1000 F:no N C:1 L:x N T:1000 N",
                 {"cannot connect to " + BROKER + ": no" + retry,
                  "the network is back: trying " + BROKER + " again within 3 s, not in 1 s", first,
                  lost, "the network is back: trying " + BROKER + " again within 3 s, not in 1 s"}},
             Case{"C:1 G:x/# G:y",
                  {first,
                   "the broker sends this client messages on x/#, which it never subscribed "
                   "to: the session of client id car7 holds another program's subscriptions; "
                   "starting a clean one"}},
         }) {
        SCOPED_TRACE(c.steps);
        start([](MqttConfig& config) {
            config.intervalSeconds = 0.1;
            config.bufferHours = 0.0005;  // 18 readings
        });
        said.erase(said.begin());
        play(c.steps);
        EXPECT_EQ(said, c.lines);
    }
    start();
    EXPECT_EQ(said, Lines{"publishing 1 controller(s) to " + BROKER +
                          " as car7 every 10 s; up to 8640 readings (16 MB) are kept in memory "
                          "while it is unreachable"});
    start([](MqttConfig& config) { config.byException = true; });
    EXPECT_EQ(said.front().find("as car7 on change, every 1800 s otherwise; up to "), 52U);
    EXPECT_EQ(client->settings.willTopic, PUBLISHER);
    EXPECT_EQ(client->settings.keepAliveSeconds, 240);
    createError = "bad URI";
    start();
    EXPECT_EQ(startError, "bad URI");
}

TEST_F(Publishing, TheFirstConnectionOfAConfigurationStartsACleanSessionAndKeepsWhatIsQueued) {
    char made[] = "/tmp/ostrel-core-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    folder = made;
    struct Step {
        std::string clientId;
        const char* steps;
        std::vector<bool> cleanStarts;
        std::string last;      // the start of what it says last
        std::size_t restored;  // of the run before
    };
    for (const Step& s : {
             Step{"car7",
                  "C O:0 O:1000:1 E",
                  {true},
                  "2 readings not delivered yet are kept in ",
                  0},
             // The same configuration: its session goes on, and what the last run kept goes.
             Step{"car7", "C A E", {false}, "connected to " + BROKER, 2},
             // Another client id: a session of its own, clean.
             Step{"car8",
                  "C E",
                  {true},
                  "connected to " + BROKER + " (a clean session, the first of this configuration)",
                  0},
             // Another program's subscription in ours: the next connection is clean.
             Step{"car8",
                  "C G:# T:0 C",
                  {false, true},
                  "connected to " + BROKER + " (a clean session, the first of this configuration)",
                  0},
         }) {
        SCOPED_TRACE(s.steps);
        start([&](MqttConfig& config) { config.clientId = s.clientId; });
        play(s.steps);
        EXPECT_EQ(client->cleanStarts, s.cleanStarts);
        EXPECT_EQ(said.back().substr(0, s.last.size()), s.last);
        EXPECT_EQ(core->queue()->restored(), s.restored);
    }
    core.reset();
    std::filesystem::remove_all(folder);
}

TEST_F(Publishing, AvailabilityIsRetainedAndSentOnlyWhenTheBrokerHoldsAnotherOne) {
    struct Case {
        const char* steps;
        Lines sim1, publisher;
    };
    for (const Case& c : {
             Case{"C:1 O:0 O:1000 O:2000", {"online"}, {"online"}},
             Case{"C:1 S:0 S:1000 O:2000 S:3000 O:4000",
                  {"offline", "online", "offline", "online"},
                  {"online"}},
             Case{"C:1 O:0 X:1000 O:2000",
                  {"online", "offline"},
                  {"online"}},  // forgotten once lost
             Case{"C:1 O:0 U O:2000", {"online", "offline"}, {"online"}},
             // Offline meanwhile: only what the broker does not hold yet.
             Case{"O:0 C:1 L:x S:1000 O:2000 C:1", {"online"}, {"online", "online"}},
             Case{"C:1 O:0 L:x S:1000 C:1", {"online", "offline"}, {"online", "online"}},
             // A broker that lost our session lost its retained messages too.
             Case{"C:1 O:0 L:x C:0", {"online", "online"}, {"online", "online"}},
         }) {
        SCOPED_TRACE(c.steps);
        start();
        play(c.steps);
        EXPECT_EQ(client->on(STATUS), c.sim1);
        EXPECT_EQ(client->on(PUBLISHER), c.publisher);
        for (const Sent& sent : client->sent) {
            EXPECT_EQ(sent.retained, sent.topic != STATE && sent.topic != HISTORY) << sent.topic;
        }
        EXPECT_TRUE(client->subscribed.empty()) << "no Home Assistant to listen to";
    }
}

TEST_F(Publishing, ARunOnASessionTheBrokerKeptSendsNoDiscoveryItAlreadyHolds) {
    char made[] = "/tmp/ostrel-core-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    folder = made;
    struct Run {
        const char* steps;  // one run of the publisher on the same store, ended with E
        std::size_t discoveries;
    };
    for (const Run& r : {
             Run{"C O:0 A", 1},         // the first: a clean session
             Run{"C:1 O:0 O:1000", 0},  // the broker kept it all
             Run{"C:1 O:0 L:x C:1 O:1000", 0},
             Run{"C:0 O:0", 1},         // it lost our session: again, and not yet acknowledged
             Run{"C:1 O:0 A", 1},       // so again, till it is
             Run{"C:1 O:0 B T:0", 1},   // Home Assistant asks
             Run{"C:1 O:0:0:22 A", 1},  // another firmware
             Run{"C:1 O:0:0:22", 0},
             Run{"C:1 O:0 L:x C:1 A", 2},  // lost in flight: again on the next connection
             Run{"C:1 O:0", 0},
         }) {
        SCOPED_TRACE(r.steps);
        start([](MqttConfig& config) { config.homeAssistant = true; });
        play(std::string(r.steps) + " E");
        EXPECT_EQ(client->on(DISCOVERY).size(), r.discoveries);
    }
    std::filesystem::remove_all(folder);
    folder.clear();
}

TEST_F(Publishing, DiscoveryGoesWithTheFirstAnswerANewFirmwareAndAfterTheBirthMessage) {
    struct Case {
        double spread;  // of the 3 s
        const char* steps;
        Lines topics;  // what the last step published
    };
    for (const Case& c : {
             Case{0, "C:1 O:0", {DISCOVERY, STATUS, STATE}},  // before what it describes
             Case{0, "C:1 O:0 O:1000", {}},
             Case{0, "C:1 O:0 O:1000:0:22", {DISCOVERY, STATE}},
             Case{0, "O:0 C:1", {PUBLISHER, STATUS, DISCOVERY, STATE}},  // owed till connected
             Case{0, "C:1 O:0 B T:0", {DISCOVERY, STATUS, STATE}},
             Case{0.5, "C:1 O:0 B T:1499", {}},
             Case{0.5, "C:1 O:0 B T:750 B T:1500", {DISCOVERY, STATUS, STATE}},  // not put off
             Case{1, "C:1 O:0 S:100 B T:3100", {DISCOVERY, STATUS}},  // offline again, no state
             Case{1, "C:1 B T:3000", {}},                             // nothing before an answer
             Case{0, "C:1", {PUBLISHER}},
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
    EXPECT_TRUE(core->subscribed("homeassistant/status"));
    EXPECT_FALSE(core->subscribed("ostrel/#"));
    start();
    EXPECT_FALSE(core->isBirth("homeassistant/status", "online")) << "without Home Assistant";
}

// What SQLite has of the store in `file`: its pages, those of them free, and its bytes on disk
// with its write-ahead log and the log's index.
struct OnDisk {
    long long pages = -1, free = -1;
    std::uintmax_t bytes = 0;
};
OnDisk onDisk(const std::string& file) {
    OnDisk disk;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        for (auto [pragma, into] : {std::pair{"PRAGMA page_count", &disk.pages},
                                    std::pair{"PRAGMA freelist_count", &disk.free}}) {
            sqlite3_stmt* statement = nullptr;
            if (sqlite3_prepare_v2(db, pragma, -1, &statement, nullptr) == SQLITE_OK &&
                sqlite3_step(statement) == SQLITE_ROW) {
                *into = sqlite3_column_int64(statement, 0);
            }
            sqlite3_finalize(statement);
        }
    }
    sqlite3_close(db);
    std::error_code error;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const auto size = std::filesystem::file_size(file + suffix, error);
        disk.bytes += error ? 0 : size;
    }
    return disk;
}

TEST_F(Publishing, AWeekOfflineKeepsTheBoundOnDiskAndInMemoryAndSendsTheSurvivorsOnce) {
    // Every reading is a durable commit: on tmpfs, so that a week takes seconds.
    const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string made = base + "/ostrel-week-XXXXXX";
    ASSERT_NE(mkdtemp(made.data()), nullptr);
    folder = made;
    constexpr long long MINUTE = 60000, DAY = 24 * 60 * MINUTE, WEEK = 7 * DAY;
    struct Case {
        const char* what;
        double hours, megabytes;
    };
    for (const Case& c : {
             Case{"a day of readings", 24, 16},
             Case{"a megabyte", 168, 1},
         }) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        start([&](MqttConfig& config) {
            config.intervalSeconds = 60;  // a reading a minute, each one published
            config.bufferHours = c.hours;
            config.bufferMegabytes = c.megabytes;
        });
        const ReadingQueue& queue = *core->queue();
        const std::uint64_t bound = static_cast<std::uint64_t>(c.megabytes * 1024 * 1024);
        std::vector<OnDisk> days;
        std::vector<std::size_t> held;
        std::size_t attempts = 0;
        for (long long at = 0; at < WEEK; at += MINUTE) {
            play("O:" + std::to_string(at) + " T:" + std::to_string(at));
            if (client->connects.size() > attempts) {
                attempts = client->connects.size();
                play("F:unreachable");
            }
            ASSERT_LE(queue.size(), queue.limit());
            ASSERT_LE(queue.bytes(), bound);
            if ((at + MINUTE) % DAY == 0) {
                days.push_back(onDisk(queue.path()));
                held.push_back(queue.size());
                EXPECT_EQ(queue.unkept(), 0U);
                EXPECT_EQ(queue.undeleted(), 0U);
                std::printf(
                    "[ figures  ] %s, day %zu: %zu readings, %llu bytes held; "
                    "%lld pages, %lld free, %ju bytes on disk\n",
                    c.what, days.size(), queue.size(),
                    static_cast<unsigned long long>(queue.bytes()), days.back().pages,
                    days.back().free, days.back().bytes);
            }
        }
        // Full within three days, then flat: the store reuses what the dropped readings freed,
        // and the log is checkpointed before it outgrows its share.
        for (std::size_t day = 0; day < days.size(); ++day) {
            EXPECT_LE(days[day].bytes, bound) << day;
            if (day >= 2) {
                EXPECT_EQ(held[day], held[2]) << day;
                EXPECT_EQ(days[day].pages, days[2].pages) << day;
                EXPECT_LE(days[day].free, 4) << day;
            }
        }
        EXPECT_TRUE(client->sent.empty());
        const std::string full = "the buffer is full (" + std::to_string(queue.limit()) +
                                 " readings or its megabytes): the oldest are dropped to make room";
        EXPECT_EQ(said, (Lines{said.front(),
                               "cannot connect to " + BROKER +
                                   ": unreachable; trying again, less often each time (at most "
                                   "90 s apart)",
                               full}));

        // Back: what the buffer held goes, the oldest first, once each, and the drops are told.
        const std::size_t survivors = queue.size();
        const std::uint64_t dropped = static_cast<std::uint64_t>(WEEK / MINUTE) - survivors;
        EXPECT_EQ(queue.dropped(), dropped);
        play("C");
        for (int round = 0; round < 100 && queue.size() > 0; ++round) {
            play("A");
        }
        Lines expected;
        for (long long at = WEEK - static_cast<long long>(survivors) * MINUTE; at < WEEK;
             at += MINUTE) {
            expected.push_back(ctl::utcText(takenAt(at), true));
        }
        EXPECT_EQ(stamps(), expected);
        EXPECT_EQ(queue.size(), 0U);
        play("E");  // with nothing left to say of what stays undelivered
        std::ostringstream megabytes;
        megabytes << c.megabytes;
        EXPECT_EQ(
            Lines(said.begin() + 3, said.end()),
            (Lines{"connected to " + BROKER + " (a clean session, the first of this configuration)",
                   std::to_string(dropped) +
                       " readings dropped while the broker was unreachable (the buffer "
                       "holds " +
                       std::to_string(queue.limit()) + " readings or " + megabytes.str() +
                       " MB; the oldest went first)"}));
        start([&](MqttConfig& config) { config.bufferHours = c.hours; });
        EXPECT_EQ(core->queue()->restored(), 0U) << "nothing goes twice";
    }
    core.reset();
    std::filesystem::remove_all(folder);
}

TEST_F(Publishing, AWallClockSetBackOrForwardMovesNoReadingDecidesNothingAndDropsNothing) {
    constexpr const char* BACK = "W:-3600000";  // an hour
    constexpr const char* ON = "W:90000000";    // a day and an hour: NTP corrects the RTC
    struct Case {
        const char* what;
        bool byException;
        double interval, hours;  // the buffer: hours of readings at the interval
        std::string steps;
        std::uint64_t dropped;
    };
    // Deadband 0.5 V, heartbeat 60 s, as above; 18 readings in the buffer at 0.1 s.
    for (const Case& c : {
             Case{"by exception, online", true, 10, 24,
                  std::string("C O:0 A O:1000:0:21:1 A ") + BACK + " O:30000:0:21:1 A O:59600 A " +
                      ON + " O:61000:0:21:5 A O:62000:1 A " + BACK + " O:70000 A O:119700 A",
                  0},
             Case{"by exception, buffered", true, 10, 24,
                  std::string("O:0 O:1000:0:21:1 ") + ON + " O:30000:0:21:1 O:59600 " + BACK + " " +
                      BACK + " O:61000:0:21:5 O:62000:1 O:70000 O:119700 C A A",
                  0},
             Case{"by interval, buffered across both", false, 10, 24,
                  std::string("O:0 O:10000 ") + BACK + " O:20000 O:30000 " + ON +
                      " O:40000 O:50000 " + BACK + " O:60000 C A A",
                  0},
             // A day forward drops nothing as too old: the buffer is counted, not dated...
             Case{"forward, a full buffer", false, 0.1, 0.0005,
                  "O:0 O:100 O:200 " + std::string(ON) +
                      " O:300 O:400 O:500 O:600 O:700 O:800 O:900 O:1000 O:1100 O:1200 O:1300 "
                      "O:1400 O:1500 O:1600 O:1700 C A A",
                  0},
             // ...and an hour back keeps no more than it holds.
             Case{"back, beyond the buffer", false, 0.1, 0.0005,
                  "O:0 O:100 O:200 O:300 O:400 O:500 O:600 O:700 O:800 O:900 " + std::string(BACK) +
                      " O:1000 O:1100 O:1200 O:1300 O:1400 O:1500 O:1600 O:1700 O:1800 O:1900 "
                      "O:2000 O:2100 C A A",
                  4},
         }) {
        SCOPED_TRACE(c.what);
        const auto tweak = [&](MqttConfig& config) {
            config.byException = c.byException;
            config.heartbeatSeconds = 60;
            config.intervalSeconds = c.interval;
            config.bufferHours = c.hours;
        };
        // The same steps with a wall clock that never jumps: what is published, and when.
        std::string steady;
        std::istringstream words(c.steps);
        for (std::string step; words >> step;) {
            steady += step[0] == 'W' ? "" : step + " ";
        }
        start(tweak);
        play(steady);
        Lines expected = stamps();
        ASSERT_FALSE(expected.empty());
        start(tweak);
        ownTime.clear();
        play(c.steps);
        // The same readings, in the order taken, each with its own time.
        for (std::string& stamp : expected) {
            stamp = ownTime.at(stamp);
        }
        EXPECT_EQ(stamps(), expected);
        EXPECT_EQ(core->queue()->size(), 0U);
        EXPECT_EQ(core->queue()->dropped(), c.dropped);
    }

    // An earlier run's readings, taken while the clock was a day ahead (and set back an hour
    // between them), go first, in the order taken, before this run's, which the corrected
    // clock dates earlier.
    char made[] = "/tmp/ostrel-jump-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    folder = made;
    start();
    ownTime.clear();
    play(std::string(ON) + " O:0 " + BACK + " O:10000 E");
    const Lines earlier = {ownTime.begin()->second, std::next(ownTime.begin())->second};
    ASSERT_GT(earlier[0], earlier[1]);
    start();
    ownTime.clear();
    play("O:20000 O:30000 C A A");
    EXPECT_EQ(stamps(), (Lines{earlier[0], earlier[1], ownTime.begin()->second,
                               std::next(ownTime.begin())->second}));
    EXPECT_EQ(core->queue()->size(), 0U);
    core.reset();
    std::filesystem::remove_all(folder);
}

}  // namespace

// The platform of the simulated controllers, for the parameters' jobs.
struct OnePlatform final : ctl::PlatformSource {
    explicit OnePlatform(platform::HidPlatform& given) : hid(given) {}
    platform::HidPlatform& platform(const ctl::Simulation&) override { return hid; }
    platform::HidPlatform& hid;
};

// Two simulated controllers whose parameters' and profiles' jobs the real worker performs,
// when runJobs() is called.
struct WithSimulated : Publishing {
    void SetUp() override {
        jobs = [this](ParamJob job) { waiting.push_back(std::move(job)); };
        controllers = 2;
    }
    void runJobs() {
        for (; !waiting.empty(); waiting.pop_front()) {
            core->handle({Event::Kind::ParamsDone,
                          {},
                          {},
                          0,
                          {},
                          std::make_shared<const ParamDone>(
                              ParamWorker::perform(context, sims, waiting.front()))});
        }
    }

    platform::SimHidPlatform sims;
    const std::vector<std::unique_ptr<sim::SimulatedOstrel>> simulated =
        plugSimControllers(sims, 2, false);
    OnePlatform source{sims};
    std::istringstream in;
    std::ostringstream out, err;
    const std::atomic<bool> interrupted{false};
    ctl::CommandContext context{{in, out, err, nullptr}, source, {}, interrupted};
    std::deque<ParamJob> waiting;
};

TEST_F(WithSimulated, TakesASetMessageAsSetDoesAndAnswersOnItsResultTopic) {
    start([](MqttConfig& config) { config.parameters = true; });
    play("C:0 O:0");
    runJobs();
    const std::string delay = "ostrel/car7/sim-1/param/delay-before-psu-startup";
    ASSERT_EQ(client->on(delay).size(), 1U);
    EXPECT_NE(client->on(delay)[0].find(R"("raw":5,"text":"5","unit":"[s]")"), std::string::npos);
    EXPECT_EQ(client->subscribed, Lines{}) << "writes are off";

    start([](MqttConfig& config) { config.parameters = config.writes = true; });
    play("C:0 O:0");
    runJobs();
    EXPECT_EQ(client->subscribed, Lines{"ostrel/car7/+/param/+/set"});
    std::optional<platform::ClaimResult> held;
    struct Case {
        std::string topic;  // under ostrel/car7/
        std::string payload;
        bool retained;
        std::string result;  // its start
        int stored;          // the delay sim-1 holds after it
    };
    const std::string set = "sim-1/param/delay-before-psu-startup/set";
    for (const Case& c : {
             Case{set, "9", false, "ok", 9},
             Case{set, "300", false,
                  R"(Delay before PSU startup takes 0 to 255 [s]; "300" is outside)", 9},
             Case{set, "abc", false,
                  R"(Delay before PSU startup takes a number from 0 to 255 [s]; "abc" is not one)",
                  9},
             Case{set, "12,5", false,
                  R"(Delay before PSU startup takes a number from 0 to 255 [s]; "12,5" is not one)",
                  9},
             Case{set, "", false, "Delay before PSU startup takes a number", 9},
             Case{set, std::string(1 << 20, '7'), false, "not written: the value is longer than 64",
                  9},
             Case{set, "\xff\xfe", false, "not written: the value is not plain UTF-8", 9},
             Case{set, "1\n", false, "not written: the value is not plain UTF-8", 9},
             // Left retained on the broker: it would be written at every subscription.
             Case{set, "7", true, "not written: a retained set message is not acted on", 9},
             Case{"sim-9/param/delay-before-psu-startup/set", "7", false,
                  "not written: no controller at sim-9 on car7", 9},
             Case{"sim-1/param/delay/set", "7", false,
                  R"(not written: no parameter is named "delay")", 9},
             Case{"sim-1/param/reset-to-factory-defaults/set", "reset", false,
                  "not written: the factory reset is not taken", 9},
             Case{"sim-1/param/off-delay-mode-1/set", "00:10:00", false, "ok", 9},
             Case{"held", "8", false, "the controller is in use by ostrelctl (pid ", 9},
             Case{set, "8", false, "ok", 8},
         }) {
        SCOPED_TRACE(c.topic + " " + c.payload.substr(0, 10));
        const std::string topic = "ostrel/car7/" + (c.topic == "held" ? set : c.topic);
        if (c.topic == "held") {
            held = sims.claim(simulated[0]->path().c_str(), "ostrelctl");
        }
        const std::size_t frames = simulated[0]->device().writeCount();
        clock.sleepFor(1s);  // each in a second of its own
        core->handle({Event::Kind::SetMessage, {}, topic, c.retained ? 1 : 0, c.payload, {}});
        runJobs();
        play("A");
        held.reset();
        const std::string resultTopic = topic.substr(0, topic.size() - 3) + "result";
        ASSERT_FALSE(client->on(resultTopic).empty());
        EXPECT_TRUE(client->on(resultTopic).back().starts_with(c.result))
            << client->on(resultTopic).back();
        EXPECT_EQ(simulated[0]->firmware().paramByte(0x03), c.stored);
        EXPECT_EQ(simulated[1]->firmware().paramByte(0x03), 5) << "sim-2 is not written";
        if (c.result != "ok") {
            EXPECT_EQ(simulated[0]->device().writeCount(), frames) << "nothing sent at all";
        }
    }
    EXPECT_NE(client->on(delay).back().find(R"("raw":8,"text":"8")"), std::string::npos);
    EXPECT_NE(std::find(said.begin(), said.end(), "set \"9\" from ostrel/car7/" + set + ": ok"),
              said.end());

    // A flood: three a second are taken, the rest refused with the reason.
    clock.sleepFor(1s);
    for (int i = 0; i < 5; ++i) {
        core->handle(
            {Event::Kind::SetMessage, {}, "ostrel/car7/" + set, 0, std::to_string(10 + i), {}});
    }
    runJobs();
    const Lines results = client->on("ostrel/car7/sim-1/param/delay-before-psu-startup/result");
    EXPECT_EQ(
        Lines(results.end() - 5, results.end()),
        (Lines{"not written: more than 3 writes a second to this controller; send it again later",
               "not written: more than 3 writes a second to this controller; send it again later",
               "ok", "ok", "ok"}));
    EXPECT_EQ(simulated[0]->firmware().paramByte(0x03), 12);
    EXPECT_EQ(std::count_if(said.begin(), said.end(),
                            [](const std::string& line) {
                                return line.find("more than 3 writes") != std::string::npos;
                            }),
              1)
        << "a flood is said once";
}

// A profile with one value, the delay, of firmware MAJOR.2 (the other family: the simulated
// controllers here run 2.1); `extra`: more of the top level.
std::string delayProfile(int delay, int major = 1, const std::string& extra = "") {
    return R"({"format":"ostrel-backup","formatVersion":1,"firmware":{"major":)" +
           std::to_string(major) + R"(,"minor":2},)" + extra +
           R"("parameters":[{"row":3,"address":3,"name":"Delay before PSU startup","raw":)" +
           std::to_string(delay) + "}]}";
}

// Profiles on the vehicle's topic and a group's, each content written once to every
// controller with the station's rules and reported retained; what is no profile is refused in
// the report with nothing written; a held controller gets it once it is free; a restart on
// the same store writes nothing again.
TEST_F(WithSimulated, AppliesEachProfileOnceAndReportsWhatCameOfIt) {
    char made[] = "/tmp/ostrel-profile-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    folder = made;
    const auto configure = [](MqttConfig& config) {
        config.profiles = true;
        config.groups = {"north"};
    };
    start(configure);
    play("C:0");
    EXPECT_EQ(client->subscribed, (Lines{"ostrel/groups/north/profile", "ostrel/car7/profile"}));
    const std::string own = "ostrel/car7/profile";
    const std::string group = "ostrel/groups/north/profile";
    const std::string voltage =  // Ignition HIGH limit, which the other family measures apart
        R"({"format":"ostrel-backup","formatVersion":1,"firmware":{"major":1,"minor":2},)"
        R"("parameters":[{"row":0,"address":0,"name":"Ignition HIGH limit","raw":100}]})";
    std::optional<platform::ClaimResult> held;
    struct Case {
        std::string topic;
        std::string payload;
        std::size_t reports;  // new reports on sim-1's topic
        std::string reason;   // the last one's start; empty: PASS
        int delay;            // what sim-1 holds after it
    };
    for (const Case& c : {
             Case{own, delayProfile(9), 1, "", 9},
             // Handed out again (a new subscription): done already.
             Case{own, delayProfile(9), 0, "", 9},
             Case{own, "{", 1, "not a backup file: not JSON (it fails at byte 2); nothing", 9},
             Case{own, R"({"format":"other-backup"})", 1,
                  R"(not a backup file: "format" must be "ostrel-backup"; nothing written)", 9},
             Case{own,
                  R"({"format":"ostrel-backup","formatVersion":1,"firmware":{"major":1,)"
                  R"("minor":2},"parameters":[{"row":3,"address":3,"name":"Delay before PSU )"
                  R"(startup","raw":7},{"row":3,"address":3,"name":"Delay before PSU startup",)"
                  R"("raw":8}]})",
                  1, "parameters[1]", 9},
             Case{own, delayProfile(7, 1, R"("convert":"yes",)"), 1,
                  R"("convert" must be true or false; nothing written)", 9},
             Case{own, std::string(100 * 1024, ' '), 1, "not a backup file: longer than 64 KB", 9},
             Case{group, voltage, 1, "firmware 2.1 cannot hold exactly Ignition HIGH limit", 9},
             Case{group, voltage.substr(0, voltage.size() - 1) + R"(,"convert":true})", 1, "", 9},
             // Held by another program: tried again once it is free.
             Case{"held", delayProfile(8), 1, "", 8},
             // Taken back: what was written stays.
             Case{own, "", 0, "", 8},
         }) {
        SCOPED_TRACE(c.topic + " " + c.payload.substr(0, 40));
        const std::string report = "ostrel/car7/sim-1/profile";
        const std::size_t before = client->on(report).size();
        const std::size_t frames = simulated[0]->device().writeCount();
        if (c.topic == "held") {
            held = sims.claim(simulated[0]->path().c_str(), "ostrelctl");
        }
        core->handle(
            {Event::Kind::SetMessage, {}, c.topic == "held" ? own : c.topic, 1, c.payload, {}});
        runJobs();
        play("A");
        if (held) {
            EXPECT_EQ(client->on(report).size(), before) << "nothing while it is held";
            held.reset();
            play("O:100000");  // a reading well after the 10 s it waits
            runJobs();
            play("A");
        }
        ASSERT_EQ(client->on(report).size(), before + c.reports);
        EXPECT_EQ(simulated[0]->firmware().paramByte(0x03), c.delay);
        if (c.reports == 0) {
            continue;
        }
        const json got = json::parse(client->on(report).back());
        EXPECT_EQ(got["reason"].get<std::string>().substr(0, c.reason.size()), c.reason) << got;
        EXPECT_EQ(got["result"], c.reason.empty() ? "PASS" : "FAIL");
        EXPECT_EQ(got["profileSha256"], ctl::sha256Hex(c.payload));
        if (!c.reason.empty()) {
            EXPECT_EQ(got["written"], 0);
        }
        if (got["firmware"].is_null()) {
            EXPECT_EQ(simulated[0]->device().writeCount(), frames) << "no profile: not opened";
        }
        const json other = json::parse(client->on("ostrel/car7/sim-2/profile").back());
        EXPECT_EQ(other["profileSha256"], got["profileSha256"]) << "sim-2 has it too";
    }
    EXPECT_NE(std::find(said.begin(), said.end(),
                        "profile " + ctl::sha256Hex(delayProfile(8)).substr(0, 12) +
                            " on sim-1: the controller is in use by ostrelctl (pid " +
                            std::to_string(getpid()) +
                            "); close it or use --wait; written once "
                            "it is free"),
              said.end())
        << "said once";

    // A restart on the same store, the broker's session kept: nothing again.
    simulated[0]->firmware().setParamByte(0x03, 5);
    start(configure);
    play("C:1 O:0");
    core->handle({Event::Kind::SetMessage,
                  {},
                  group,
                  1,
                  voltage.substr(0, voltage.size() - 1) + R"(,"convert":true})",
                  {}});
    runJobs();
    EXPECT_EQ(client->on("ostrel/car7/sim-1/profile").size(), 0U);
    EXPECT_EQ(simulated[0]->firmware().paramByte(0x03), 5);
    core.reset();
    std::filesystem::remove_all(folder);
}
