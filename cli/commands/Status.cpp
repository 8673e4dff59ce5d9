// status: the controller's status as the window shows it, once or every SECONDS, as text,
// JSON or CSV.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>

#include "cli/commands/IgnoredSigpipe.h"
#include "cli/commands/OptionChecks.h"
#include "cli/commands/Verb.h"
#include "cli/help/HelpText.h"
#include "core/names/ParamNames.h"
#include "core/readings/StatusFields.h"
#include "core/readings/StatusJson.h"
#include "core/session/Session.h"
#include "core/texts/StatusText.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

struct StatusOptions {
    bool json = false;
    bool csv = false;
    double watchSeconds = 0;  // 0: one status
    bool follow = false;      // --watch goes on across a drop of the controller
};

// How often --follow looks for the controller again while it is away.
constexpr auto FOLLOW_RETRY = std::chrono::milliseconds(250);

// A session on the controller at `location` (as the command chose it, where that is empty)
// that starts without a word: --follow tries one again and again while the controller is
// away, and only its coming back is said.
struct QuietSession {
    QuietSession(CommandContext& context, const std::string& location)
        : console{context.console.in,     context.console.out,  discarded, nullptr,
                  context.console.colour, context.console.width},
          own{console, context.platforms, context.global, context.interrupted},
          session(own) {
        if (!location.empty()) {
            own.global.device = location;
        }
        own.claims = false;
    }

    std::ostringstream discarded;
    Console console;
    CommandContext own;
    Session session;
};

// What became of the status request, for --follow's line.
std::string whatWentWrong(Outcome outcome) {
    switch (outcome) {
        case Outcome::Lost:
            return "was lost";
        case Outcome::Timeout:
            return "stopped answering";
        case Outcome::Refused:
            return "could no longer be written to";
        case Outcome::Ok:
            break;
    }
    return "answered";
}

std::string fieldLabel(const StatusField& field) {
    return utf8(field.label);
}

std::string fieldValue(const StatusField& field, const StatusTexts& texts) {
    const std::string unit = utf8(field.unit);
    const std::string& text = texts.view.*field.text;
    return unit.empty() ? text : text + " " + unit;
}

std::string csvHeader() {
    std::string line = "time,firmware,mode";
    for (const StatusField& field : STATUS_FIELDS) {
        line += ',';
        line += fieldName(field);
    }
    return line;
}

std::string csvLine(const StatusReport& status, const StatusTexts& texts) {
    std::string line = utcNow() + "," + firmwareText(status) + "," + std::to_string(status.mode);
    for (const StatusField& field : STATUS_FIELDS) {
        line += "," + texts.view.*field.text;
    }
    return line;
}

void printStatus(std::ostream& out, const StatusOptions& options, const StatusReport& status,
                 const StatusTexts& texts, bool watching) {
    if (options.json) {
        out << (watching ? statusJson(status, texts, true).dump()
                         : statusJson(status, texts, false).dump(2))
            << '\n';
    } else if (options.csv) {
        out << csvLine(status, texts) << '\n';
    } else if (watching) {
        std::string line = utcNow() + "  " + texts.caption;
        for (const StatusField& field : STATUS_FIELDS) {
            line += "  " + fieldLabel(field) + " " + fieldValue(field, texts);
        }
        out << line << '\n';
    } else {
        out << texts.caption << '\n';
        for (const StatusField& field : STATUS_FIELDS) {
            std::string label = fieldLabel(field);
            label.resize(std::max<std::size_t>(label.size() + 1, 16), ' ');
            out << label << fieldValue(field, texts) << '\n';
        }
    }
    out.flush();
}

// Waits until `until` or Ctrl-C; false on Ctrl-C.
bool pause(CommandContext& context, Clock::time_point until) {
    constexpr auto SLICE = std::chrono::milliseconds(20);
    while (!context.interrupted.load()) {
        const auto now = Clock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(SLICE, until - now));
    }
    return false;
}

int commandStatus(CommandContext& context, const StatusOptions& options) {
    if (options.json && options.csv) {
        return fail(context, EXIT_USAGE, "--json and --csv exclude each other");
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    std::ostream& out = context.console.out;
    const bool watching = options.watchSeconds > 0;
    if (!watching) {
        if (options.csv) {
            out << csvHeader() << '\n';
        }
        printStatus(out, options, session.status(), statusTexts(session.table(), session.status()),
                    false);
        return EXIT_OK;
    }
    const IgnoredSigpipe closedOutput;  // `status --watch | head -1` ends with 0
    if (options.csv) {
        out << csvHeader() << '\n';
    }
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.watchSeconds));
    auto next = Clock::now();
    Session* current = &session;
    std::unique_ptr<QuietSession> followed;
    const std::string location = session.location();
    const std::string where =
        location.empty() ? std::string("the controller") : "the controller at " + location;
    for (;;) {
        errno = 0;
        printStatus(out, options, current->status(),
                    statusTexts(current->table(), current->status()), true);
        if (!out) {
            // A closed pipe: the reader went, and --watch ends with it. Anything else (a full
            // disk, an I/O error) is a failure that says so.
            const int error = errno;
            if (error == EPIPE) {
                return EXIT_OK;
            }
            return fail(context, EXIT_USAGE,
                        "the standard output cannot be written" +
                            (error != 0 ? " (" + std::generic_category().message(error) + ")"
                                        : std::string()));
        }
        next += period;
        if (!pause(context, next)) {
            return EXIT_OK;
        }
        const Outcome outcome = current->controller().status(current->status());
        if (outcome == Outcome::Ok) {
            continue;
        }
        if (!options.follow) {
            return current->check(outcome, "the status request");
        }
        // A loose contact or an engine crank: the rows resume once it answers again.
        const auto gone = Clock::now();
        say(context, where + " " + whatWentWrong(outcome) + " at " + utcNow() +
                         "; following it, rows resume when it is back (Ctrl-C ends)");
        for (;;) {
            if (!pause(context, Clock::now() + FOLLOW_RETRY)) {
                return EXIT_OK;
            }
            followed = std::make_unique<QuietSession>(context, location);
            if (followed->session.start() == EXIT_OK) {
                break;
            }
        }
        current = &followed->session;
        const auto away = std::chrono::duration<double>(Clock::now() - gone).count();
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", away);
        say(context, where + " is back at " + utcNow() + ", after " + seconds + " s");
        next = Clock::now();
    }
}

class StatusCommand final : public Command {
public:
    explicit StatusCommand(CLI::App& command) {
        command.add_flag("--json", m_options.json, "as JSON (one object a line with --watch)");
        command.add_flag("--csv", m_options.csv, "as comma-separated values, with a header");
        command
            .add_option("--watch", m_options.watchSeconds, "one status every SECONDS until Ctrl-C")
            ->option_text("SECONDS")
            ->transform(decimalNumber())
            ->check(within(0.1, 86400, "seconds"));
        command
            .add_flag("--follow", m_options.follow,
                      "with --watch: when the controller is lost or stops answering, say so and "
                      "go on once it is back, as tail -F follows a file")
            ->needs(command.get_option("--watch"));
    }

    int run(CommandContext& context) override { return commandStatus(context, m_options); }
    int beforeAll(CommandContext& context, std::string&) override {
        if (endsWithItsReader()) {
            return fail(context, EXIT_USAGE, "status --watch works on one controller, not --all");
        }
        return EXIT_OK;
    }
    bool json() const override { return m_options.json; }
    bool csv() const override { return m_options.csv; }
    bool endsWithItsReader() const override { return m_options.watchSeconds > 0; }

private:
    StatusOptions m_options;
};

}  // namespace

// Status reports are harmless to the window and to another command: no claim.
extern const Verb STATUS{
    "status",
    "the controller's status: voltages, temperature, state, flags, firmware, mode",
    false,
    Claims::Nothing,
    UnderAll::EachController,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        command.footer(helpFooter({.controller = true, .all = true}));
        return std::make_unique<StatusCommand>(command);
    }};

}  // namespace ctl
