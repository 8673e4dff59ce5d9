// The queue of readings on a real SQLite store in a temporary folder: what a crash, a store
// that is not ours, a full disk and the bounds leave of it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "services/mqtt/ReadingQueue.h"

namespace {

using ctl::mqtt::ReadingQueue;
using Lines = std::vector<std::string>;

class Queue : public ::testing::Test {
protected:
    void SetUp() override {
        char made[] = "/tmp/ostrel-queue-XXXXXX";
        ASSERT_NE(mkdtemp(made), nullptr);
        folder = made;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::unique_ptr<ReadingQueue> open(ReadingQueue::Limits limits = {}) {
        return std::make_unique<ReadingQueue>(
            folder, limits, [this](const std::string& line) { said.push_back(line); });
    }
    // The payloads the store holds, oldest first, as the next start finds them.
    Lines stored() {
        const auto queue = open();
        Lines payloads;
        for (const auto* reading : queue->oldest(1000, {})) {
            payloads.push_back(reading->payload);
        }
        return payloads;
    }
    // Runs `body` in a child that ends without any destructor, as a killed process does.
    static int inChild(const std::function<int()>& body) {
        const pid_t child = fork();
        if (child == 0) {
            _exit(body());
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }

    std::string folder;
    Lines said;
};

TEST_F(Queue, WhatWasCommittedSurvivesAKilledProcessAndWhatWasDeliveredDoesNot) {
    EXPECT_EQ(inChild([this] {
                  // Never closed: the process ends as a killed one does.
                  auto& queue = *new ReadingQueue(folder, {}, {});
                  queue.push("1-1", "a");
                  queue.push("1-2", "b");
                  queue.push("1-1", "c");
                  queue.remove({queue.oldest(1, {}).front()->id});
                  return queue.unkept() == 0 ? 0 : 1;
              }),
              0);
    EXPECT_EQ(stored(), (Lines{"b", "c"}));
    const auto queue = open();
    EXPECT_EQ(queue->restored(), 2U);
    EXPECT_EQ(queue->newest("1-1"), queue->oldest(2, {}).back()->id);
    queue->push("1-1", "d");
    EXPECT_GT(queue->oldest(3, {}).back()->id, queue->oldest(2, {}).back()->id) << "ids go on";
    queue->setMeta("session", "car7");
    EXPECT_EQ(queue->meta("session"), "car7");
    EXPECT_TRUE(said.empty()) << said.front();
}

TEST_F(Queue, AStoreThatIsNotOursIsSetAsideSaidAndANewOneStarted) {
    const std::string file = folder + "/readings.sqlite";
    struct Case {
        const char* what;
        std::function<void()> make;
    };
    for (const Case& c : {
             Case{"garbage", [&] { std::ofstream(file) << std::string(5000, 'x'); }},
             Case{"another program's database",
                  [&] {
                      sqlite3* db = nullptr;
                      sqlite3_open(file.c_str(), &db);
                      sqlite3_exec(db, "CREATE TABLE readings(x); INSERT INTO readings VALUES(1)",
                                   nullptr, nullptr, nullptr);
                      sqlite3_close(db);
                  }},
             Case{"ours, damaged",
                  [&] {
                      { ReadingQueue(folder, {}, {}).push("1-1", std::string(20000, 'r')); }
                      std::fstream damage(file, std::ios::in | std::ios::out | std::ios::binary);
                      damage.seekp(4096 + 100);
                      damage << std::string(3000, '\xff');
                  }},
         }) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        c.make();
        said.clear();
        const auto queue = open();
        ASSERT_EQ(said.size(), 1U);
        EXPECT_EQ(said[0].rfind("the store " + file + " cannot be read (", 0), 0U) << said[0];
        EXPECT_NE(said[0].find("): set aside as " + file + ".unreadable-"), std::string::npos);
        EXPECT_NE(said[0].find("; a new one is started"), std::string::npos);
        queue->push("1-1", "new");
        EXPECT_EQ(queue->unkept(), 0U);
        int aside = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            aside += entry.path().filename().string().find(".unreadable-") != std::string::npos &&
                     entry.path().extension() != ".sqlite-wal";
        }
        EXPECT_GE(aside, 1);
        EXPECT_EQ(stored(), Lines{"new"});
    }
}

TEST_F(Queue, AFullDiskIsSaidOnceReadingsWaitInMemoryAndGoToDiskWhenThereIsRoom) {
    // A file size limit is what a full disk is to SQLite: a write that fails.
    const int code = inChild([this] {
        std::signal(SIGXFSZ, SIG_IGN);
        Lines lines;
        auto& queue =
            *new ReadingQueue(folder, {}, [&](const std::string& line) { lines.push_back(line); });
        queue.push("1-1", "first");
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        rlimit small = limit;
        small.rlim_cur = 64 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
        for (int i = 0; i < 200; ++i) {
            queue.push("1-1", std::string(1000, 'a' + i % 26));
        }
        const std::size_t waiting = queue.unkept();
        const bool toldOnce =
            std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                return line.find("cannot write the store") == 0 &&
                       line.find("readings are kept in memory until it can be written again") !=
                           std::string::npos;
            }) == 1;
        setrlimit(RLIMIT_FSIZE, &limit);
        queue.push("1-1", "last");
        const bool toldBack = lines.back() == "the store " + folder +
                                                  "/readings.sqlite can be written again: " +
                                                  std::to_string(waiting + 1) +
                                                  " readings held in memory are kept in it now";
        return waiting > 0 && toldOnce && toldBack && queue.unkept() == 0 ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    const Lines all = stored();
    ASSERT_EQ(all.size(), 202U);
    EXPECT_EQ(all.front(), "first");
    EXPECT_EQ(all.back(), "last");
}

TEST_F(Queue, IsBoundedByCountAndBytesTheOldestGoingFirstOnDiskToo) {
    struct Case {
        ReadingQueue::Limits limits;
        std::size_t pushed, payload;
        Lines kept;
        std::uint64_t dropped;
    };
    for (const Case& c : {
             Case{{3, 1 << 20}, 5, 1, {"2", "3", "4"}, 2},
             // An eighth of the bytes is the store's own (its log, its pages' slack).
             Case{{100, 2 * (100 + 35) * 8 / 7 + 1}, 5, 100, {"3", "4"}, 3},
             // One reading always stays, however small the bound.
             Case{{100, 10}, 2, 100, {"1"}, 1},
         }) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        {
            const auto queue = open(c.limits);
            for (std::size_t i = 0; i < c.pushed; ++i) {
                queue->push("1-1", std::to_string(i) + std::string(c.payload - 1, ' '));
            }
            EXPECT_EQ(queue->dropped(), c.dropped);
        }
        Lines kept;
        for (const std::string& payload : stored()) {
            kept.push_back(payload.substr(0, payload.find(' ')));
        }
        EXPECT_EQ(kept, c.kept);
    }
}

TEST_F(Queue, AStoreOfALargerBoundIsBroughtWithinASmallerOneItsLogIncluded) {
    // Every reading is a durable commit: on tmpfs, so that a large store takes a moment.
    if (std::filesystem::is_directory("/dev/shm")) {
        std::filesystem::remove_all(folder);
        std::string made = "/dev/shm/ostrel-queue-XXXXXX";
        ASSERT_NE(mkdtemp(made.data()), nullptr);
        folder = made;
    }
    const std::string file = folder + "/readings.sqlite";
    auto onDisk = [&] {
        std::uintmax_t bytes = 0;
        for (const char* suffix : {"", "-wal", "-shm"}) {
            std::error_code error;
            const auto size = std::filesystem::file_size(file + suffix, error);
            bytes += error ? 0 : size;
        }
        return bytes;
    };
    // Killed with its log grown as a bound of 4 GB lets it.
    EXPECT_EQ(inChild([this] {
                  auto& queue = *new ReadingQueue(folder, {100000, 4096ull << 20}, {});
                  for (int i = 0; i < 5000; ++i) {
                      queue.push("1-1", std::to_string(i) + std::string(300, ' '));
                  }
                  return queue.unkept() == 0 ? 0 : 1;
              }),
              0);
    ASSERT_GT(std::filesystem::file_size(file + "-wal"), 1u << 20);
    constexpr std::uint64_t BOUND = 1 << 20;  // the least buffer_mb
    const auto queue = open({100000, BOUND});
    EXPECT_EQ(queue->restored(), 5000U);
    EXPECT_GT(queue->dropped(), 2000U);
    EXPECT_LE(onDisk(), BOUND);
    for (int i = 0; i < 4000; ++i) {
        queue->push("1-1", "new " + std::to_string(i) + std::string(300, ' '));
        ASSERT_LE(onDisk(), BOUND) << i;
    }
    EXPECT_EQ(queue->oldest(1, {}).front()->payload.rfind("new ", 0), 0U) << "the oldest went";
    EXPECT_TRUE(said.empty()) << said.front();
}

TEST_F(Queue, WithoutAFolderEverythingIsInMemoryAndSaidToBeLost) {
    ReadingQueue queue("", {}, {});
    queue.push("1-1", "a");
    EXPECT_EQ(queue.unkept(), 1U);
    EXPECT_TRUE(queue.path().empty());
    queue.setMeta("session", "x");
    EXPECT_EQ(queue.meta("session"), "");
}

}  // namespace
