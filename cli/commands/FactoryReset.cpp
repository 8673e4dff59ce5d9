// factory-reset: every parameter back to its factory value, with --yes.
#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>

#include "cli/commands/Verb.h"
#include "cli/names/ParamNames.h"
#include "cli/session/Session.h"
#include "params/ValueCodec.h"

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
    const ParamTable& table = session.table();
    for (const int index : table.offeredRows()) {
        const ParamDef& row = table.row(index);
        if (row.kind != PK_ACTION) {
            continue;
        }
        const std::optional<EncodedValue> value = encodeParamValue(row, "");
        if (context.interrupted.load()) {
            if (context.tally != nullptr) {
                context.tally->failed = 1;
            }
            printLists(context.console.out, "factory-reset", {}, {}, {utf8(row.name)});
            return fail(context, EXIT_INTERRUPTED, "interrupted; nothing was written");
        }
        if (const int code =
                session.check(session.controller().write(row, *value), "the factory reset");
            code != EXIT_OK) {
            return code;
        }
        if (context.tally != nullptr) {
            context.tally->written = 1;
        }
        context.console.out << "Factory reset sent. " << utf8(row.description) << '\n';
        return context.interrupted.load()
                   ? fail(context, EXIT_INTERRUPTED, "interrupted once the factory reset was sent")
                   : EXIT_OK;
    }
    return fail(context, EXIT_USAGE, "the parameter table has no factory reset");
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
        return std::make_unique<FactoryResetCommand>(command);
    }};

}  // namespace ctl
