// metrics: the status of every controller in the Prometheus text format (the exposition
// itself is services/metrics), on standard output or into a file replaced whole.
#include "services/metrics/Metrics.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands/OptionChecks.h"
#include "cli/commands/Verb.h"
#include "cli/files/OutputFile.h"
#include "cli/help/HelpText.h"

namespace ctl {
namespace {

int commandMetrics(CommandContext& context, const std::string& output) {
    std::vector<Reading> readings;
    if (const int code = gatherReadings(context, readings); code != EXIT_OK) {
        return code;
    }
    // A silent controller is in the exposition (ostrel_up 0) and said here, for the journal;
    // the run still succeeds, as its file is what the monitoring reads.
    for (const Reading& reading : readings) {
        if (!reading.answered()) {
            say(context, "the controller at " + reading.location + " did not answer");
        }
    }
    const std::string exposition = formatMetrics(readings);
    if (output.empty() || output == "-") {
        context.console.out << exposition;
        return EXIT_OK;
    }
    if (const std::string error = writeWholeFile(output, exposition); !error.empty()) {
        return fail(context, EXIT_USAGE, error);
    }
    return EXIT_OK;
}

class MetricsCommand final : public Command {
public:
    explicit MetricsCommand(CLI::App& command) {
        command
            .add_option("--output", m_output,
                        "write to FILE, replaced whole in one step (default: standard output)")
            ->option_text("FILE")
            ->check(notEmpty("file name"));
    }

    int run(CommandContext& context) override { return commandMetrics(context, m_output); }

private:
    std::string m_output;
};

}  // namespace

// It takes every controller by default and reads each once: it needs no --all.
extern const Verb METRICS{
    "metrics",
    "the status of every controller found, in the Prometheus text format (for node_exporter's or "
    "windows_exporter's textfile collector); a controller that does not answer is ostrel_up 0 "
    "and the run still succeeds",
    false,
    Claims::Nothing,
    UnderAll::ItsOwnWay,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        command.footer(helpFooter({}));
        return std::make_unique<MetricsCommand>(command);
    }};

}  // namespace ctl
