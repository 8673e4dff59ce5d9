// diff: what differs between a backup file and the controller.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/commands/OptionChecks.h"
#include "cli/commands/Verb.h"
#include "cli/files/FileArguments.h"
#include "cli/help/HelpText.h"
#include "core/files/BackupFile.h"
#include "core/names/ParamNames.h"
#include "core/session/BackupPlan.h"
#include "core/session/Session.h"
#include "params/StrictValue.h"
#include "params/ValueCodec.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;

struct DiffOptions {
    bool json = false;
    bool exitCode = false;  // EXIT_DIFFERS when a value differs
};

bool differs(const ParamTable& table, const Planned& item) {
    return !item.value.exact || !holds(table.row(item.row), item.current, item.value.wanted);
}

int commandDiff(CommandContext& context, const std::string& file, const DiffOptions& options) {
    Backup backup;
    if (!loadBackup(context, file, backup)) {
        return EXIT_USAGE;
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    warnFirmware(context, backup, session.status());
    std::vector<Planned> plan;
    if (const int code = planEntries(context, session, backup, plan); code != EXIT_OK) {
        return code;
    }
    json differences = json::array();
    std::ostream& out = context.console.out;
    std::size_t count = 0;
    for (const Planned& item : plan) {
        const ParamDef& row = session.table().row(item.row);
        if (!differs(session.table(), item)) {
            continue;
        }
        ++count;
        const std::string controllerText =
            utf8(decodeParamValue(row, item.current.first, item.current.second).c_str());
        if (options.json) {
            differences.push_back({{"row", item.row},
                                   {"address", row.address},
                                   {"name", utf8(row.name)},
                                   {"file", item.value.fileText},
                                   {"controller", controllerText},
                                   {"unit", utf8(row.unit)}});
        } else {
            out << utf8(row.name) << ": file " << withUnit(row, item.value.fileText)
                << ", controller " << withUnit(row, controllerText) << '\n';
        }
    }
    if (context.tally != nullptr) {
        context.tally->differing = static_cast<int>(count);
    }
    if (options.json) {
        out << json{{"compared", plan.size()}, {"differences", differences}}.dump(2) << '\n';
    } else {
        out << count << " of " << plan.size() << " parameters differ\n";
    }
    if (options.exitCode && count > 0) {
        return fail(context, EXIT_DIFFERS,
                    std::to_string(count) + " of " + std::to_string(plan.size()) +
                        " parameters differ from the file");
    }
    return EXIT_OK;
}

class DiffCommand final : public Command {
public:
    explicit DiffCommand(CLI::App& command) {
        command.add_option("FILE", m_file, "the backup file (- or a pipe for standard input)")
            ->required()
            ->check(notEmpty("file name"));
        command.add_flag("--json", m_options.json, "as JSON");
        command.add_flag("--exit-code", m_options.exitCode,
                         "exit with status 6 when a value differs (0 when none does)");
    }

    int run(CommandContext& context) override { return commandDiff(context, m_file, m_options); }
    // The file is read and checked once, before any controller is opened.
    int beforeAll(CommandContext& context, std::string& input) override {
        return readBackupText(context, m_file, input) ? EXIT_OK : EXIT_USAGE;
    }
    int runOnEach(CommandContext& own) override { return commandDiff(own, "-", m_options); }
    bool json() const override { return m_options.json; }

private:
    std::string m_file;
    DiffOptions m_options;
};

}  // namespace

extern const Verb DIFF{
    "diff",
    "what differs between a backup file and the controller",
    false,
    Claims::TheController,
    UnderAll::EachController,
    [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
        command.footer(helpFooter(
            {.value = true, .controller = true, .claims = true, .differs = true, .all = true}));
        return std::make_unique<DiffCommand>(command);
    }};

}  // namespace ctl
