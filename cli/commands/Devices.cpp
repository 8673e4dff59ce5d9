// devices: every attached controller, where it is plugged and what it answers.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <vector>

#include "cli/commands/Verb.h"
#include "cli/help/HelpText.h"
#include "core/context/Columns.h"
#include "core/readings/StatusOfAll.h"
#include "core/selection/Selection.h"
#include "core/session/Controller.h"
#include "core/session/Session.h"
#include "core/texts/OutsideText.h"
#include "core/texts/StatusText.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;

// What --device takes for each controller, one a line (its path where it has no location),
// and nothing when none is found: for scripts and the completions, so no controller is asked.
int commandDevicesPlain(CommandContext& context) {
    platform::HidPlatform& platform = context.platforms.platform(context.global.simulated);
    for (const auto& descriptor : findControllers(
             platform, context.global.verbose ? context.console.diagnostics : nullptr)) {
        context.console.out << escapeControls(descriptor->location.empty() ? descriptor->path
                                                                           : descriptor->location)
                            << '\n';
    }
    return EXIT_OK;
}

int commandDevices(CommandContext& context, bool asJson) {
    platform::HidPlatform& platform = context.platforms.platform(context.global.simulated);
    const std::vector<std::unique_ptr<HIDDescriptor>> found =
        findControllers(platform, context.global.verbose ? context.console.diagnostics : nullptr);
    Controller::Options options;
    options.timeout = std::chrono::milliseconds(context.global.timeoutMs);
    std::vector<const HIDDescriptor*> asked;
    for (const auto& descriptor : found) {
        asked.push_back(descriptor.get());
    }
    // All at once: a silent controller costs one timeout, not one each.
    const std::vector<StatusAnswer> answers = askStatusOfAll(platform, asked, options);
    json list = json::array();
    std::vector<std::vector<std::string>> rows{
        {"LOCATION", "DEVICE", "PRODUCT", "FIRMWARE", "MODE"}};
    for (std::size_t i = 0; i < found.size(); ++i) {
        const HIDDescriptor& descriptor = *found[i];
        const StatusAnswer& answer = answers[i];
        const bool answered = answer.answered();
        char product[8];
        std::snprintf(product, sizeof product, "0x%04x", descriptor.productId);
        if (asJson) {
            json item = {{"location", descriptor.location},
                         {"path", descriptor.path},
                         {"productId", descriptor.productId},
                         {"answered", answered}};
            item["firmware"] = answered ? json(firmwareText(answer.status)) : json(nullptr);
            item["mode"] = answered ? json(answer.status.mode) : json(nullptr);
            list.push_back(std::move(item));
        } else if (answered) {
            rows.push_back({locationText(descriptor), escapeControls(descriptor.path), product,
                            firmwareText(answer.status), formatMode(answer.status)});
        } else {
            rows.push_back(
                {locationText(descriptor), escapeControls(descriptor.path), product, "no answer"});
        }
    }
    std::ostream& out = context.console.out;
    if (asJson) {
        out << list.dump(2) << '\n';
    } else if (found.empty()) {
        out << "no controller found\n";
    } else {
        out << alignedColumns(rows);
    }
    return EXIT_OK;
}

class DevicesCommand final : public Command {
public:
    explicit DevicesCommand(CLI::App& command) {
        auto* json = command.add_flag("--json", m_json, "as JSON");
        command
            .add_flag("--plain", m_plain,
                      "only what --device takes, one controller a line, no header; nothing when "
                      "none is found (no controller is asked)")
            ->excludes(json);
    }

    int run(CommandContext& context) override {
        if (!context.global.device.empty()) {
            return fail(context, EXIT_USAGE,
                        "devices lists every controller: it takes no --device");
        }
        return m_plain ? commandDevicesPlain(context) : commandDevices(context, m_json);
    }

private:
    bool m_json = false;
    bool m_plain = false;
};

}  // namespace

// One status request each, all at once, unclaimed: harmless to whoever holds a controller.
extern const Verb DEVICES{
    "devices",
    "every attached controller: location, device path, product id, firmware and mode "
    "(\"no answer\" when it gives no status)",
    false,
    Claims::Nothing,
    UnderAll::Refused,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        command.footer(helpFooter({}));
        return std::make_unique<DevicesCommand>(command);
    }};

}  // namespace ctl
