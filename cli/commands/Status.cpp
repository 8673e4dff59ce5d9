// status: the controller's status as the window shows it, once or every SECONDS, as text,
// JSON or CSV.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <ostream>
#include <system_error>
#include <thread>

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
};

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
        line += "," + fieldName(field);
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
    if (options.csv) {
        out << csvHeader() << '\n';
    }
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.watchSeconds));
    auto next = Clock::now();
    for (;;) {
        errno = 0;
        printStatus(out, options, session.status(), statusTexts(session.table(), session.status()),
                    true);
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
        if (const int code =
                session.check(session.controller().status(session.status()), "the status request");
            code != EXIT_OK) {
            return code;
        }
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
