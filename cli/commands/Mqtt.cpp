// mqtt: every attached controller's status published to an MQTT broker until Ctrl-C, kept on
// disk while the broker cannot be reached (services/mqtt).
#include "services/mqtt/Mqtt.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "cli/commands/OptionChecks.h"
#include "cli/commands/Verb.h"
#include "cli/help/HelpText.h"

namespace ctl {
namespace mqtt {
namespace {

int notBuilt(CommandContext& context, const MqttOptions&) {
#ifdef _WIN32
    return fail(context, EXIT_USAGE,
                "mqtt is not available on Windows; \"ostrelctl metrics\" gives the same figures "
                "to windows_exporter's textfile collector");
#else
    return fail(context, EXIT_USAGE,
                "mqtt is not built into this program (Eclipse Paho C was missing when it was "
                "built); \"ostrelctl metrics\" gives the same figures to Prometheus");
#endif
}

// Set once, before the command line is parsed.
Runner g_runner = &notBuilt;

#ifndef _WIN32
const char* g_program = nullptr;
char** g_arguments = nullptr;

int handOver(CommandContext& context, const MqttOptions&) {
    std::string self(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= self.size()) {
        return fail(context, EXIT_USAGE,
                    std::string("mqtt: cannot tell where this program is (/proc/self/exe): ") +
                        std::strerror(length < 0 ? errno : ENAMETOOLONG));
    }
    self.resize(static_cast<std::size_t>(length));
    const std::string path =
        (std::filesystem::path(self).parent_path() / g_program).lexically_normal().string();
    // Nothing said so far may be lost with this process's buffers.
    context.console.out.flush();
    context.console.err.flush();
    std::fflush(nullptr);
    ::execv(path.c_str(), g_arguments);
    const int error = errno;
    if (error == ENOENT) {
        return fail(context, EXIT_USAGE,
                    "mqtt is not installed with this program: " + path +
                        " is missing; \"ostrelctl metrics\" gives the same figures to Prometheus");
    }
    return fail(context, EXIT_USAGE, "mqtt: cannot run " + path + ": " + std::strerror(error));
}
#endif

}  // namespace

#ifndef _WIN32
void useProgram(const char* program, char** arguments) {
    g_program = program;
    g_arguments = arguments;
    g_runner = &handOver;
}
#endif

void useRunner(Runner runner) {
    g_runner = runner;
}

Runner runner() {
    return g_runner;
}

}  // namespace mqtt

namespace {

class MqttCommand final : public Command {
public:
    explicit MqttCommand(CLI::App& command) {
        command.footer(helpFooter({}));
        command
            .add_option("--config", m_options.configPath,
                        "the settings: key = value lines (default /etc/ostrel/mqtt.conf)")
            ->option_text("FILE")
            ->check(notEmpty("file name"));
        command
            .add_option("--forget", m_options.forget,
                        "empty every retained topic of the controller at LOCATION (its "
                        "discovery, status and parameters), so that Home Assistant removes its "
                        "device for good, and end")
            ->option_text("LOCATION")
            ->check(notEmpty("location"));
    }

    int run(CommandContext& context) override {
        m_options.demo = context.global.simulated.on();
        return mqtt::runner()(context, m_options);
    }

private:
    mqtt::MqttOptions m_options;
};

}  // namespace

// Status only, unclaimed, beside the window and the other commands; every controller by
// default, or the one --device names: it needs no --all.
extern const Verb MQTT{"mqtt",
                       "publishes every controller's status to an MQTT broker until Ctrl-C, "
                       "keeping what it cannot send while the broker is out of reach; Home "
                       "Assistant finds the controllers by itself",
                       false,
                       Claims::Nothing,
                       UnderAll::ItsOwnWay,
                       [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
                           return std::make_unique<MqttCommand>(command);
                       }};

}  // namespace ctl
