// The live set of controllers on the simulated platform, once woken by the platform's
// notifications and once searching by the clock: controllers plugged in, pulled out,
// plugged in again and several at once arrive and depart once each, with their locations;
// what the search cannot see for sure changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "device/ControllerWatch.h"
#include "sim/PlugPlan.h"
#include "tests/support/WaitFor.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string text(const ControllerEvent& event) {
    return (event.kind == ControllerEvent::Kind::Arrived ? "+" : "-") + event.controller.location;
}

// The next `count` events (fewer when 10 s pass first), as "+location" and "-location",
// sorted: what the platform does in one step may reach the watch in more than one search.
std::vector<std::string> take(ControllerWatch& watch, std::size_t count) {
    std::vector<std::string> seen;
    const auto deadline = Clock::now() + 10s;
    while (seen.size() < count && Clock::now() < deadline) {
        for (const ControllerEvent& event :
             watch.next(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()))) {
            seen.push_back(text(event));
        }
    }
    std::sort(seen.begin(), seen.end());
    return seen;
}

// Nothing more within two searches' time.
bool quiet(ControllerWatch& watch) {
    return watch.next(2 * ControllerWatch::POLL_INTERVAL).empty();
}

std::vector<std::string> locations(const std::vector<HIDDescriptor>& list) {
    std::vector<std::string> result;
    for (const HIDDescriptor& item : list) {
        result.push_back(item.location);
    }
    return result;
}

class ControllerWatchTest : public ::testing::TestWithParam<bool> {
protected:
    ControllerWatchTest() { m_platform.setNotifications(GetParam()); }

    std::vector<sim::PlugStep> plan(const char* text) {
        std::string error;
        auto steps = sim::parsePlugPlan(text, error);
        EXPECT_TRUE(steps) << error;
        return steps.value_or(std::vector<sim::PlugStep>{});
    }

    platform::SimHidPlatform m_platform;
};

TEST_P(ControllerWatchTest, ArrivalsAndDeparturesByLocation) {
    sim::PlugPlanRunner runner(
        m_platform,
        plan("plug:3@0,plug:1@1,unplug:1@2,plug:1@3,plug:2@4,unplug:3@4,plug:4@4,unplug:2@5,"
             "unplug:4@5,plug:3@6,unplug:1@6"));
    runner.applyUntil(0ms);
    ControllerWatch watch(m_platform);
    EXPECT_EQ(watch.polling(), !GetParam());
    // Attached before the watch began: no arrival.
    EXPECT_EQ(locations(watch.attached()), std::vector<std::string>{"sim-3"});

    struct Step {
        std::chrono::milliseconds at;
        std::vector<std::string> events;
    };
    const Step steps[] = {
        {1s, {"+sim-1"}},
        {2s, {"-sim-1"}},
        {3s, {"+sim-1"}},                      // plugged in again
        {4s, {"+sim-2", "+sim-4", "-sim-3"}},  // several at once
        {5s, {"-sim-2", "-sim-4"}},
        {6s, {"+sim-3", "-sim-1"}},
    };
    for (const Step& step : steps) {
        runner.applyUntil(step.at);
        EXPECT_EQ(take(watch, step.events.size()), step.events) << step.at.count() << " ms";
    }
    EXPECT_TRUE(quiet(watch));
    EXPECT_EQ(locations(watch.attached()), std::vector<std::string>{"sim-3"});
}

TEST_P(ControllerWatchTest, AnEventCarriesTheControllerAsDiscoveryFoundIt) {
    sim::SimulatedOstrel other(m_platform, OSTREL_PRODUCT_ID_ALT);
    ControllerWatch watch(m_platform);
    sim::SimulatedOstrel controller(m_platform, OSTREL_PRODUCT_ID, "/dev/hidraw9", "1-1.4.2");
    // A HID device that is no controller comes and goes unreported.
    platform::SimIdentity mouse = sim::SimulatedOstrel::identity();
    mouse.vendorId = 0x046D;
    mouse.manufacturer = u"Logitech";
    mouse.product = u"USB Optical Mouse";
    m_platform.addDevice(mouse)->unplug();

    std::vector<ControllerEvent> events;
    ASSERT_TRUE(waitFor([&] {
        for (ControllerEvent& event : watch.next(100ms)) {
            events.push_back(std::move(event));
        }
        return !events.empty();
    }));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, ControllerEvent::Kind::Arrived);
    EXPECT_EQ(events[0].controller.location, "1-1.4.2");
    EXPECT_EQ(events[0].controller.path, "/dev/hidraw9");
    EXPECT_EQ(events[0].controller.productId, OSTREL_PRODUCT_ID);
    EXPECT_TRUE(quiet(watch));
    EXPECT_EQ(locations(watch.attached()), (std::vector<std::string>{"1-1.4.2", "sim-1"}));
}

TEST_P(ControllerWatchTest, ASearchThatFailsChangesNothing) {
    sim::SimulatedOstrel first(m_platform);
    sim::SimulatedOstrel second(m_platform);
    ControllerWatch watch(m_platform);
    // The set cannot be had, then the scan stops before the second interface: neither may
    // pass for the controllers being gone.
    m_platform.failScanStep(platform::SimScanStep::PresentInterfaces, 0, 5);
    first.unplug();
    first.replug();  // a new path: a departure and an arrival once a search sees it
    EXPECT_TRUE(quiet(watch));
    m_platform.clearScanFaults();
    m_platform.failScanStep(platform::SimScanStep::InterfaceAt, 1, 5);
    EXPECT_TRUE(quiet(watch));
    EXPECT_EQ(locations(watch.attached()), (std::vector<std::string>{"sim-1", "sim-2"}));

    // Once searches go through again, the change shows without a new notification.
    m_platform.clearScanFaults();
    EXPECT_EQ(take(watch, 2), (std::vector<std::string>{"+sim-1", "-sim-1"}));
    EXPECT_TRUE(quiet(watch));
}

TEST_P(ControllerWatchTest, CancelEndsAWaitFromAnotherThread) {
    ControllerWatch watch(m_platform);
    std::atomic<bool> returned{false};
    std::vector<ControllerEvent> got;
    std::thread waiter([&] {
        got = watch.next(std::chrono::hours(1));
        returned = true;
    });
    watch.cancel();
    EXPECT_TRUE(waitFor([&] { return returned.load(); }));
    waiter.join();
    EXPECT_TRUE(got.empty());
    EXPECT_TRUE(watch.cancelled());
    // And every later wait at once, changes or not.
    sim::SimulatedOstrel controller(m_platform);
    EXPECT_TRUE(watch.next(std::chrono::hours(1)).empty());
}

INSTANTIATE_TEST_SUITE_P(NotifiedAndPolling, ControllerWatchTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& each) {
                             return each.param ? "Notified" : "Polling";
                         });

// A controller being pulled out may lose its USB device (its location) a moment before its
// node, as the kernel takes them down: it departs once, as where it was, when the node goes.
TEST(ControllerWatch, AControllerThatLosesItsLocationBeforeItsNodeDepartsOnce) {
    platform::SimHidPlatform platform;
    platform.setNotifications(false);
    const auto plugged = platform.addDevice(
        sim::SimulatedOstrel::identity(OSTREL_PRODUCT_ID, "/dev/hidraw1", "2-1"));
    ControllerWatch watch(platform);
    const auto going =
        platform.addDevice(sim::SimulatedOstrel::identity(OSTREL_PRODUCT_ID, "/dev/hidraw1", ""));
    plugged->unplug();
    EXPECT_TRUE(quiet(watch));
    going->unplug();
    EXPECT_EQ(take(watch, 1), std::vector<std::string>{"-2-1"});
    EXPECT_TRUE(quiet(watch));
}

// Only the platform's word tells a controller pulled out and plugged in again at the same
// path and place between two searches from one that stayed.
TEST(ControllerWatch, AReplugAtTheSamePathIsADepartureAndAnArrival) {
    platform::SimHidPlatform platform;
    sim::SimulatedOstrel controller(platform, OSTREL_PRODUCT_ID, "/dev/hidraw4");
    ControllerWatch watch(platform);
    controller.unplug();
    controller.replug();
    ASSERT_EQ(controller.path(), "/dev/hidraw4");
    EXPECT_EQ(take(watch, 2), (std::vector<std::string>{"+sim-1", "-sim-1"}));
    EXPECT_TRUE(quiet(watch));
}

TEST(ControllerWatch, NotificationsThatBreakDownGiveWayToTheClock) {
    platform::SimHidPlatform platform;
    ControllerWatch watch(platform);
    ASSERT_FALSE(watch.polling());
    platform.failWatches();
    EXPECT_TRUE(watch.next(0ms).empty());
    EXPECT_TRUE(watch.polling());
    sim::SimulatedOstrel controller(platform);
    EXPECT_EQ(take(watch, 1), std::vector<std::string>{"+sim-1"});
}

}  // namespace
