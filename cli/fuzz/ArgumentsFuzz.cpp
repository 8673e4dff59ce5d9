// libFuzzer: any bytes as the argument vector of ostrelctl (the words split at NUL bytes),
// through the real parser, the choice of controllers and the command, against none, one or
// two simulated controllers (the input's length chooses) beside a device that is no
// controller. Besides what the sanitizers catch, it stops on an outcome the program must never
// have:
// - an exit status outside the table, or a failure without a line on standard error;
// - a line the parser refuses (CLI11 throws while parsing it alone, help and version included)
//   for which the HID system was asked for at all, or which did not end with the parser's own
//   exit status;
// - a line the parser as the program builds it (a verb's options defined once the parser meets
//   the verb) takes or refuses otherwise than with every verb's options defined;
// - exit status 1 (bad usage or input) after a parameter was written to a controller.
// The console's input is a backup of a controller whose values differ from the factory's, so
// that "restore -" and "diff -" get as far as writing and comparing.
// Words are kept away from the files of this machine: '/' and '\' become '_', so that every
// FILE is a name in the folder the fuzzer runs in, which is emptied after each input and so
// must be a scratch folder of its own (scripts/fuzz-arguments.sh makes one).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/Ostrelctl.h"
#include "cli/commandline/CommandLine.h"
#include "cli/tests/RunOstrelctl.h"
#include "device/OstrelIdentity.h"
#include "device/Wire.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"

namespace {

constexpr std::size_t MAX_WORDS = 24;
constexpr const char* SCRATCH_PREFIX = "ostrelctl-arguments-scratch";

// The HID system of `count` controllers, which records whether the program asked for it.
class Fixture final : public ctl::PlatformSource {
public:
    explicit Fixture(int count) {
        m_platform.setRealSleep(false);
        for (int i = 0; i < count; ++i) {
            // Paths without '/', which the words cannot hold.
            m_controllers.push_back(std::make_unique<sim::SimulatedOstrel>(
                m_platform, OSTREL_PRODUCT_ID, "sim-hidraw" + std::to_string(i)));
        }
        platform::SimIdentity mouse;
        mouse.path = "mouse";
        mouse.location = "3-1";
        mouse.vendorId = 0x1234;
        m_platform.addDevice(mouse);
    }

    platform::HidPlatform& platform(const ctl::Simulation&) override {
        m_asked = true;
        return m_platform;
    }

    void reset() {
        m_asked = false;
        for (const auto& controller : m_controllers) {
            controller->firmware().restoreFactoryDefaults();
            controller->firmware().clearLog();
        }
        for (const auto& device : m_platform.devices()) {
            device->clearWrites();
        }
    }

    bool asked() const { return m_asked; }

    bool wroteParameters() const {
        for (const auto& device : m_platform.devices()) {
            for (const auto& frame : device->writes()) {
                if (frame.size() > 1 && frame[0] == CMD_PARAM && frame[1] == PARAM_WRITE) {
                    return true;
                }
            }
        }
        return false;
    }

    bool wroteAnything() const {
        for (const auto& device : m_platform.devices()) {
            if (device->writeCount() > 0) {
                return true;
            }
        }
        return false;
    }

private:
    platform::SimHidPlatform m_platform;
    std::vector<std::unique_ptr<sim::SimulatedOstrel>> m_controllers;
    bool m_asked = false;
};

// Aborts, naming the line of the broken rule, so that a finding says which one it is.
void require(bool condition, int line = __builtin_LINE()) {
    if (!condition) {
        std::fprintf(stderr, "ArgumentsFuzz.cpp:%d: the rule there does not hold\n", line);
        std::abort();
    }
}

// The exit status of the parser alone on `words`: -1 when it takes them, else the status
// CLI11 gives its refusal (0 for --help and --version).
int parserRefusal(const std::vector<std::string>& words, ctl::CommandLine::Definitions defined) {
    std::vector<const char*> argv{"ostrelctl"};
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    ctl::CommandLine line(defined);
    try {
        line.app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError& error) {
        return error.get_exit_code() == 0 ? ctl::EXIT_OK : ctl::EXIT_USAGE;
    }
    return -1;
}

// The folder the fuzzer runs in, when its name says it is a scratch folder; else it stops.
std::filesystem::path scratchFolder() {
    const std::filesystem::path here = std::filesystem::current_path();
    if (!here.filename().string().starts_with(SCRATCH_PREFIX)) {
        std::fprintf(stderr, "run me in a folder named %s... (its files are deleted)\n",
                     SCRATCH_PREFIX);
        std::exit(2);
    }
    return here;
}

// A backup, by the program itself, of a controller with two values off the factory's.
std::string backupText(Fixture& fixture, const std::atomic<bool>& interrupted) {
    for (const std::vector<std::string>& line :
         std::vector<std::vector<std::string>>{{"set", "0x03", "9"}, {"set", "min-temp", "-5"}}) {
        require(runOstrelctlLine(line, fixture, interrupted).code == ctl::EXIT_OK);
    }
    const RunResult backup = runOstrelctlLine({"backup", "-"}, fixture, interrupted);
    require(backup.code == ctl::EXIT_OK);
    fixture.reset();
    return backup.out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixtures[] = {Fixture(0), Fixture(1), Fixture(2)};
    static const std::filesystem::path scratch = scratchFolder();
    // Ctrl-C as pressed before the start for a line that may name a command that runs until
    // it (status --watch, station, mqtt): it ends after its first round. Never for the others,
    // which would then stop before their first write.
    static std::atomic<bool> pressed{true};
    static std::atomic<bool> notPressed{false};
    static const std::string input = backupText(fixtures[1], notPressed);

    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0') {
            words.emplace_back();
        } else {
            words.back() += c == '/' || c == '\\' ? '_' : c;
        }
    }
    if (size == 0) {
        words.clear();
    }
    if (words.size() > MAX_WORDS) {
        return -1;  // not worth keeping: the parser's work grows with the words, not its paths
    }

    const bool untilCtrlC = std::any_of(words.begin(), words.end(), [](const std::string& word) {
        return word.find("watch") != std::string::npos ||
               word.find("station") != std::string::npos || word.find("mqtt") != std::string::npos;
    });
    const std::atomic<bool>& interrupted = untilCtrlC ? pressed : notPressed;
    Fixture& fixture = fixtures[size % 3];
    fixture.reset();
    const int refusal = parserRefusal(words, ctl::CommandLine::Definitions::Every);
    require(parserRefusal(words, ctl::CommandLine::Definitions::Named) == refusal);
    const RunResult result = runOstrelctlLine(words, fixture, interrupted, input);

    require((result.code >= ctl::EXIT_OK && result.code <= ctl::EXIT_DIFFERS) ||
            (untilCtrlC && result.code == ctl::EXIT_INTERRUPTED));
    require(result.code == ctl::EXIT_OK || !result.err.empty());
    require(result.err.empty() || result.err.back() == '\n');
    if (refusal >= 0) {
        // As the parser says, or refused where the parser alone would show the help: a line
        // that also holds a word that is no command is refused before --help is looked at.
        require(result.code == refusal || result.code == ctl::EXIT_USAGE);
        require(!fixture.asked() && !fixture.wroteAnything());
    }
    if (result.code == ctl::EXIT_USAGE) {
        require(!fixture.wroteParameters());
    }
    // The help shows only where a word asks for it: one that only begins like -h never does.
    const auto end = std::find(words.begin(), words.end(), "--");
    if (std::none_of(words.begin(), end, [](const std::string& word) {
            return word == "-h" || word == "--help" || word == "--help-all";
        })) {
        require(result.out.find("Usage: ostrelctl") == std::string::npos);
    }

    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(scratch, error)) {
        std::filesystem::remove_all(entry.path(), error);
    }
    return 0;
}
