// Plug plans: what parses and what is refused with which words, and a plan carried out on
// the simulated platform, by a clock of the test's own and by the runner's.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/HIDDevices.h"
#include "sim/PlugPlan.h"
#include "tests/support/WaitFor.h"

namespace {

using sim::PlugAction;
using sim::PlugStep;
using std::chrono::milliseconds;

TEST(PlugPlan, ParsesIntoStepsInTimeOrder) {
    std::string error;
    const auto steps =
        sim::parsePlugPlan("plug:1@0.5,plug:2@1=SN-0001,unplug:1@3,plug:1@4=a.b_C", error);
    ASSERT_TRUE(steps) << error;
    const std::vector<PlugStep> expected = {{PlugAction::Plug, 1, milliseconds(500), ""},
                                            {PlugAction::Plug, 2, milliseconds(1000), "SN-0001"},
                                            {PlugAction::Unplug, 1, milliseconds(3000), ""},
                                            {PlugAction::Plug, 1, milliseconds(4000), "a.b_C"}};
    EXPECT_EQ(*steps, expected);

    // Written out of order; ties keep the written order, so an unplug and a plug of the
    // same controller at one time are a replug.
    const auto sorted =
        sim::parsePlugPlan("unplug:16@2.125,plug:16@0,plug:16@2.125,plug:3@0", error);
    ASSERT_TRUE(sorted) << error;
    const std::vector<PlugStep> expectedSorted = {{PlugAction::Plug, 16, milliseconds(0), ""},
                                                  {PlugAction::Plug, 3, milliseconds(0), ""},
                                                  {PlugAction::Unplug, 16, milliseconds(2125), ""},
                                                  {PlugAction::Plug, 16, milliseconds(2125), ""}};
    EXPECT_EQ(*sorted, expectedSorted);
    ASSERT_TRUE(sim::parsePlugPlan("plug:1@86400", error)) << error;
}

TEST(PlugPlan, RefusesABadPlanNamingTheItem) {
    struct Case {
        const char* plan;
        const char* said;  // in the error, beside the item itself
    };
    const Case cases[] = {
        {"", "empty item (item 1)"},
        {"plug:1@1,,plug:2@2", "empty item (item 2)"},
        {"plug:1@1,", "empty item (item 2)"},
        {"plug1@1", "\"plug1@1\" is not plug:N@SECONDS"},
        {"plug:1", "\"plug:1\" is not plug:N@SECONDS"},
        {"plug@1:1", "\"plug@1:1\" is not plug:N@SECONDS"},
        {"Plug:1@1", "action is plug or unplug"},
        {"pull:1@1", "action is plug or unplug"},
        {"plug:0@1", "controller \"0\": a number from 1 to 16"},
        {"plug:17@1", "controller \"17\""},
        {"plug:01@1", "controller \"01\""},
        {"plug:-1@1", "controller \"-1\""},
        {"plug:@1", "controller \"\""},
        {"plug:1@", "time \"\""},
        {"plug:1@-1", "time \"-1\": seconds from 0 to 86400"},
        {"plug:1@+1", "time \"+1\""},
        {"plug:1@inf", "time \"inf\""},
        {"plug:1@nan", "time \"nan\""},
        {"plug:1@1e3", "time \"1e3\""},
        {"plug:1@0x10", "time \"0x10\""},
        {"plug:1@.5", "time \".5\""},
        {"plug:1@1.", "time \"1.\""},
        {"plug:1@0.0001", "at most 3 decimals"},
        {"plug:1@86400.001", "time \"86400.001\""},
        {"plug:1@99999999999999999999", "time \"99999999999999999999\""},
        {"plug:1@ 1", "time \" 1\""},
        {"plug:1@1,plug:1@2", "\"plug:1@2\" plugs in sim-1, which is plugged in at 2 s"},
        {"unplug:2@1.5", "\"unplug:2@1.5\" pulls out sim-2, which is not plugged in at 1.5 s"},
        {"plug:2@1,unplug:2@3,unplug:2@3", "\"unplug:2@3\" pulls out sim-2, which is not"},
        {"plug:2@3,unplug:2@1", "\"unplug:2@1\" pulls out sim-2"},
        {"plug:1@1=", "serial number \"\": 1 to 126 letters"},
        {"plug:1@1=SN 1", "serial number \"SN 1\""},
        {"plug:1@1=SN\x1b", "serial number \"SN\x1b\""},
        {"plug:1@1=a=b", "serial number \"a=b\""},
        {"plug:1@1=\xC3\xBC", "serial number"},
        {"plug:1@x=SN", "time \"x\""},
        {"plug:1@1,unplug:1@2=SN", "gives a serial number to an unplug"},
    };
    const std::string longSerial = "plug:1@1=" + std::string(127, 'S');
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.push_back({longSerial.c_str(), "1 to 126 letters"});
    for (const Case& c : all) {
        std::string error;
        EXPECT_FALSE(sim::parsePlugPlan(c.plan, error)) << c.plan;
        EXPECT_NE(error.find(c.said), std::string::npos) << c.plan << "\n" << error;
    }
}

std::vector<std::string> attachedLocations(platform::SimHidPlatform& platform) {
    HIDDevices devices(platform, nullptr);
    std::vector<std::string> locations;
    for (const auto& found : findAllOstrels(devices)) {
        locations.push_back(found->location);
    }
    return locations;
}

TEST(PlugPlanRunner, PlugsControllersAtTheirPlacesAndKeepsTheirMemory) {
    platform::SimHidPlatform platform;
    std::string error;
    const auto steps = sim::parsePlugPlan("plug:2@0,plug:1@1,unplug:2@2,plug:2@3", error);
    ASSERT_TRUE(steps) << error;
    // Each made as it was asked for, once: plugged in again, it keeps what it was given.
    int prepared = 0;
    sim::PlugPlanRunner runner(platform, *steps, false, [&](sim::SimulatedOstrel& made) {
        made.firmware().setFirmwareVersion(static_cast<std::uint8_t>(0x21 + prepared++));
    });

    EXPECT_EQ(runner.applyUntil(milliseconds(0)), 1u);
    EXPECT_EQ(attachedLocations(platform), std::vector<std::string>{"sim-2"});
    EXPECT_EQ(runner.controller(1), nullptr);
    sim::SimulatedOstrel* second = runner.controller(2);
    ASSERT_NE(second, nullptr);
    const std::string firstPath = second->path();
    second->firmware().setParamByte(0x03, 0x2A);

    EXPECT_EQ(runner.applyUntil(milliseconds(999)), 0u);
    EXPECT_EQ(runner.applyUntil(milliseconds(2000)), 2u);
    EXPECT_EQ(attachedLocations(platform), std::vector<std::string>{"sim-1"});
    EXPECT_FALSE(second->plugged());
    EXPECT_FALSE(runner.finished());

    EXPECT_EQ(runner.applyUntil(milliseconds(3000)), 1u);
    EXPECT_TRUE(runner.finished());
    EXPECT_EQ(runner.controller(2), second);
    EXPECT_TRUE(second->plugged());
    EXPECT_EQ(second->location(), "sim-2");
    EXPECT_NE(second->path(), firstPath);  // a new device, as the system sees it
    EXPECT_EQ(second->firmware().paramByte(0x03), 0x2A);
    EXPECT_EQ(attachedLocations(platform), (std::vector<std::string>{"sim-1", "sim-2"}));
    EXPECT_EQ(prepared, 2);
    EXPECT_EQ(second->firmware().firmwareVersion(), 0x21);
    EXPECT_EQ(runner.controller(1)->firmware().firmwareVersion(), 0x22);
}

TEST(PlugPlanRunner, CarriesThePlanOutOnItsOwnClock) {
    platform::SimHidPlatform platform;
    std::string error;
    const auto steps = sim::parsePlugPlan("plug:1@0,plug:3@0.02,unplug:1@0.04", error);
    ASSERT_TRUE(steps) << error;
    sim::PlugPlanRunner runner(platform, *steps);
    runner.start();
    ASSERT_TRUE(waitFor([&] { return runner.finished(); }));
    EXPECT_EQ(attachedLocations(platform), std::vector<std::string>{"sim-3"});

    // Stopped before its steps are due, it leaves them undone.
    const auto later = sim::parsePlugPlan("plug:4@3600", error);
    ASSERT_TRUE(later) << error;
    sim::PlugPlanRunner waiting(platform, *later);
    waiting.start();
    waiting.stop();
    EXPECT_FALSE(waiting.finished());
    EXPECT_EQ(waiting.controller(4), nullptr);
}

}  // namespace
