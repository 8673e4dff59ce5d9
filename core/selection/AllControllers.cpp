// --all: one command on every attached controller at once. Each controller gets its own
// thread, channel, parameter table and claim (a Session inside the command), and its own
// output buffers, printed grouped once every controller is done, so that no two
// controllers' lines interleave.
#include "core/selection/AllControllers.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <thread>

#include "core/context/Columns.h"
#include "core/context/ExitStatus.h"
#include "core/selection/Selection.h"
#include "core/texts/OutsideText.h"
#include "device/HIDDescriptor.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;

struct Run {
    std::unique_ptr<HIDDescriptor> descriptor;
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    WriteTally tally;
    int code = EXIT_USAGE;
};

const char* exitWord(int code) {
    for (const ExitStatus& status : exitStatuses()) {
        if (status.code == code) {
            return status.word;
        }
    }
    return "failed";
}

// The lines of `text`, without their line ends.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

// `text` as one field of a CSV line: quoted when it holds a comma or a quote.
std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + '"';
}

// The summary: each controller's exit status, and the columns some controller has: what a
// writing command wrote, how many values a diff found different.
void printTable(std::ostream& out, const std::vector<std::unique_ptr<Run>>& runs) {
    const bool wrote =
        std::any_of(runs.begin(), runs.end(), [](const auto& run) { return run->tally.counted; });
    const bool compared = std::any_of(runs.begin(), runs.end(),
                                      [](const auto& run) { return run->tally.differing >= 0; });
    std::vector<std::vector<std::string>> rows{{"LOCATION", "RESULT"}};
    if (wrote) {
        rows[0].insert(rows[0].end(), {"WRITTEN", "VERIFIED", "FAILED"});
    }
    if (compared) {
        rows[0].emplace_back("DIFFERING");
    }
    for (const auto& run : runs) {
        const WriteTally& tally = run->tally;
        // A diff without --exit-code ends 0 on a difference: no "ok" for that.
        const char* word =
            run->code == EXIT_OK && tally.differing > 0 ? "differs" : exitWord(run->code);
        std::vector<std::string>& row = rows.emplace_back(std::vector<std::string>{
            locationText(*run->descriptor), std::to_string(run->code) + " " + word});
        if (wrote) {
            row.insert(row.end(), {std::to_string(tally.written), std::to_string(tally.verified),
                                   std::to_string(tally.failed)});
        }
        if (compared) {
            row.push_back(tally.differing >= 0 ? std::to_string(tally.differing) : "-");
        }
    }
    out << alignedColumns(rows);
}

}  // namespace

int runOnAll(CommandContext& context, AllOutput output, const std::string& input,
             const std::function<int(CommandContext&)>& command) {
    platform::HidPlatform& platform = context.platforms.platform(context.global.simulated);
    Selection selection =
        selectControllers(platform, context.global.device, true,
                          context.global.verbose ? context.console.diagnostics : nullptr);
    if (selection.code != EXIT_OK) {
        say(context, selection.message);
        return selection.code;
    }
    std::vector<std::unique_ptr<Run>> runs;
    for (auto& descriptor : selection.chosen) {
        auto run = std::make_unique<Run>();
        run->descriptor = std::move(descriptor);
        run->in.str(input);
        runs.push_back(std::move(run));
    }
    {
        std::vector<std::jthread> threads;
        for (const auto& run : runs) {
            threads.emplace_back([&context, &command, &run = *run] {
                CommandContext own{{run.in, run.out, run.err, nullptr},
                                   context.platforms,
                                   context.global,
                                   context.interrupted,
                                   run.descriptor.get(),
                                   &run.tally,
                                   context.claims};
                try {
                    run.code = command(own);
                } catch (const std::exception& error) {
                    run.err << "ostrelctl: " << escapeControls(error.what()) << '\n';
                    run.code = EXIT_USAGE;
                }
            });
        }
    }

    std::vector<int> codes;
    std::ostream& out = context.console.out;
    json array = json::array();
    bool headed = false;  // CSV: the header line printed
    for (const auto& run : runs) {
        codes.push_back(run->code);
        const std::string location = locationText(*run->descriptor);
        if (output == AllOutput::Csv) {
            // Every controller's header is the same: printed once.
            const std::vector<std::string> rows = lines(run->out.str());
            for (std::size_t i = headed ? 1 : 0; i < rows.size(); ++i) {
                out << (i == 0 ? "location" : csvField(location)) << ',' << rows[i] << '\n';
            }
            headed = headed || !rows.empty();
            for (const std::string& line : lines(run->err.str())) {
                const std::string_view prefix = "ostrelctl: ";
                context.console.err
                    << prefix << location << ": "
                    << (line.starts_with(prefix) ? line.substr(prefix.size()) : line) << '\n';
            }
            continue;
        }
        if (output == AllOutput::Json) {
            json item = {{"location", run->descriptor->location},
                         {"path", run->descriptor->path},
                         {"exitStatus", run->code}};
            item["result"] = json::parse(run->out.str(), nullptr, false);
            if (item["result"].is_discarded()) {
                item["result"] = nullptr;
            }
            item["errors"] = lines(run->err.str());
            array.push_back(std::move(item));
            continue;
        }
        out << "== " << location << " (" << escapeControls(run->descriptor->path) << ") ==\n"
            << run->out.str();
        for (const std::string& line : lines(run->err.str())) {
            out << line << '\n';
        }
    }
    if (output == AllOutput::Json) {
        out << array.dump(2) << '\n';
    }
    // With --json or --csv the output stays one document; the table goes beside it.
    printTable(output == AllOutput::Grouped ? out : context.console.err, runs);
    const int worst = worstExit(codes);
    if (worst != EXIT_OK) {
        // A controller that differs from the file (diff --exit-code) did what was asked.
        const auto differ = std::count(codes.begin(), codes.end(), EXIT_DIFFERS);
        const auto failed = std::count_if(codes.begin(), codes.end(),
                                          [](int c) { return c != EXIT_OK && c != EXIT_DIFFERS; });
        const std::string differing =
            (differ == 1 ? "differs" : "differ") + std::string(" from the file");
        std::string said = std::to_string(failed != 0 ? failed : differ) + " of " +
                           std::to_string(codes.size()) + " controllers " +
                           (failed != 0 ? "failed" : differing);
        if (failed != 0 && differ != 0) {
            said += " and " + std::to_string(differ) + " " + differing;
        }
        context.console.err << "ostrelctl: " << said << "; the worst exit status is " << worst
                            << '\n';
    }
    return worst;
}

}  // namespace ctl
