// factory-reset: every parameter back to its factory value, with --yes.
#include <CLI/CLI.hpp>
#include <ostream>

#include "cli/commands/Verb.h"
#include "cli/help/HelpText.h"
#include "core/names/ParamNames.h"
#include "core/session/Session.h"

namespace ctl {
namespace {

int commandFactoryReset(CommandContext& context, bool yes) {
    if (!yes) {
        return fail(context, EXIT_USAGE,
                    "factory-reset sets every parameter back to its factory value; give --yes "
                    "to do it");
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    if (context.interrupted.load()) {
        if (context.tally != nullptr) {
            context.tally->counted = true;
            context.tally->failed = 1;
        }
        if (const ParamDef* reset = session.factoryResetRow(); reset != nullptr) {
            printLists(context.console.out, "factory-reset", {}, {}, {utf8(reset->name)});
        }
        return fail(context, EXIT_INTERRUPTED, "interrupted; nothing was written");
    }
    const ParamDef* row = nullptr;
    if (const int code = session.factoryReset(row); code != EXIT_OK) {
        return code;
    }
    if (context.tally != nullptr) {
        context.tally->counted = true;
        context.tally->written = 1;
    }
    context.console.out << "Factory reset sent. " << utf8(row->description) << '\n';
    return context.interrupted.load()
               ? fail(context, EXIT_INTERRUPTED, "interrupted once the factory reset was sent")
               : EXIT_OK;
}

class FactoryResetCommand final : public Command {
public:
    explicit FactoryResetCommand(CLI::App& command) { command.add_flag("--yes", m_yes, "do it"); }

    int run(CommandContext& context) override { return commandFactoryReset(context, m_yes); }
    // Refused once, before any controller is opened, rather than once a controller.
    int beforeAll(CommandContext& context, std::string&) override {
        return m_yes ? EXIT_OK : commandFactoryReset(context, false);
    }

private:
    bool m_yes = false;
};

}  // namespace

extern const Verb FACTORY_RESET{
    "factory-reset",
    "sets every parameter back to its factory value (A4 A0 FF 01 FF 00)",
    false,
    Claims::TheController,
    UnderAll::EachController,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        command.footer(helpFooter({.controller = true, .claims = true, .all = true}));
        return std::make_unique<FactoryResetCommand>(command);
    }};

}  // namespace ctl
