// README.md's shell sessions, run as a reader would run them: every command on the program
// built beside this test and on simulated controllers, in the README's order, in one folder
// of their own, so that a file one command writes is there for the next.
//
// What README.md holds to: a code block is fenced and names its kind (console, text, json
// or bat). In a console block a line starting "$ " is a command, the lines after it what it
// prints. A command runs unless its comment says "needs: ..." (what a test machine lacks:
// root, a broker, a real controller, a display), with --simulated after each ostrelctl that
// picks no simulation of its own, and must end with the status its comment names ("exit
// N"), else 0. One whose comment says "until Ctrl-C", or whose output shows ^C, gets SIGINT
// once it has written something.
//
// In prose, a code span that is a command (a program's name, then more: `ostrelctl status`,
// `sudo systemctl restart x`) is no session, so it must be typed, the same, on a "$ " line,
// which runs it or names what it needs. A program's name alone, an option or a fragment
// (`ostrelctl`, `--log FILE`, `get --json`) is no command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX's kill
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

// NOLINTNEXTLINE(readability-redundant-declaration): POSIX leaves it to the program.
extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Block {
    int line = 0;  // the opening fence's
    std::string kind;
    std::vector<std::string> lines;
};

struct Span {
    int line = 0;  // where it starts
    std::string text;
};

struct Readme {
    std::vector<Block> blocks;
    std::vector<Span> spans;          // the code spans of the prose
    std::vector<std::string> faults;  // code the rule cannot see, with its line
};

// The code spans of a line of prose, one left open going on from the last line (Markdown
// joins its lines with a space).
void addSpans(Readme& readme, const std::string& text, int number, bool& spanOpen) {
    std::size_t from = 0;
    for (std::size_t tick; (tick = text.find('`', from)) != std::string::npos; from = tick + 1) {
        if (spanOpen) {
            readme.spans.back().text += text.substr(from, tick - from);
        } else {
            readme.spans.push_back({number, ""});
        }
        spanOpen = !spanOpen;
    }
    if (spanOpen) {
        readme.spans.back().text += text.substr(from) + " ";
    }
}

Readme readReadme() {
    std::ifstream file(OSTREL_README);
    Readme readme;
    bool open = false;
    bool spanOpen = false;
    std::size_t indent = 0;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        const std::size_t first = std::min(line.find_first_not_of(' '), line.size());
        const std::string text = line.substr(first);
        if (text.empty() || text.starts_with("```")) {
            spanOpen = false;  // a span ends with its paragraph
        }
        if (text.starts_with("```")) {
            open = !open;
            if (open) {
                readme.blocks.push_back({number, text.substr(3), {}});
                indent = first;
            }
        } else if (open) {
            readme.blocks.back().lines.push_back(line.substr(std::min(indent, first)));
        } else if (first >= 4 && (text.starts_with("$ ") || text.starts_with("ostrelctl "))) {
            readme.faults.push_back(std::to_string(number) + ": a command outside a fence");
        } else {
            addSpans(readme, text, number, spanOpen);
        }
    }
    if (open) {
        readme.faults.push_back(std::to_string(readme.blocks.back().line) + ": a fence not closed");
    }
    return readme;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? ""
                                      : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

struct Command {
    int line = 0;  // in README.md
    std::string typed;
    std::string comment;
    bool ctrlC = false;
};

// What is typed and its comment: from the first '#' that starts a word outside quotes, as
// the shell reads it.
std::pair<std::string, std::string> splitComment(const std::string& line) {
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (quote != 0) {
            if (line[i] == quote) {
                quote = 0;
            }
        } else if (line[i] == '\'' || line[i] == '"') {
            quote = line[i];
        } else if (line[i] == '#' && (i == 0 || line[i - 1] == ' ')) {
            return {trimmed(line.substr(0, i)), trimmed(line.substr(i + 1))};
        }
    }
    return {trimmed(line), ""};
}

std::vector<Command> commandsOf(const Readme& readme) {
    std::vector<Command> commands;
    for (const Block& block : readme.blocks) {
        if (block.kind != "console") {
            continue;
        }
        const std::size_t before = commands.size();
        for (std::size_t i = 0; i < block.lines.size(); ++i) {
            const std::string& line = block.lines[i];
            if (line.starts_with("$ ")) {
                auto [typed, comment] = splitComment(line.substr(2));
                const bool ctrlC = comment.find("until Ctrl-C") != std::string::npos;
                commands.push_back({block.line + 1 + static_cast<int>(i), typed, comment, ctrlC});
            } else if (line == "^C" && commands.size() > before) {
                commands.back().ctrlC = true;
            }
        }
    }
    return commands;
}

// The programs a reader of the README types beside those its sessions start.
constexpr const char* PROGRAMS =
    "adduser apt apt-get cat cmake ctest debootstrap dmesg dpkg getfacl git grep id journalctl "
    "loginctl ls lsusb make man modprobe mosquitto_pub mosquitto_sub newgrp ostrel ostrel-sim "
    "ostrel.exe ostrel-sim.exe ostrelctl ostrelctl.exe promtool schtasks sudo sudoedit "
    "systemctl systemd-analyze tail udevadm";

// The words of a command line, the shell's assignments before it dropped.
std::vector<std::string> programWords(const std::string& typed) {
    static const std::regex assignment(R"(^[A-Za-z_][A-Za-z0-9_]*=.*)");
    std::istringstream in(typed);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        if (!words.empty() || !std::regex_match(word, assignment)) {
            words.push_back(word);
        }
    }
    return words;
}

// The program a line starts, as named by a path or alone.
std::string programOf(const std::vector<std::string>& words) {
    return words.empty() ? "" : fs::path(words.front()).filename().string();
}

std::string quoted(const std::string& text) {
    return "'" + std::regex_replace(text, std::regex("'"), "'\\''") + "'";
}

// Each ostrelctl the line starts (first, after a pipe or a list, inside a substitution) is
// the one built here, on one simulated controller unless the line picks its own simulation.
std::string onTheBuild(const std::string& typed) {
    static const std::regex program(R"((^|[|;&(]\s*)(?:build/default/cli/)?ostrelctl(?=\s|$))");
    static const std::regex simulation(R"(^[^|;&)]*\s--simulated(?:[=\s]|$))");
    std::string shell;
    auto from = typed.cbegin();
    for (std::sregex_iterator it(typed.begin(), typed.end(), program), end; it != end; ++it) {
        shell.append(from, (*it)[0].first).append((*it)[1].str()).append(quoted(OSTRELCTL));
        if (!std::regex_search((*it)[0].second, typed.cend(), simulation)) {
            shell += " --simulated";
        }
        from = (*it)[0].second;
    }
    return shell.append(from, typed.cend());
}

// The size of every file in the folder and below.
std::map<fs::path, std::uintmax_t> sizes(const fs::path& folder) {
    std::map<fs::path, std::uintmax_t> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[entry.path()] = entry.file_size();
        }
    }
    return files;
}

// Whether a file in the folder holds what it did not: the output of a command that writes
// to a file (one the shell only created for it is no sign that the command runs).
bool wrote(const fs::path& folder, const std::map<fs::path, std::uintmax_t>& before) {
    for (const auto& [path, size] : sizes(folder)) {
        const auto was = before.find(path);
        if (size > 0 && (was == before.end() || was->second != size)) {
            return true;
        }
    }
    return false;
}

struct Ended {
    int status = -1;  // 128 + the signal that ended it
    std::string output;
    bool late = false;
};

// Runs `shell` with bash in its own process group in `folder`, its input empty and its
// output and errors kept; with `ctrlC`, the group gets SIGINT once the command wrote
// something. Killed when it has not ended within a minute.
Ended run(const std::string& shell, const fs::path& folder, bool ctrlC) {
    Ended ended;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return ended;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> args = {"bash", "-o", "pipefail", "-c", shell};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const auto files = sizes(folder);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, "/bin/bash", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        ended.output = "bash did not start";
        return ended;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    bool interrupted = !ctrlC;
    for (;;) {
        pollfd watch{out[0], POLLIN, 0};
        if (::poll(&watch, 1, 20) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            ended.output.append(buffer, static_cast<std::size_t>(n));
        }
        if (!interrupted && (!ended.output.empty() || wrote(folder, files))) {
            ::kill(-pid, SIGINT);
            interrupted = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(-pid, SIGKILL);
            ended.late = true;
            break;
        }
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return ended;
}

TEST(Readme, EveryBlockIsFencedAndNamesItsKind) {
    const Readme readme = readReadme();
    EXPECT_EQ(readme.faults, std::vector<std::string>());
    for (const Block& block : readme.blocks) {
        SCOPED_TRACE("README.md:" + std::to_string(block.line));
        EXPECT_TRUE(block.kind == "console" || block.kind == "text" || block.kind == "json" ||
                    block.kind == "bat")
            << "a block of kind '" << block.kind << "'";
        bool commands = false;
        for (const std::string& line : block.lines) {
            commands = commands || line.starts_with("$ ");
        }
        EXPECT_EQ(commands, block.kind == "console") << "commands only in a console block";
    }
}

TEST(Readme, EveryCommandItsProseShowsIsOneOfItsSessions) {
    const Readme readme = readReadme();
    std::set<std::string> typed;
    std::istringstream names(PROGRAMS);
    std::set<std::string> programs{std::istream_iterator<std::string>(names), {}};
    for (const Command& command : commandsOf(readme)) {
        typed.insert(command.typed);
        programs.insert(programOf(programWords(command.typed)));
    }
    int shown = 0;
    std::vector<std::string> outside;
    for (const Span& span : readme.spans) {
        const std::vector<std::string> words = programWords(span.text);
        if (words.size() < 2 || !programs.contains(programOf(words))) {
            continue;
        }
        ++shown;
        if (!typed.contains(trimmed(span.text))) {
            outside.push_back(std::to_string(span.line) + ": `" + span.text + "`");
        }
    }
    EXPECT_GT(shown, 0) << "no command found in the prose: the rule sees none";
    EXPECT_EQ(outside, std::vector<std::string>())
        << "a command in prose runs nowhere: type it on a $ line of a console block, or name "
           "the program or the command's verb alone";
}

TEST(Readme, EveryCommandOfItsSessionsRunsAsItSays) {
    const std::vector<Command> commands = commandsOf(readReadme());
    ASSERT_FALSE(commands.empty());
    const fs::path folder =
        fs::temp_directory_path() / ("ostrel-readme-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::regex exitStatus(R"(^exit (\d+)\b)");
    int skipped = 0;
    for (const Command& command : commands) {
        SCOPED_TRACE("README.md:" + std::to_string(command.line) + ": " + command.typed);
        if (command.comment.starts_with("needs: ")) {
            ++skipped;
            continue;
        }
        EXPECT_FALSE(command.typed.starts_with("sudo ")) << "root is a need to name";
        std::smatch named;
        const int expected =
            std::regex_search(command.comment, named, exitStatus) ? std::stoi(named[1].str()) : 0;
        const std::string shell = onTheBuild(command.typed);
        const Ended ended = run(shell, folder, command.ctrlC);
        EXPECT_FALSE(ended.late) << "still running after a minute: " << shell;
        EXPECT_EQ(ended.status, expected) << shell << "\n" << ended.output;
    }
    std::cout << "README.md: " << commands.size() - static_cast<std::size_t>(skipped)
              << " commands run, " << skipped << " marked with what they need\n";
    fs::remove_all(folder);
}

}  // namespace
