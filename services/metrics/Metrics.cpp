#include "services/metrics/Metrics.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>

#include "core/readings/StatusFields.h"
#include "core/readings/StatusOfAll.h"
#include "core/selection/Selection.h"
#include "core/session/Controller.h"
#include "core/texts/OutsideText.h"

namespace ctl {
namespace {

// A label value as the format wants it: backslash, double quote and line feed escaped.
std::string labelValue(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '"':
                escaped += "\\\"";
                break;
            case '\n':
                escaped += "\\n";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

void family(std::string& out, const char* name, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += " gauge\n";
}

// `labels` follow the location, each as `,name="value"` (already escaped).
void sample(std::string& out, const char* name, const Reading& reading, const std::string& labels,
            const std::string& value) {
    out += name;
    out += "{location=\"" + labelValue(reading.location) + '"' + labels + "} " + value + '\n';
}

// The status fields `chosen` picks, of every answered reading: a family at a time, in the
// order of its first field in the table.
template <typename Chosen>
void fieldFamilies(std::string& out, const std::vector<Reading>& readings, Chosen chosen) {
    std::vector<const MetricFamily*> families;
    for (const StatusField& field : STATUS_FIELDS) {
        if (field.metric != nullptr && chosen(field) &&
            std::find(families.begin(), families.end(), field.metric) == families.end()) {
            families.push_back(field.metric);
        }
    }
    for (const MetricFamily* metric : families) {
        family(out, metric->name, metric->help);
        for (const Reading& reading : readings) {
            if (!reading.answered()) {
                continue;
            }
            for (const StatusField& field : STATUS_FIELDS) {
                if (field.metric != metric || !chosen(field)) {
                    continue;
                }
                const std::string labels =
                    metric->label != nullptr
                        ? std::string(",") + metric->label + "=\"" + field.series + '"'
                        : std::string();
                const int byte = field.byte(reading.status);
                switch (field.kind) {
                    case FieldKind::Volts:
                        sample(out, metric->name, reading, labels, reading.texts.view.*field.text);
                        break;
                    case FieldKind::Whole:
                        sample(out, metric->name, reading, labels, std::to_string(byte));
                        break;
                    case FieldKind::Flags:
                        for (unsigned bit = 0; bit < 8; ++bit) {
                            sample(out, metric->name, reading,
                                   labels + ",bit=\"" + std::to_string(bit) + '"',
                                   ((static_cast<unsigned>(byte) >> bit) & 1U) != 0 ? "1" : "0");
                        }
                        break;
                }
            }
        }
    }
}

}  // namespace

std::string formatMetrics(const std::vector<Reading>& readings) {
    std::string out;
    family(out, "ostrel_controllers", "Controllers found by the device search.");
    out += "ostrel_controllers " + std::to_string(readings.size()) + '\n';

    family(out, "ostrel_up", "Whether the controller answered a status request (1) or not (0).");
    for (const Reading& reading : readings) {
        sample(out, "ostrel_up", reading, "", reading.answered() ? "1" : "0");
    }

    // What follows is told only of a controller that answered now: nothing stale.
    auto eachAnswered = [&](auto write) {
        for (const Reading& reading : readings) {
            if (reading.answered()) {
                write(reading);
            }
        }
    };
    family(out, "ostrel_firmware_info", "The controller's firmware version, as a label.");
    eachAnswered([&](const Reading& reading) {
        sample(out, "ostrel_firmware_info", reading,
               ",version=\"" + std::to_string(reading.status.major()) + "." +
                   std::to_string(reading.status.minor()) + '"',
               "1");
    });
    auto isFlags = [](const StatusField& field) { return field.kind == FieldKind::Flags; };
    fieldFamilies(out, readings, std::not_fn(isFlags));
    family(out, "ostrel_mode", "The controller's operating mode.");
    eachAnswered([&](const Reading& reading) {
        sample(out, "ostrel_mode", reading, "", std::to_string(int{reading.status.mode}));
    });
    fieldFamilies(out, readings, isFlags);
    return out;
}

int gatherReadings(CommandContext& context, std::vector<Reading>& readings) {
    platform::HidPlatform& platform = context.platforms.platform(context.global.simulated);
    std::FILE* diagnostics = context.global.verbose ? context.console.diagnostics : nullptr;
    std::vector<std::unique_ptr<HIDDescriptor>> chosen;
    if (context.global.device.empty()) {
        // Every controller, none included: a count of 0 is what an alert on a vanished
        // controller fires on.
        chosen = findControllers(platform, diagnostics);
    } else {
        Selection selection =
            selectControllers(platform, context.global.device, context.global.all, diagnostics);
        if (selection.code != EXIT_OK) {
            say(context, selection.message);
            return selection.code;
        }
        chosen = std::move(selection.chosen);
    }
    Controller::Options options;
    options.timeout = std::chrono::milliseconds(context.global.timeoutMs);
    std::vector<const HIDDescriptor*> asked;
    for (const std::unique_ptr<HIDDescriptor>& descriptor : chosen) {
        asked.push_back(descriptor.get());
    }
    // All at once, each with a table of its own, which its status switches to that
    // controller's firmware.
    const std::vector<StatusAnswer> answers = askStatusOfAll(platform, asked, options);
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        readings.push_back(answers[i].reading(
            escapeControls(chosen[i]->location.empty() ? chosen[i]->path : chosen[i]->location)));
    }
    return EXIT_OK;
}

}  // namespace ctl
