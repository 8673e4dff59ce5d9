// station: programs every controller plugged in from one profile, until Ctrl-C, a closed
// output or --count. Each unit on a thread of its own: waited for until it answers, claimed,
// written as restore writes (only what differs, each write read back), verified whole
// against the profile, released, and reported in one line, after its line of the log is on
// the disk.
#include "services/station/Station.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/context/ExitStatus.h"
#include "core/files/Sha256.h"
#include "core/selection/Selection.h"
#include "core/texts/OutsideText.h"
#include "device/ControllerWatch.h"
#include "services/station/AppendLog.h"
#include "services/station/Labels.h"
#include "services/station/ProgramUnit.h"
#include "services/station/StationLines.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;

// How long the loop waits for controllers before it looks at Ctrl-C again.
constexpr std::chrono::milliseconds CTRL_C_LATENCY{100};

// What ended the station, as the log and a stopped unit say it.
enum class Stop { None, Interrupted, OutputClosed, Count, Labels, Log };

const char* stopText(Stop stop) {
    switch (stop) {
        case Stop::Interrupted:
            return "Ctrl-C";
        case Stop::OutputClosed:
            return "the closed output";
        case Stop::Count:
            return "--count";
        case Stop::Labels:
            return "the end of the labels";
        case Stop::Log:
            return "the log's failure";
        case Stop::None:
            break;
    }
    return "";
}

class Station {
public:
    Station(CommandContext& context, const StationOptions& options, const Backup& profile,
            StationHeader header, AppendLog& log, LabelReader* labels)
        : m_context(context),
          m_options(options),
          m_profile(profile),
          m_header(std::move(header)),
          m_log(log),
          m_labels(labels) {}

    ~Station() { finish(); }

    // The start line of the log; false after saying why it could not be written.
    bool logStart() {
        json line = lineHead(++m_seq, "start", m_header);
        line["firmware"] =
            std::to_string(m_profile.firmwareMajor) + "." + std::to_string(m_profile.firmwareMinor);
        line["options"] = {{"convert", m_options.convert},
                           {"includeAttached", m_options.includeAttached},
                           {"factoryResetFirst", m_options.factoryResetFirst},
                           {"count", m_options.count},
                           {"label", m_options.label}};
        std::lock_guard lock(m_mutex);
        return append(line);
    }

    // Programs `controller` on a thread of its own, unless --count has its units.
    void arrive(const HIDDescriptor& controller) {
        if (m_options.count > 0 && m_started >= m_options.count) {
            return;
        }
        const std::size_t ticket = m_started++;
        widen(locationText(controller));
        Unit& unit = m_units.emplace_back();
        unit.controller = controller;
        unit.thread = std::jthread([this, &unit, ticket] {
            std::optional<std::string> label = m_options.label;
            UnitResult unlabelled;
            if (m_labels != nullptr) {
                label = labelOf(ticket, unlabelled);
            }
            report(unit.controller, label ? program(unit.controller) : unlabelled, label);
            unit.done.store(true);
        });
    }

    // A device that only looks like a controller: said once, on its own line, and left
    // alone; no unit, so neither in the log nor in the count.
    void refuse(const HIDDescriptor& device, const std::string& why) {
        const std::string location = locationText(device);
        widen(location);
        std::lock_guard lock(m_mutex);
        show(benchLine(location, m_widest, "SKIP",
                       m_context.console.colour ? "\x1b[1;33m" : nullptr,
                       "not a controller the station programs: " + why + "; nothing written", "",
                       m_context.console.width));
    }

    // Lets go of the threads of units that are done, so a day's run stays small.
    void reap() {
        m_units.remove_if([](const Unit& unit) { return unit.done.load(); });
    }

    // Why the loop should end; Stop::None while it goes on.
    Stop stopping() const {
        if (m_broken.load()) {
            return Stop::Log;
        }
        if (m_outputClosed.load()) {
            return Stop::OutputClosed;
        }
        if (m_options.count > 0 && m_ended.load() >= m_options.count) {
            return Stop::Count;
        }
        // Once every label has gone to a unit that has ended.
        if (m_labels != nullptr && m_labels->endedBefore(m_started) &&
            m_ended.load() >= m_started) {
            return Stop::Labels;
        }
        return Stop::None;
    }

    // From now on a unit part way is stopped between two writes, for `why`.
    void stop(Stop why) {
        if (!m_stopping.load()) {
            m_stop.store(why);
            m_stopping.store(true);
            if (m_labels != nullptr) {
                m_labels->wake();
            }
        }
    }

    // Waits for the units in progress, then writes the end line and says the count; the
    // exit status.
    int finish() {
        m_units.clear();
        std::lock_guard lock(m_mutex);
        if (!m_finished) {
            m_finished = true;
            int status = m_broken.load() ? EXIT_USAGE : EXIT_OK;
            std::vector<int> last;
            json ports = json::object();
            for (const auto& [port, code] : m_lastOfPort) {
                ports[port] = code == EXIT_OK ? "PASS" : "FAIL";
                if (code != EXIT_OK) {
                    last.push_back(code);
                }
            }
            if (status == EXIT_OK && !last.empty()) {
                status = worstExit(last);
                m_context.console.err << "ostrelctl: the last unit on " << last.size() << " of "
                                      << m_lastOfPort.size()
                                      << (m_lastOfPort.size() == 1 ? " port" : " ports")
                                      << " did not pass\n";
            }
            m_status = status;
            if (m_log.isOpen() && !m_broken.load()) {
                json line = lineHead(++m_seq, "end", m_header);
                line["stoppedBy"] =
                    m_stop.load() == Stop::None ? json(nullptr) : json(stopText(m_stop.load()));
                line["units"] = m_passed + m_failed;
                line["passed"] = m_passed;
                line["failed"] = m_failed;
                line["lastOfPort"] = std::move(ports);
                line["status"] = status;
                append(line);
            }
            // A ^C the terminal echoed stands where the line would begin.
            const bool echoed = m_stop.load() == Stop::Interrupted && m_context.console.width > 0;
            show(std::string(echoed ? "\n" : "") + countText(m_passed, m_failed, m_lastOfPort));
        }
        return m_status;
    }

private:
    struct Unit {
        HIDDescriptor controller;
        std::atomic<bool> done{false};
        std::jthread thread;  // last: joined before the rest goes
    };

    void widen(const std::string& location) {
        std::lock_guard lock(m_mutex);
        m_widest = std::max(m_widest, escapeControls(location).size());
    }

    // A line at the bench; a closed output ends the station as Ctrl-C does.
    void show(const std::string& line) {
        std::ostream& out = m_context.console.out;
        out << line << std::endl;
        if (!out) {
            m_outputClosed.store(true);
        }
    }

    // `line` into the log (under m_mutex); false after saying why not, which stops the
    // station.
    bool append(const json& line) {
        if (const std::string error =
                m_log.append(line.dump(-1, ' ', false, json::error_handler_t::replace));
            !error.empty()) {
            m_broken.store(true);
            m_context.console.err << "ostrelctl: " << escapeControls(error)
                                  << "; the station stops: no unit is programmed that the log "
                                     "cannot tell of\n";
            return false;
        }
        return true;
    }

    // The label of the unit that arrived `ticket`-th; none, with why in `result`, when its
    // line is no label or never came.
    std::optional<std::string> labelOf(std::size_t ticket, UnitResult& result) {
        Label label = m_labels->take(ticket, m_stopping);
        result.code = EXIT_USAGE;
        switch (label.kind) {
            case Label::Kind::Read:
                return std::move(label.text);
            case Label::Kind::Refused:
                result.reason = "its label, line " + std::to_string(label.line) +
                                " of the standard input, " + label.text + "; nothing written";
                break;
            case Label::Kind::Ended:
                result.reason = "no label for it: the standard input ended after " +
                                std::to_string(label.line) + " lines; nothing written";
                break;
            case Label::Kind::Stopped:
                result.code = EXIT_INTERRUPTED;
                result.reason = std::string("stopped by ") + stopText(m_stop.load()) +
                                " before its label came: plug it in again";
                break;
        }
        return std::nullopt;
    }

    UnitResult program(const HIDDescriptor& controller) {
        std::istringstream in;
        std::ostringstream out;
        std::ostringstream err;
        CommandContext own{{in, out, err, nullptr},
                           m_context.platforms,
                           m_context.global,
                           m_stopping,
                           &controller,
                           nullptr,
                           true};
        return programUnit(own, err, m_profile, {m_options.convert, m_options.factoryResetFirst},
                           m_stopping, [this] { return std::string(stopText(m_stop.load())); });
    }

    // The unit's line of the log, on the disk, then its line on the screen.
    void report(const HIDDescriptor& controller, const UnitResult& result,
                const std::optional<std::string>& label) {
        const std::string location = locationText(controller);
        std::lock_guard lock(m_mutex);
        bool logged = !m_log.isOpen();
        if (m_log.isOpen() && !m_broken.load()) {
            json line = lineHead(++m_seq, "unit", m_header);
            unitFields(line, location, controller.serial, controller.productId, label, result);
            logged = append(line);
        }
        std::string text;
        if (result.passed()) {
            ++m_passed;
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f", result.seconds);
            text = "firmware " + result.firmware + ", " + std::to_string(result.written) +
                   " written, " + std::to_string(result.verified) + " verified, " + seconds + " s";
        } else {
            ++m_failed;
            text = result.reason;
        }
        m_lastOfPort[location] =
            result.passed() ? EXIT_OK : (result.code == EXIT_OK ? EXIT_TIMEOUT : result.code);
        const bool colour = m_context.console.colour;
        show(benchLine(location, m_widest, result.passed() ? "PASS" : "FAIL",
                       !colour           ? nullptr
                       : result.passed() ? "\x1b[1;32m"
                                         : "\x1b[1;31m",
                       text, logged ? "" : "  (not in the log)", m_context.console.width));
        m_ended.fetch_add(1);
    }

    CommandContext& m_context;
    const StationOptions& m_options;
    const Backup& m_profile;
    const StationHeader m_header;
    AppendLog& m_log;
    LabelReader* const m_labels;  // null: every unit has --label's
    std::atomic<bool> m_broken{false};
    std::atomic<bool> m_outputClosed{false};
    std::atomic<bool> m_stopping{false};  // the units' Ctrl-C
    std::atomic<Stop> m_stop{Stop::None};
    std::atomic<std::size_t> m_ended{0};
    std::size_t m_started = 0;  // the loop's thread only

    std::mutex m_mutex;  // the output, the log and the counts
    std::size_t m_seq = 0;
    std::size_t m_widest = 0;
    std::size_t m_passed = 0;
    std::size_t m_failed = 0;
    std::map<std::string, int> m_lastOfPort;  // its last unit's exit status
    bool m_finished = false;
    int m_status = EXIT_OK;

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
        if (log.isFile(options.profile)) {
            return fail(context, EXIT_USAGE,
                        options.log + ": is the profile; the station did not start");
        }
    }
    // Read from the start, so that lines scanned before the first unit wait for it.
    std::unique_ptr<LabelReader> labels;
    if (options.label == LABELS_FROM_INPUT) {
        labels = std::make_unique<LabelReader>(context.console.in);
    }
    platform::HidPlatform& platform = context.platforms.platform(context.global.simulated);
    ControllerWatch watch(platform);
    const std::string digest = sha256Hex(content);
    const std::string host = hostName();
    Station station(
        context, options, profile,
        {options.stationId.empty() ? host : options.stationId, host, options.profile, digest}, log,
        labels.get());
    if (log.isOpen() && !station.logStart()) {
        return EXIT_USAGE;
    }
    const std::vector<HIDDescriptor> attached = watch.attached();
    if (!options.includeAttached && !attached.empty()) {
        context.console.err << "ostrelctl: " << attached.size()
                            << (attached.size() == 1 ? " controller already attached is"
                                                     : " controllers already attached are")
                            << " left alone (--include-attached programs them too)\n";
    }
    // Said once the watch is listening, before any unit can print: any controller plugged in
    // from now on is programmed.
    context.console.out
        << fitLine("Programming each controller plugged in from " + options.profile +
                       " (firmware " + std::to_string(profile.firmwareMajor) + "." +
                       std::to_string(profile.firmwareMinor) + ", SHA-256 " + digest.substr(0, 12) +
                       (labels ? "), each unit's label a line of the standard input" : ")") +
                       "; Ctrl-C ends",
                   context.console.width)
        << std::endl;
    if (options.includeAttached) {
        for (const HIDDescriptor& controller : attached) {
            station.arrive(controller);
        }
        for (const ControllerEvent& other : watch.attachedLookalikes()) {
            station.refuse(other.controller, other.why);
        }
    }
    while (true) {
        if (context.interrupted.load()) {
            station.stop(Stop::Interrupted);
        } else if (const Stop why = station.stopping(); why != Stop::None) {
            station.stop(why);
        }
        if (context.interrupted.load() || station.stopping() != Stop::None) {
            break;
        }
        const std::vector<ControllerEvent> events = watch.next(CTRL_C_LATENCY);
        // What arrived while the loop waited for Ctrl-C's sake is not the station's any more.
        if (context.interrupted.load() || station.stopping() != Stop::None) {
            continue;
        }
        for (const ControllerEvent& event : events) {
            if (event.kind == ControllerEvent::Kind::Arrived) {
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
