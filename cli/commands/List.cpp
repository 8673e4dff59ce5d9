// list: the parameters of the table, with their short names; no controller needed.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/commands/Verb.h"
#include "cli/help/HelpText.h"
#include "core/names/ParamNames.h"
#include "params/ParamTable.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;

int commandList(CommandContext& context, bool asJson) {
    const ParamTable table;
    std::ostream& out = context.console.out;
    json list = json::array();
    if (!asJson) {
        out << "ROW ADDR SIZE UNIT        NAME (SHORT NAME)\n";
    }
    for (const int index : table.offeredRows()) {
        const ParamDef& row = table.row(index);
        if (asJson) {
            list.push_back({{"row", index},
                            {"address", row.address},
                            {"size", row.size},
                            {"name", utf8(row.name)},
                            {"shortName", shortName(row.name)},
                            {"unit", utf8(row.unit)},
                            {"description", utf8(row.description)}});
            continue;
        }
        char head[32];
        std::snprintf(head, sizeof head, "%3d 0x%02X %4d ", index,
                      static_cast<unsigned>(row.address), static_cast<int>(row.size));
        // Padded by characters, not bytes: the unit is CP-1252, one byte a character, while
        // its UTF-8 takes two bytes for the degree sign.
        const std::size_t unitWidth = std::strlen(row.unit);
        const std::string unit =
            utf8(row.unit) + std::string(std::max<std::size_t>(unitWidth + 1, 12) - unitWidth, ' ');
        out << head << unit << utf8(row.name) << " (" << shortName(row.name) << ")\n"
            << std::string(26, ' ') << utf8(row.description) << '\n';
    }
    if (asJson) {
        out << list.dump(2) << '\n';
    }
    return EXIT_OK;
}

class ListCommand final : public Command {
public:
    explicit ListCommand(CLI::App& command) { command.add_flag("--json", m_json, "as JSON"); }

    int run(CommandContext& context) override { return commandList(context, m_json); }

private:
    bool m_json = false;
};

}  // namespace

extern const Verb LIST{"list",
                       "the parameters: row, address, size, unit, description",
                       false,
                       Claims::Nothing,
                       UnderAll::Refused,
                       [](CLI::App& command, Program&) -> std::unique_ptr<Command> {
                           command.footer(helpFooter({}));
                           return std::make_unique<ListCommand>(command);
                       }};

}  // namespace ctl
