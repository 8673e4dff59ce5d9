// station: programs every controller plugged in from one profile, until Ctrl-C. Each unit on
// a thread of its own: waited for until it answers, claimed, written as restore writes
// (only what differs, each write read back), verified whole against the profile, released,
// and reported in one line, after its line of the log is on the disk.
#include "services/station/Station.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/context/ExitStatus.h"
#include "core/files/Sha256.h"
#include "core/names/ParamNames.h"
#include "core/selection/Selection.h"
#include "core/session/BackupPlan.h"
#include "core/session/Session.h"
#include "core/texts/OutsideText.h"
#include "device/ControllerWatch.h"
#include "services/station/AppendLog.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// How long the loop waits for controllers before it looks at Ctrl-C again.
constexpr std::chrono::milliseconds CTRL_C_LATENCY{100};

// What became of one unit.
struct UnitResult {
    int code = EXIT_OK;    // the exit status restore would have given it
    std::string firmware;  // empty: it never answered
    std::size_t written = 0;
    std::size_t verified = 0;
    std::vector<std::string> failedParameters;
    std::string reason;  // empty when it passed
    double seconds = 0;
    bool passed() const { return reason.empty(); }
};

// The first failure a unit's session said, without the program's name: why it stopped (the
// lines after it say what became of the rest, warnings come before it).
std::string firstFailure(const std::string& said) {
    constexpr std::string_view PREFIX = "ostrelctl: ";
    std::istringstream lines(said);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(PREFIX) && !line.starts_with("ostrelctl: warning:")) {
            return line.substr(PREFIX.size());
        }
    }
    return {};
}

class Station {
public:
    Station(CommandContext& context, const StationOptions& options, const Backup& profile,
            std::string profileSha256, AppendLog& log)
        : m_context(context),
          m_options(options),
          m_profile(profile),
          m_profileSha256(std::move(profileSha256)),
          m_log(log) {}

    ~Station() { finish(); }

    // Programs `controller` on a thread of its own.
    void arrive(const HIDDescriptor& controller) {
        Unit& unit = m_units.emplace_back();
        unit.controller = controller;
        unit.thread = std::jthread([this, &unit] {
            report(unit.controller, program(unit.controller));
            unit.done.store(true);
        });
    }

    // A device that only looks like a controller: said once, on its own line, and left
    // alone; no unit, so neither in the log nor in the count.
    void refuse(const HIDDescriptor& device, const std::string& why) {
        std::lock_guard lock(m_mutex);
        std::ostream& out = m_context.console.out;
        out << locationText(device) << "  "
            << (m_context.console.colour ? "\x1b[1;33mSKIP\x1b[0m" : "SKIP")
            << "  not a controller the station programs: " << escapeControls(why)
            << "; nothing written" << std::endl;
    }

    // Lets go of the threads of units that are done, so a day's run stays small.
    void reap() {
        m_units.remove_if([](const Unit& unit) { return unit.done.load(); });
    }

    // The log could not be written: no unit may be programmed that it cannot tell of.
    bool broken() const { return m_broken.load(); }

    // Waits for the units in progress, then says the count; the exit status.
    int finish() {
        m_units.clear();
        std::lock_guard lock(m_mutex);
        if (!m_finished) {
            m_finished = true;
            m_context.console.out << m_passed << " passed, " << m_codes.size() << " failed"
                                  << std::endl;
        }
        if (m_broken.load()) {
            return EXIT_USAGE;
        }
        return m_codes.empty() ? EXIT_OK : worstExit(m_codes);
    }

private:
    struct Unit {
        HIDDescriptor controller;
        std::atomic<bool> done{false};
        std::jthread thread;  // last: joined before the rest goes
    };

    UnitResult program(const HIDDescriptor& controller) {
        const Clock::time_point start = Clock::now();
        std::istringstream in;
        std::ostringstream out;
        std::ostringstream err;
        CommandContext own{{in, out, err, nullptr},
                           m_context.platforms,
                           m_context.global,
                           m_context.interrupted,
                           &controller,
                           nullptr,
                           true};
        UnitResult result;
        Restored restored;
        try {
            Session session(own);
            result.code = session.start();
            if (result.code == EXIT_OK) {
                result.firmware = firmwareText(session.status());
            }
            if (result.code == EXIT_OK && m_options.factoryResetFirst) {
                const ParamDef* row = nullptr;
                result.code = session.factoryReset(row);
            }
            if (result.code == EXIT_OK) {
                result.code = writeBackup(own, session, m_profile, {false, m_options.convert, true},
                                          restored);
            }
            result.written = restored.verified.size() + restored.failed.size();
            if (result.code == EXIT_OK && !restored.interrupted) {
                result.code = verify(own, session, result);
            }
            result.reason = reasonOf(result, restored, err.str());
        } catch (const std::exception& error) {
            result.code = EXIT_USAGE;
            result.reason = error.what();
        }
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return result;
    }

    // Every parameter of the profile read back once more and compared with what it gives.
    int verify(CommandContext& own, Session& session, UnitResult& result) {
        std::vector<Planned> check;
        if (const int code = planEntries(own, session, m_profile, check); code != EXIT_OK) {
            return code;
        }
        for (const Planned& item : check) {
            const ParamDef& row = session.table().row(item.row);
            if (holds(row, item.current, item.value.wanted)) {
                ++result.verified;
            } else {
                result.failedParameters.push_back(utf8(row.name));
            }
        }
        return result.failedParameters.empty() ? EXIT_OK : EXIT_TIMEOUT;
    }

    // Why the unit failed, in words for the person at the bench, with the parameters it
    // concerns; empty when it passed.
    static std::string reasonOf(UnitResult& result, const Restored& restored,
                                const std::string& said) {
        if (result.code == EXIT_OK && !restored.interrupted) {
            return {};
        }
        std::string reason;
        if (!result.failedParameters.empty()) {
            // Written, and then read back otherwise.
            reason = std::to_string(result.failedParameters.size()) +
                     " parameters do not hold the profile's values: " +
                     joinNames(result.failedParameters);
        } else if (!restored.cannotHold.empty() && result.written == 0) {
            result.failedParameters = restored.cannotHold;
            reason = "firmware " + result.firmware + " cannot hold exactly " +
                     joinNames(restored.cannotHold) +
                     "; nothing written (--convert writes the nearest values)";
        } else {
            result.failedParameters = restored.failed;
            result.failedParameters.insert(result.failedParameters.end(),
                                           restored.notWritten.begin(), restored.notWritten.end());
            if (restored.interrupted) {
                result.code = EXIT_LOST;
                reason = "stopped by Ctrl-C, " + std::to_string(restored.notWritten.size()) +
                         " not written: plug it in again";
            } else if (result.code == EXIT_LOST) {
                reason = (restored.stoppedAt.empty()
                              ? firstFailure(said)
                              : "lost during the write of " + restored.stoppedAt) +
                         ": plug it in again";
            } else {
                reason = firstFailure(said);
            }
        }
        if (reason.empty()) {
            reason = "failed with exit status " + std::to_string(result.code);
        }
        if (result.written > 0) {
            reason += " (" + std::to_string(result.written) + " written)";
        }
        return reason;
    }

    // The unit's line of the log, on the disk, then its line on the screen.
    void report(const HIDDescriptor& controller, const UnitResult& result) {
        char product[8];
        std::snprintf(product, sizeof product, "0x%04x", controller.productId);
        const std::string location = locationText(controller);
        std::lock_guard lock(m_mutex);
        bool logged = !m_log.isOpen();
        if (m_log.isOpen() && !m_broken.load()) {
            const json line = {
                {"time", utcNow()},
                {"location", location},
                {"firmware", result.firmware.empty() ? json(nullptr) : json(result.firmware)},
                {"product", product},
                {"result", result.passed() ? "PASS" : "FAIL"},
                {"written", result.written},
                {"verified", result.verified},
                {"failed", result.failedParameters.size()},
                {"failedParameters", result.failedParameters},
                {"reason", result.reason},
                {"seconds", std::round(result.seconds * 1000) / 1000},
                {"profileSha256", m_profileSha256}};
            if (const std::string error =
                    m_log.append(line.dump(-1, ' ', false, json::error_handler_t::replace));
                !error.empty()) {
                m_broken.store(true);
                m_context.console.err << "ostrelctl: " << error
                                      << "; the station stops: no unit is programmed that the "
                                         "log cannot tell of\n";
            } else {
                logged = true;
            }
        }
        std::ostream& out = m_context.console.out;
        const bool colour = m_context.console.colour;
        out << location << "  ";
        if (result.passed()) {
            ++m_passed;
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f", result.seconds);
            out << (colour ? "\x1b[1;32mPASS\x1b[0m" : "PASS") << "  firmware " << result.firmware
                << ", " << result.written << " written, " << result.verified << " verified, "
                << seconds << " s";
        } else {
            m_codes.push_back(result.code == EXIT_OK ? EXIT_TIMEOUT : result.code);
            out << (colour ? "\x1b[1;31mFAIL\x1b[0m" : "FAIL") << "  " << result.reason;
        }
        out << (logged ? "" : "  (not in the log)") << std::endl;
    }

    CommandContext& m_context;
    const StationOptions& m_options;
    const Backup& m_profile;
    const std::string m_profileSha256;
    AppendLog& m_log;
    std::atomic<bool> m_broken{false};

    std::mutex m_mutex;  // the output, the log and the counts
    std::size_t m_passed = 0;
    std::vector<int> m_codes;  // of the units that failed
    bool m_finished = false;

    std::list<Unit> m_units;  // the loop's thread only; last, so its threads go first
};

}  // namespace

int runStation(CommandContext& context, const StationOptions& options, const Backup& profile,
               const std::string& content) {
    AppendLog log;
    if (!options.log.empty()) {
        if (const std::string error = log.open(options.log); !error.empty()) {
            return fail(context, EXIT_USAGE, error + "; the station did not start");
        }
    }
    platform::HidPlatform& platform = context.platforms.platform(context.global.simulated);
    ControllerWatch watch(platform);
    Station station(context, options, profile, sha256Hex(content), log);
    const std::vector<HIDDescriptor> attached = watch.attached();
    if (!options.includeAttached && !attached.empty()) {
        context.console.err << "ostrelctl: " << attached.size()
                            << (attached.size() == 1 ? " controller already attached is"
                                                     : " controllers already attached are")
                            << " left alone (--include-attached programs them too)\n";
    }
    // Said once the watch is listening, before any unit can print: any controller plugged in
    // from now on is programmed.
    context.console.out << "Programming each controller plugged in from " << options.profile
                        << "; Ctrl-C ends" << std::endl;
    if (options.includeAttached) {
        for (const HIDDescriptor& controller : attached) {
            station.arrive(controller);
        }
        for (const ControllerEvent& other : watch.attachedLookalikes()) {
            station.refuse(other.controller, other.why);
        }
    }
    while (!context.interrupted.load() && !station.broken()) {
        for (const ControllerEvent& event : watch.next(CTRL_C_LATENCY)) {
            if (event.kind == ControllerEvent::Kind::Arrived && !station.broken()) {
                station.arrive(event.controller);
            } else if (event.kind == ControllerEvent::Kind::NotAController) {
                station.refuse(event.controller, event.why);
            }
        }
        station.reap();
    }
    return station.finish();
}

}  // namespace ctl
