#include "cli/commandline/CommandLine.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/commands/OptionChecks.h"
#include "cli/commands/Verbs.h"
#include "cli/files/FileArguments.h"
#include "core/names/ParamNames.h"
#include "core/selection/AllControllers.h"
#include "core/session/Session.h"
#include "core/texts/OutsideText.h"
#include "sim/PlugPlan.h"
#include "sim/Trace.h"

namespace ctl {
namespace {

// "status, get, set, backup, restore, diff and factory-reset": the verbs --all runs on every
// controller, in the table's order.
std::string verbsOnEach() {
    std::vector<std::string> names;
    for (const Verb* verb : verbs()) {
        if (verb->all == UnderAll::EachController) {
            names.emplace_back(verb->name);
        }
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

// --simulated's value: a count of controllers plugged in from the start, or a plug plan (a
// value that holds ':'). Empty when `simulation` took it, else why not.
std::string readSimulation(const std::string& text, Simulation& simulation) {
    if (text.find(':') != std::string::npos) {
        std::string error;
        if (!sim::parsePlugPlan(text, error)) {
            return error;
        }
        simulation.controllers = 0;
        simulation.plan = text;
        return {};
    }
    int count = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || count > sim::SIM_MAX_CONTROLLERS) {
            count = 0;
            break;
        }
        count = count * 10 + (c - '0');
    }
    if (count < 1 || count > sim::SIM_MAX_CONTROLLERS) {
        return "\"" + text + "\" is neither a number of controllers from 1 to " +
               std::to_string(sim::SIM_MAX_CONTROLLERS) +
               " nor a plug plan (plug:N@SECONDS,unplug:N@SECONDS,...)";
    }
    simulation.controllers = count;
    simulation.plan.clear();
    return {};
}

// --simulated-trace's value into `simulated`: a built-in trace's name, or a file read once
// and checked here, so that a trace that does not parse is refused before any command.
int takeTrace(CommandContext& context, const std::string& named, Simulation& simulated) {
    simulated.trace = named;
    if (std::find(sim::BUILTIN_TRACES.begin(), sim::BUILTIN_TRACES.end(), named) !=
        sim::BUILTIN_TRACES.end()) {
        return EXIT_OK;
    }
    constexpr InputKind TRACE_INPUT{"a trace file", sim::TRACE_MAX_BYTES, false};
    std::string text;
    if (!readInput(context, named, text, TRACE_INPUT)) {
        return EXIT_USAGE;
    }
    std::string error;
    if (!sim::parseTrace(text, error)) {
        return fail(context, EXIT_USAGE, named + ": " + error);
    }
    simulated.traceText = std::move(text);
    return EXIT_OK;
}

// The nearest long option to a mistyped `word` among those of the command being parsed and
// the program's own, as "; did you mean \"--json\"?"; empty when none is within two edits.
std::string nearestOption(const CLI::App& app, const std::string& word) {
    if (!word.starts_with("--") || word.size() < 3) {
        return {};
    }
    const std::string name = word.substr(
        2, word.find('=') == std::string::npos ? std::string::npos : word.find('=') - 2);
    std::string nearest;
    std::size_t best = 3;  // farther than two edits is no likely slip
    std::vector<const CLI::App*> scopes{&app};
    for (const CLI::App* command : app.get_subcommands()) {
        scopes.push_back(command);
    }
    for (const CLI::App* scope : scopes) {
        for (const CLI::Option* option : scope->get_options()) {
            for (const std::string& candidate : option->get_lnames()) {
                const std::size_t distance = editDistance(name, candidate);
                if (distance < best && distance > 0) {
                    best = distance;
                    nearest = "--" + candidate;
                }
            }
        }
    }
    return nearest.empty() ? std::string() : "; did you mean \"" + nearest + "\"?";
}

// CLI11 reads a word that only begins like -h ("-h-5", "-hard") as -h with more short
// flags run on, and would show the help and end with 0, nothing done: when no word asked for
// the help itself, the first such word is named instead.
std::string helpLookalike(int argc, const char* const* argv) {
    std::string lookalike;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--") {
            break;
        }
        if (word == "-h" || word == "--help" || word == "--help-all") {
            return {};
        }
        if (lookalike.empty() && word.starts_with("-h") && word.size() > 2) {
            lookalike = word;
        }
    }
    if (lookalike.empty()) {
        return {};
    }
    return "\"" + lookalike +
           "\" is no option: -h alone asks for the help, and a parameter whose name begins with "
           "\"-\" goes after \"--\"";
}

}  // namespace

std::string CommandLine::unknownCommand(int argc, const char* const* argv) const {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") {
            return {};
        }
        if (word.starts_with('-')) {
            // A value of its own word follows an option that takes one.
            const CLI::Option* option = app.get_option_no_throw(word);
            i += option != nullptr && option->get_expected_max() > 0 ? 1 : 0;
            continue;
        }
        std::string nearest;
        std::size_t best = 3;  // farther than two edits is no likely slip
        for (const Verb* verb : verbs()) {
            if (word == verb->name) {
                return {};
            }
            const std::size_t distance = editDistance(word, verb->name);
            if (!verb->hidden && distance < best) {
                best = distance;
                nearest = verb->name;
            }
        }
        return "\"" + word + "\" is no command" +
               (nearest.empty() ? "" : "; did you mean \"" + nearest + "\"?") +
               " (--help lists the commands)";
    }
    return {};
}

CommandLine::CommandLine(Definitions definitions)
    : app{"Reads and writes the parameters of an Ostrel power-supply controller attached "
          "over USB, shows its status, and saves, restores and compares its settings.",
          "ostrelctl"} {
    // In the words of the other options, before the commands are added: they copy --help.
    app.set_help_flag("-h,--help", "show this help and exit");
    app.set_version_flag("--version", ostrelctlVersion(), "show the version and exit");
    app.set_help_all_flag("--help-all", "show this help with every command's options and exit");
    app.footer(helpFooter());
    // Before the commands are added: they take the program's formatter.
    app.formatter(helpFormatter());
    // One line, as every other failure says why.
    app.failure_message([](const CLI::App* failed, const CLI::Error& error) {
        std::string said = error.what();
        // A mistyped option is named with the nearest one, as a mistyped command is.
        if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && failed != nullptr) {
            std::vector<std::string> extras = failed->remaining(true);
            if (!extras.empty()) {
                said += nearestOption(*failed, extras.front());
            }
        }
        return "ostrelctl: " + escapeControls(said) + " (--help shows the usage)\n";
    });
    app.require_subcommand(1);
    app.fallthrough();

    app.add_flag(
           "--simulated{1}", m_simulated,
           "talk to N simulated controllers (default 1, at most " +
               std::to_string(sim::SIM_MAX_CONTROLLERS) +
               ") at the locations sim-1, sim-2, ... instead of those on USB; or to those "
               "a PLAN plugs in and pulls out, a comma list of plug:N@SECONDS and "
               "unplug:N@SECONDS (sim-N, so many seconds after the start; plug:N@SECONDS=SERIAL "
               "gives it a USB serial number); each run starts from "
               "fresh controllers with the factory values")
        ->option_text("[=N|PLAN]")
        ->check(CLI::Validator(
            [](std::string& text) {
                Simulation unused;
                return readSimulation(text, unused);
            },
            "N|PLAN"));
    app.add_option_function<std::string>(
           "--simulated-firmware",
           [this](const std::string& text) {
               m_global.simulated.firmware = firmwareVersion(text).value_or(0);
           },
           "the firmware version of the simulated controllers, as 2.1 (default 1.2)")
        ->option_text("VERSION")
        ->check(
            [](const std::string& text) {
                const std::optional<std::uint8_t> version = firmwareVersion(text);
                return version && *version >> 4 <= SIMULATED_MAJOR_LAST
                           ? std::string()
                           : "\"" + text + "\" is no firmware version a simulated controller " +
                                 "can have: 1.0 to " + std::to_string(SIMULATED_MAJOR_LAST) + ".15";
            },
            "VERSION");
    app.add_option("--simulated-trace", m_trace,
                   "replay a trace on every simulated controller, in a loop: parked (engine off, "
                   "battery at rest), driving (engine on, charging, warming up), or a FILE of "
                   "lines SECONDS FIELD=VALUE ... (a ./ before a file named like those)")
        ->option_text("parked|driving|FILE")
        ->check(notEmpty("trace: give parked, driving or a file"));
    auto* device = app.add_option("--device", m_global.device,
                                  "the controller to work on: its location as \"ostrelctl "
                                  "devices\" prints it (1-1.4.2), or its device path; needed "
                                  "when several are attached");
    // LOCATION: the completions offer the locations "devices --plain" lists.
    device->option_text("LOCATION")->check(notEmpty("selector: give a location or a device path"));
    app.add_flag("--all", m_global.all,
                 verbsOnEach() +
                     " on every attached controller at once, output grouped by location (one "
                     "JSON array with --json, one CSV table with --csv), then a summary table")
        ->excludes(device);
    app.add_option("--timeout", m_global.timeoutMs,
                   "how long one answer of the controller may take, retries included "
                   "(default 1000)")
        ->option_text("MS")
        ->transform(decimalNumber())
        ->check(within(10, 600000, "ms", true));
    app.add_flag("--verbose", m_global.verbose, "show the device search's findings on stderr");
    app.add_option("--wait", m_global.waitSeconds,
                   "wait up to SECONDS while the window or another ostrelctl holds the "
                   "controller (default 0: exit 5 at once)")
        ->option_text("SECONDS")
        ->transform(decimalNumber())
        ->check(within(0, 86400, "seconds"));

    m_entries.reserve(verbs().size());
    for (const Verb* verb : verbs()) {
        CLI::App* command = app.add_subcommand(verb->name, verb->summary);
        command->group("Commands");
        command->set_help_all_flag();  // a command has no commands of its own
        if (verb->hidden) {
            // For the package's build: hidden from --help and the manual page.
            command->group("");
        }
        m_entries.push_back({verb, command, nullptr});
    }
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (definitions == Definitions::Every) {
            define(m_entries[i]);
        } else {
            // Before the parser reads the words after the verb.
            m_entries[i].command->preparse_callback(
                [this, i](std::size_t) { define(m_entries[i]); });
        }
    }
}

void CommandLine::define(Entry& entry) {
    if (!entry.values) {
        entry.values = entry.verb->define(*entry.command, *this);
    }
}

const CLI::App& CommandLine::everyOption() {
    for (Entry& entry : m_entries) {
        define(entry);
    }
    return app;
}

int CommandLine::run(int argc, const char* const* argv, Console console, PlatformSource& platforms,
                     const std::atomic<bool>& interrupted) {
    if (const std::string unknown = unknownCommand(argc, argv); !unknown.empty()) {
        console.err << "ostrelctl: " << unknown << '\n';
        return EXIT_USAGE;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const bool help = dynamic_cast<const CLI::CallForHelp*>(&error) != nullptr ||
                          dynamic_cast<const CLI::CallForAllHelp*>(&error) != nullptr;
        if (const std::string lookalike = help ? helpLookalike(argc, argv) : std::string();
            !lookalike.empty()) {
            console.err << "ostrelctl: " << escapeControls(lookalike) << '\n';
            return EXIT_USAGE;
        }
        if (dynamic_cast<const CLI::CallForAllHelp*>(&error) != nullptr) {
            everyOption();
        }
        const int code = app.exit(error, console.out, console.err);
        return code == 0 ? EXIT_OK : EXIT_USAGE;
    }

    if (!m_simulated.empty()) {
        // Checked by the parser already.
        readSimulation(m_simulated, m_global.simulated);
    }
    if (m_global.simulated.firmware != 0 && !m_global.simulated.on()) {
        console.err << "ostrelctl: --simulated-firmware is for the controllers of --simulated\n";
        return EXIT_USAGE;
    }
    if (!m_trace.empty()) {
        if (!m_global.simulated.on()) {
            console.err << "ostrelctl: --simulated-trace is for the controllers of --simulated\n";
            return EXIT_USAGE;
        }
        CommandContext reading{console, platforms, m_global, interrupted};
        if (const int code = takeTrace(reading, m_trace, m_global.simulated); code != EXIT_OK) {
            return code;
        }
    }
    for (Entry& entry : m_entries) {
        if (!entry.command->parsed()) {
            continue;
        }
        m_watching = entry.values->endsWithItsReader();
        CommandContext context{console, platforms, m_global, interrupted};
        context.claims = entry.verb->claims == Claims::TheController;
        if (m_global.all && entry.verb->all != UnderAll::ItsOwnWay) {
            return runOnEvery(entry, context);
        }
        return entry.values->run(context);
    }
    return EXIT_USAGE;
}

int CommandLine::runOnEvery(Entry& entry, CommandContext& context) {
    if (entry.verb->all == UnderAll::Refused) {
        return fail(context, EXIT_USAGE, "--all works with " + verbsOnEach());
    }
    std::string input;
    if (const int code = entry.values->beforeAll(context, input); code != EXIT_OK) {
        return code;
    }
    Command& command = *entry.values;
    const AllOutput output = command.json()  ? AllOutput::Json
                             : command.csv() ? AllOutput::Csv
                                             : AllOutput::Grouped;
    return runOnAll(context, output, input,
                    [&command](CommandContext& own) { return command.runOnEach(own); });
}

}  // namespace ctl
