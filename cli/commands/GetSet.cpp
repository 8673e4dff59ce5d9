// The get and set commands' options; what they do is the core's (GetSet.h).
#include "core/session/GetSet.h"

#include <CLI/CLI.hpp>

#include "cli/commands/Verb.h"
#include "cli/help/HelpText.h"

namespace ctl {
namespace {

class GetCommand final : public Command {
public:
    explicit GetCommand(CLI::App& command) {
        command.add_option("PARAM", m_params, "the parameters to read");
        command.add_flag("--all", m_all,
                         "every parameter but the factory reset action (the program's --all, "
                         "before the command, is every controller)");
        command.add_flag("--json", m_json, "as JSON");
    }

    int run(CommandContext& context) override {
        return commandGet(context, m_params, m_all, m_json);
    }
    // No parameter named, or --all beside names: refused once, not once a controller.
    int beforeAll(CommandContext& context, std::string&) override {
        if (m_all == !m_params.empty()) {
            return run(context);
        }
        return EXIT_OK;
    }
    bool json() const override { return m_json; }

private:
    std::vector<std::string> m_params;
    bool m_all = false;
    bool m_json = false;
};

class SetCommand final : public Command {
public:
    explicit SetCommand(CLI::App& command) {
        command.add_option("PARAM", m_param, "the parameter")->required();
        command
            .add_option("VALUE", m_value,
                        "the value in the parameter's unit (5, 12.5, -20; for the timers "
                        "hh:mm:ss or Never); a value that starts with - is a value, never an "
                        "option")
            ->required();
        // After PARAM everything is the value: "set min-temp -5" and "set min-temp -hot" alike.
        command.positionals_at_end();
    }

    int run(CommandContext& context) override { return commandSet(context, m_param, m_value); }

private:
    std::string m_param;
    std::string m_value;
};

}  // namespace

extern const Verb GET{"get",
                      "reads parameters from the controller",
                      false,
                      Claims::TheController,
                      UnderAll::EachController,
                      [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
                          command.footer(helpFooter(
                              {.param = true, .controller = true, .claims = true, .all = true}));
                          return std::make_unique<GetCommand>(command);
                      }};

extern const Verb SET{
    "set",
    "writes one parameter, reads it back and says whether the controller holds it",
    false,
    Claims::TheController,
    UnderAll::EachController,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        command.footer(helpFooter(
            {.param = true, .value = true, .controller = true, .claims = true, .all = true}));
        return std::make_unique<SetCommand>(command);
    }};

}  // namespace ctl
