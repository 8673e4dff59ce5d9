#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <vector>

#include "device/HArray.h"
#include "device/HList.h"
#include "device/HThread.h"
#include "tests/support/WaitFor.h"

namespace {

std::vector<int> contents(HList<int>& list) {
    std::vector<int> values;
    for (int* item = list.first(); item != nullptr; item = list.next()) {
        values.push_back(*item);
    }
    return values;
}

struct RemoveCase {
    const char* name;
    std::vector<int> stored;  // indexes into the items array, in order
    int removed;
    bool found;
    std::vector<int> left;
};

void PrintTo(const RemoveCase& value, std::ostream* out) {
    *out << value.name;
}

class HListRemove : public ::testing::TestWithParam<RemoveCase> {};

TEST_P(HListRemove, UnlinksFirstMatchOnly) {
    int items[4] = {0, 1, 2, 3};
    HList<int> list;
    for (int i : GetParam().stored) {
        ASSERT_TRUE(list.add(&items[i]));
    }
    EXPECT_EQ(list.remove(&items[GetParam().removed]), GetParam().found);
    EXPECT_EQ(contents(list), GetParam().left);
    EXPECT_EQ(list.count(), static_cast<int>(GetParam().left.size()));
    // The tail is right: a following add lands at the end.
    list.add(&items[3]);
    std::vector<int> expected = GetParam().left;
    expected.push_back(3);
    EXPECT_EQ(contents(list), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, HListRemove,
                         ::testing::Values(RemoveCase{"Absent", {0, 1}, 2, false, {0, 1}},
                                           RemoveCase{"FromEmpty", {}, 0, false, {}},
                                           RemoveCase{"OnlyItem", {0}, 0, true, {}},
                                           RemoveCase{"Head", {0, 1, 2}, 0, true, {1, 2}},
                                           RemoveCase{"Middle", {0, 1, 2}, 1, true, {0, 2}},
                                           RemoveCase{"Tail", {0, 1, 2}, 2, true, {0, 1}},
                                           RemoveCase{"StoredTwice", {1, 0, 1}, 1, true, {0, 1}}),
                         [](const auto& param) { return param.param.name; });

TEST(HList, EmptyIterationAndItemsOutliveTheList) {
    HList<int> list;
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.next(), nullptr);

    auto item = std::make_unique<int>(7);
    {
        HList<int> owner;
        owner.add(item.get());
        owner.add(item.get());
    }
    EXPECT_EQ(*item, 7);  // the list freed its nodes only (ASan checks the rest)
}

TEST(HList, RemovingTheItemAnIterationStandsOnSkipsToItsSuccessor) {
    int items[3] = {0, 1, 2};
    HList<int> list;
    for (int& item : items) {
        list.add(&item);
    }
    EXPECT_EQ(list.first(), &items[0]);
    ASSERT_TRUE(list.remove(&items[1]));  // the node next() would return
    EXPECT_EQ(list.next(), &items[2]);
    EXPECT_EQ(list.next(), nullptr);
}

TEST(HArray, CopiesAreDeepAndEmptyMeansNull) {
    HArray empty(0);
    HArray negative(-5);
    EXPECT_EQ(negative.length(), 0);
    EXPECT_EQ(negative.data(), nullptr);
    HArray copyOfEmpty(empty);
    EXPECT_EQ(copyOfEmpty.length(), 0);
    EXPECT_EQ(copyOfEmpty.data(), nullptr);

    HArray zeros(3);
    EXPECT_EQ(std::vector<std::uint8_t>(zeros.bytes().begin(), zeros.bytes().end()),
              std::vector<std::uint8_t>(3, 0));

    const std::uint8_t bytes[] = {1, 2, 3, 4};
    HArray original{std::span<const std::uint8_t>(bytes)};
    HArray target(10);
    target = original;
    original.data()[0] = 99;
    EXPECT_EQ(target.length(), 4);
    EXPECT_EQ(target.data()[0], 1);
    target = empty;
    EXPECT_EQ(target.length(), 0);
    EXPECT_EQ(target.data(), nullptr);
}

// A body that ignores the stop request until the test opens its gate; it holds its own
// share of the gate, as a body that may outlive its object must.
class GatedThread : public HThread {
public:
    struct Gate {
        std::atomic<bool> open{false};
        std::atomic<int> bodies{0};
    };
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();

protected:
    void run() override {
        const std::shared_ptr<Gate> own = gate;
        ++own->bodies;
        while (!own->open) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

class PollingThread : public HThread {
public:
    std::atomic<int> bodies{0};

protected:
    void run() override {
        ++bodies;
        const auto flags = this->flags();
        while (flags->running) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

TEST(HThread, StateFollowsStartAndStop) {
    PollingThread thread;
    EXPECT_TRUE(thread.stop(0));  // Idle: true at once
    EXPECT_TRUE(thread.finished());
    EXPECT_FALSE(thread.running());

    ASSERT_TRUE(thread.start());
    EXPECT_TRUE(thread.start());  // already executing: no second body
    ASSERT_TRUE(waitFor([&] { return thread.bodies == 1; }));
    EXPECT_TRUE(thread.running());
    EXPECT_TRUE(thread.stop(HThread::WAIT_FOREVER));
    EXPECT_TRUE(thread.finished());
    EXPECT_EQ(thread.bodies, 1);

    // Once the body has returned the object can be started again.
    ASSERT_TRUE(thread.start());
    ASSERT_TRUE(waitFor([&] { return thread.bodies == 2; }));
    EXPECT_TRUE(thread.stop(5000));
}

TEST(HThread, StopGivesUpOnABodyThatDoesNotEndAndLeavesItRunning) {
    GatedThread thread;
    auto gate = thread.gate;
    ASSERT_TRUE(thread.start());
    EXPECT_FALSE(thread.stop(0));
    EXPECT_FALSE(thread.stop(9));
    EXPECT_FALSE(thread.finished());
    EXPECT_FALSE(thread.running());  // Stopping
    EXPECT_TRUE(thread.start());     // still executing: nothing new
    gate->open = true;
    EXPECT_TRUE(waitFor([&] { return thread.finished(); }));
    EXPECT_EQ(gate->bodies, 1);
}

}  // namespace
