#include "services/metrics/Metrics.h"

#include <array>
#include <chrono>
#include <memory>
#include <ostream>

#include "core/texts/OutsideText.h"
#include "core/selection/Selection.h"
#include "core/session/Controller.h"
#include "core/readings/StatusOfAll.h"

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

struct Volts {
    const char* rail;  // empty: a family of its own
    std::string StatusView::*text;
};

// The flag registers. Each bit is a series of its own (ostrel_flag{register,bit} 0 or 1):
// an alert on one condition is then `ostrel_flag{register="voltage",bit="3"} == 1`, where the
// byte would need `floor(x / 8) % 2` in every rule; six registers of eight bits are 48 cheap
// series a controller. The bytes are not exported beside them: the same figure twice.
struct FlagRegister {
    const char* name;
    std::uint8_t StatusReport::*byte;
};

constexpr std::array FLAG_REGISTERS{
    FlagRegister{"voltage", &StatusReport::voltageFlags},
    FlagRegister{"status1", &StatusReport::statusFlags1},
    FlagRegister{"status2", &StatusReport::statusFlags2},
    FlagRegister{"timer", &StatusReport::timerFlags},
    FlagRegister{"input", &StatusReport::inputFlags},
    FlagRegister{"output", &StatusReport::outputFlags},
};

}  // namespace

std::string formatMetrics(const std::vector<Reading>& readings) {
    std::string out;
    family(out, "ostrel_controllers", "Controllers found by the device search.");
    out += "ostrel_controllers " + std::to_string(readings.size()) + '\n';

    family(out, "ostrel_up", "Whether the controller answered a status request (1) or not (0).");
    for (const Reading& reading : readings) {
        sample(out, "ostrel_up", reading, "", reading.answered ? "1" : "0");
    }

    // What follows is told only of a controller that answered now: nothing stale.
    auto eachAnswered = [&](auto write) {
        for (const Reading& reading : readings) {
            if (reading.answered) {
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
    family(out, "ostrel_input_volts", "Input (battery) voltage.");
    eachAnswered([&](const Reading& reading) {
        sample(out, "ostrel_input_volts", reading, "", reading.texts.m_voltageIn);
    });
    family(out, "ostrel_ignition_volts", "Ignition line voltage.");
    eachAnswered([&](const Reading& reading) {
        sample(out, "ostrel_ignition_volts", reading, "", reading.texts.m_ignition);
    });
    family(out, "ostrel_rail_volts", "Output rail voltage.");
    constexpr std::array RAILS{Volts{"3.3V", &StatusView::m_voltage3V},
                               Volts{"5V", &StatusView::m_voltage5V},
                               Volts{"12V", &StatusView::m_voltage12V}};
    eachAnswered([&](const Reading& reading) {
        for (const Volts& rail : RAILS) {
            sample(out, "ostrel_rail_volts", reading, std::string(",rail=\"") + rail.rail + '"',
                   reading.texts.*rail.text);
        }
    });
    family(out, "ostrel_temperature_celsius", "The controller's temperature.");
    eachAnswered([&](const Reading& reading) {
        sample(out, "ostrel_temperature_celsius", reading, "",
               std::to_string(int{reading.status.temperature}));
    });
    family(out, "ostrel_state", "The controller's power state machine state.");
    eachAnswered([&](const Reading& reading) {
        sample(out, "ostrel_state", reading, "", std::to_string(int{reading.status.state}));
    });
    family(out, "ostrel_mode", "The controller's operating mode.");
    eachAnswered([&](const Reading& reading) {
        sample(out, "ostrel_mode", reading, "", std::to_string(int{reading.status.mode}));
    });
    family(out, "ostrel_flag", "One bit of a flag register (bit 0 the lowest).");
    eachAnswered([&](const Reading& reading) {
        for (const FlagRegister& reg : FLAG_REGISTERS) {
            const unsigned byte = reading.status.*reg.byte;
            for (unsigned bit = 0; bit < 8; ++bit) {
                sample(out, "ostrel_flag", reading,
                       std::string(",register=\"") + reg.name + "\",bit=\"" + std::to_string(bit) +
                           '"',
                       ((byte >> bit) & 1U) != 0 ? "1" : "0");
            }
        }
    });
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
        Reading& reading = readings.emplace_back();
        reading.location =
            escapeControls(chosen[i]->location.empty() ? chosen[i]->path : chosen[i]->location);
        if (answers[i].answered()) {
            reading.answered = true;
            reading.status = answers[i].status;
            formatStatusFields(answers[i].table, reading.status, reading.texts);
        }
    }
    return EXIT_OK;
}

}  // namespace ctl
