// Status questions to several controllers at once: they are asked together, not one after
// the other, and a silent or vanished controller spoils nobody else's answer.
#include <condition_variable>
#include <mutex>
#include <set>

#include "cli/tests/CtlFixture.h"
#include "core/readings/StatusOfAll.h"
#include "device/HIDDevices.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::unique_ptr<HIDDescriptor>> attached(platform::HidPlatform& platform) {
    HIDDevices devices(platform, nullptr);
    return findAllOstrels(devices);
}

std::vector<const HIDDescriptor*> pointers(
    const std::vector<std::unique_ptr<HIDDescriptor>>& list) {
    std::vector<const HIDDescriptor*> result;
    for (const auto& item : list) {
        result.push_back(item.get());
    }
    return result;
}

// Every controller's question is held until all of them have been asked: asked one after
// the other, the first would wait for the others for ever (here: for 5 s, then the frame is
// lost and `serial` says so).
TEST_F(Ctl, StatusOfAllAsksEveryControllerAtOnce) {
    constexpr int COUNT = 4;
    std::mutex mutex;
    std::condition_variable allAsked;
    std::set<int> asked;
    bool serial = false;
    for (int i = 0; i < COUNT; ++i) {
        sim::SimulatedOstrel& controller = plug();
        controller.firmware().setFirmwareVersion(i == 0 ? 0x21 : 0x11);
        filterFrames(controller, [&, i](std::span<const std::uint8_t>) {
            std::unique_lock lock(mutex);
            asked.insert(i);
            allAsked.notify_all();
            if (!allAsked.wait_for(lock, 5s, [&] { return asked.size() == COUNT; })) {
                serial = true;
                return false;
            }
            return true;
        });
    }
    const auto found = attached(m_platform);
    ctl::Controller::Options options;
    options.timeout = 10s;
    const std::vector<ctl::StatusAnswer> answers =
        ctl::askStatusOfAll(m_platform, pointers(found), options);
    ASSERT_EQ(answers.size(), std::size_t{COUNT});
    EXPECT_FALSE(serial);
    for (int i = 0; i < COUNT; ++i) {
        EXPECT_TRUE(answers[i].answered()) << i;
        EXPECT_EQ(answers[i].status.version, i == 0 ? 0x21 : 0x11) << i;
        // Each table has its own controller's factors.
        EXPECT_EQ(answers[i].table.factorsSwitched(), i == 0) << i;
    }
}

TEST_F(Ctl, StatusOfAllKeepsEachAnswerApart) {
    plug();
    sim::SimulatedOstrel& silent = plug();
    filterFrames(silent, [](auto) { return false; });
    sim::SimulatedOstrel& gone = plug();
    plug().firmware().setFirmwareVersion(0x21);
    const auto found = attached(m_platform);
    ASSERT_EQ(found.size(), 4u);
    gone.unplug();

    ctl::Controller::Options options;
    options.timeout = 200ms;
    const std::vector<ctl::StatusAnswer> answers =
        ctl::askStatusOfAll(m_platform, pointers(found), options);
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_TRUE(answers[0].answered());
    EXPECT_EQ(answers[1].found, ctl::Controller::Found::One);
    EXPECT_EQ(answers[1].outcome, ctl::Outcome::Timeout);
    EXPECT_EQ(answers[2].found, ctl::Controller::Found::Unopened);
    EXPECT_FALSE(answers[2].answered());
    EXPECT_TRUE(answers[3].answered());
    EXPECT_EQ(answers[3].status.version, 0x21);
    EXPECT_TRUE(ctl::askStatusOfAll(m_platform, {}, options).empty());
}

}  // namespace
