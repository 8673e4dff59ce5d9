// Output files: replaced whole or written straight, never through a planted or named link to
// a file, never a FIFO or device turned into a file; concurrent writers both succeed.
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/files/OutputFile.h"
#include "cli/tests/CtlFixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

class OutputFile : public Ctl {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("ostrelctl-output-" +
                    std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        Ctl::TearDown();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }
    // How many files the folder holds: a leftover temporary file shows.
    std::ptrdiff_t files() const {
        return std::distance(fs::directory_iterator(m_folder), fs::directory_iterator());
    }
    fs::path m_folder;
};

TEST_F(OutputFile, TwoWritersOfOnePathBothSucceedAndTheFileIsAlwaysOneWhole) {
    const fs::path path = m_folder / "backup.json";
    const std::string contents[2] = {std::string(300000, 'a'), std::string(200000, 'b')};
    for (int round = 0; round < 40; ++round) {
        std::string errors[2];
        std::thread other([&] { errors[1] = ctl::writeWholeFile(path.string(), contents[1]); });
        errors[0] = ctl::writeWholeFile(path.string(), contents[0]);
        other.join();
        ASSERT_EQ(errors[0], "");
        ASSERT_EQ(errors[1], "");
        const std::string now = slurp(path);
        ASSERT_TRUE(now == contents[0] || now == contents[1]) << "round " << round;
    }
    EXPECT_EQ(files(), 1);
}

TEST_F(OutputFile, AFolderOrAMissingFolderIsAnErrorThatLeavesNothingBehind) {
    EXPECT_EQ(ctl::writeWholeFile(m_folder.string(), "x"), m_folder.string() + ": is a folder");
    const std::string missing = (m_folder / "no" / "file.json").string();
    EXPECT_EQ(ctl::writeWholeFile(missing, "x"), missing + ": its folder does not exist");
    EXPECT_EQ(files(), 0);
}

#ifdef _WIN32

// Windows makes links for administrators and in developer mode only, and Wine makes none (it
// says it did): a system that made none skips.
TEST_F(OutputFile, ANamedSymbolicLinkToAFileOrToNothingIsRefused) {
    const fs::path victim = m_folder / "victim.json";
    std::ofstream(victim) << "precious";
    const fs::path link = m_folder / "link.json";
    for (const bool dangling : {false, true}) {
        const fs::path leadsTo = dangling ? m_folder / "nowhere.json" : victim;
        const DWORD attributes = CreateSymbolicLinkW(link.c_str(), leadsTo.c_str(),
                                                     SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)
                                     ? GetFileAttributesW(link.c_str())
                                     : INVALID_FILE_ATTRIBUTES;
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            GTEST_SKIP() << "this system made no symbolic link";
        }
        EXPECT_EQ(ctl::writeWholeFile(link.string(), "x"),
                  link.string() + ": is a symbolic link (to " + leadsTo.string() +
                      (dangling ? ", which does not exist" : "") + "): name the file itself");
        EXPECT_NE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        EXPECT_EQ(slurp(victim), "precious");
        EXPECT_EQ(files(), 2) << "a temporary file was left";
        DeleteFileW(link.c_str());
    }
}

#else

TEST_F(OutputFile, ALinkPlantedAtTheOldTemporaryNameIsNeitherFollowedNorReplaced) {
    plug();
    const fs::path path = m_folder / "unit.json";
    const fs::path victim = m_folder / "victim";
    std::ofstream(victim) << "precious";
    fs::create_symlink(victim, m_folder / "unit.json.tmp");
    const mode_t mask = ::umask(027);
    const RunResult result = run({"backup", path.string()});
    ::umask(mask);
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(slurp(victim), "precious");
    EXPECT_TRUE(fs::is_symlink(m_folder / "unit.json.tmp"));
    EXPECT_EQ(nlohmann::json::parse(slurp(path))["parameters"].size(), 37u);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(files(), 3);  // the backup, the victim, the link
}

// A link the user names: one leading to a file or to nothing is refused with what it points
// to, link and target left as they were; one leading to a FIFO is written straight.
TEST_F(OutputFile, ANamedLinkToAFileOrToNothingIsRefusedAndToAFifoWrittenThrough) {
    plug();
    const fs::path victim = m_folder / "victim.json";
    const fs::path nowhere = m_folder / "nowhere.json";
    const fs::path fifo = m_folder / "fifo";
    std::ofstream(victim) << "precious";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        const char* command;
        fs::path leadsTo;
        const char* refusal;  // after the link's name; nullptr: written through
    } rows[] = {
        {"backup", victim, ": is a symbolic link (to {}): name the file itself"},
        {"metrics", victim, ": is a symbolic link (to {}): name the file itself"},
        {"backup", nowhere,
         ": is a symbolic link (to {}, which does not exist): name the file itself"},
        {"metrics", nowhere,
         ": is a symbolic link (to {}, which does not exist): name the file itself"},
        {"backup", fifo, nullptr},
    };
    for (const auto& row : rows) {
        const fs::path link = m_folder / "link";
        SCOPED_TRACE(std::string(row.command) + " to " + row.leadsTo.filename().string());
        fs::create_symlink(row.leadsTo, link);
        const int reading = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reading, 0);
        const RunResult result = row.command == std::string("backup")
                                     ? run({"backup", link.string()})
                                     : run({"metrics", "--output", link.string()});
        std::string received(1 << 16, '\0');
        const ssize_t got = ::read(reading, received.data(), received.size());
        ::close(reading);
        if (row.refusal == nullptr) {
            EXPECT_EQ(result.code, 0) << result.err;
            ASSERT_GT(got, 0);
            received.resize(static_cast<std::size_t>(got));
            EXPECT_EQ(nlohmann::json::parse(received)["parameters"].size(), 37u);
        } else {
            std::string refusal = row.refusal;
            refusal.replace(refusal.find("{}"), 2, row.leadsTo.string());
            EXPECT_EQ(result.code, 1);
            EXPECT_EQ(result.err, "ostrelctl: " + link.string() + refusal + "\n");
            EXPECT_LE(got, 0) << "the FIFO was written to";
        }
        EXPECT_EQ(fs::read_symlink(link), row.leadsTo);
        EXPECT_EQ(slurp(victim), "precious");
        EXPECT_FALSE(fs::exists(nowhere));
        EXPECT_EQ(files(), 3) << "a temporary file was left";  // victim, FIFO, link
        fs::remove(link);
    }
}

TEST_F(OutputFile, AFifoIsWrittenStraightAndARestoreReadsAPipe) {
    plug();
    const fs::path fifo = m_folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A reader that never blocks; a backup (a few kilobytes) fits in the pipe's buffer.
    const int reading = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reading, 0);
    const RunResult backup = run({"backup", fifo.string()});
    std::string received(1 << 16, '\0');
    const ssize_t got = ::read(reading, received.data(), received.size());
    ::close(reading);
    received.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    ASSERT_EQ(backup.code, 0) << backup.err;
    EXPECT_TRUE(fs::is_fifo(fifo));
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(nlohmann::json::parse(received)["parameters"].size(), 37u);

    // /dev/fd/N leading to a regular file ("backup /dev/stdout > file"): written into, the
    // file the shell opened is not replaced behind its back.
    const fs::path redirected = m_folder / "redirected.json";
    const int opened = ::open(redirected.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(opened, 0);
    const RunResult into = run({"backup", "/dev/fd/" + std::to_string(opened)});
    struct stat before {};
    struct stat after {};
    ::fstat(opened, &before);
    ::stat(redirected.c_str(), &after);
    ::close(opened);
    EXPECT_EQ(into.code, 0) << into.err;
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(nlohmann::json::parse(slurp(redirected))["parameters"].size(), 37u);

    // restore <(...): the shell passes /dev/fd/N, a pipe that may never end; refused, and
    // read as "-" instead. A FIFO nobody writes to, or a device, is refused at once instead
    // of hanging.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], received.data(), received.size()),
              static_cast<ssize_t>(received.size()));
    ::close(ends[1]);
    const RunResult piped = run({"restore", "/dev/fd/" + std::to_string(ends[0])});
    ::close(ends[0]);
    EXPECT_EQ(piped.code, 1);
    EXPECT_NE(piped.err.find(": not a regular file (a backup file, or - for the standard input)"),
              std::string::npos)
        << piped.err;
    const RunResult restore = run({"restore", "-"}, received);
    EXPECT_EQ(restore.code, 0) << restore.err;
    EXPECT_NE(restore.out.find("Restore: 37 unchanged"), std::string::npos) << restore.out;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"restore", fifo.string()},
                                                 {"diff", fifo.string()},
                                                 {"restore", "/dev/null"}}) {
        const RunResult refused = run(args);
        EXPECT_EQ(refused.code, 1) << args.front();
        EXPECT_NE(refused.err.find("not a regular file"), std::string::npos) << refused.err;
    }
}

// backup --all names its files itself, so whatever stands at those names is somebody else's:
// a link is replaced itself; a terminal, a FIFO (a write would hang without a reader) and a
// folder are refused by name and never written into; the other controllers go on.
TEST_F(OutputFile, BackupAllWritesItsMadeUpNamesOnlyOverFiles) {
    for (int i = 0; i < 4; ++i) {
        plug();
    }
    auto at = [&](int n) { return m_folder / ("ostrel-sim-" + std::to_string(n) + ".json"); };
    std::ofstream(m_folder / "victim") << "precious";
    fs::create_symlink(m_folder / "victim", at(1));
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_TRUE(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
    const int side = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);  // keeps it a terminal
    fs::create_symlink(::ptsname(terminal), at(2));
    ASSERT_EQ(::mkfifo(at(3).c_str(), 0600), 0);
    const int fifo = ::open(at(3).c_str(), O_RDONLY | O_NONBLOCK);
    fs::create_directory(at(4));

    const RunResult result = run({"--all", "backup", m_folder.string()});
    char byte = 0;
    EXPECT_EQ(::read(terminal, &byte, 1), -1) << "the terminal was written to";
    EXPECT_LE(::read(fifo, &byte, 1), 0) << "the FIFO was written to";
    for (const int fd : {side, terminal, fifo}) {
        ::close(fd);
    }
    EXPECT_EQ(result.code, 1) << result.out << result.err;
    EXPECT_EQ(slurp(m_folder / "victim"), "precious");
    EXPECT_EQ(nlohmann::json::parse(slurp(at(1)))["parameters"].size(), 37u);
    EXPECT_NE(result.out.find(at(1).string() + " was a symbolic link; the link was replaced"),
              std::string::npos);
    EXPECT_TRUE(fs::is_symlink(at(2)) && fs::is_fifo(at(3)) && fs::is_directory(at(4)));
    for (int n = 2; n <= 4; ++n) {
        EXPECT_NE(result.out.find(at(n).string() + ": not a regular file (a folder, a FIFO, a "
                                                   "device or a link to one); left as it is"),
                  std::string::npos)
            << result.out;
    }
    EXPECT_EQ(files(), 5) << "a temporary file was left";
}

// The controller is let go before the output is opened: a FIFO that nobody reads holds up
// the backup alone, and another program may take the controller meanwhile. Then a reader
// comes, or Ctrl-C ends the wait with nothing written.
TEST_F(OutputFile, ABackupWaitingForItsReaderHoldsNoClaim) {
    sim::SimulatedOstrel& controller = plug();
    const fs::path fifo = m_folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool ctrlC : {false, true}) {
        SCOPED_TRACE(ctrlC ? "Ctrl-C" : "a reader");
        controller.device().clearWrites();
        m_interrupted = false;
        RunResult backup;
        std::thread running([&] { backup = run({"backup", fifo.string()}); });
        // The status request and 37 reads sent, and the channel closed.
        for (int i = 0; i < 2000 && (controller.device().writeCount() < 38 ||
                                     controller.device().openHandles() != 0);
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // The claim goes just after the channel: free within moments, while the FIFO waits.
        platform::ClaimStatus claim = platform::ClaimStatus::Busy;
        for (int i = 0; i < 2000 && claim == platform::ClaimStatus::Busy; ++i) {
            claim = m_platform.claim(controller.path().c_str(), "ostrel").status;
            if (claim == platform::ClaimStatus::Busy) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        EXPECT_EQ(claim, platform::ClaimStatus::Held);
        if (ctrlC) {
            m_interrupted = true;
            running.join();
            EXPECT_EQ(backup.code, 130);
            EXPECT_NE(backup.err.find("fifo: no reader came before Ctrl-C; nothing written"),
                      std::string::npos)
                << backup.err;
            EXPECT_TRUE(fs::is_fifo(fifo));
            continue;
        }
        std::ifstream reader(fifo);  // the backup goes on
        const nlohmann::json received = nlohmann::json::parse(reader);
        running.join();
        EXPECT_EQ(backup.code, 0) << backup.err;
        EXPECT_EQ(received["parameters"].size(), 37u);
    }
}

#endif

}  // namespace
