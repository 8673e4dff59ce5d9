#include "core/session/GetSet.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "core/files/BackupFile.h"
#include "core/names/ParamNames.h"
#include "core/session/Session.h"
#include "params/Cp1252.h"
#include "params/StrictValue.h"
#include "params/ValueCodec.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;

bool resolveAll(CommandContext& context, const ParamTable& table,
                const std::vector<std::string>& queries, std::vector<int>& rows) {
    bool ok = true;
    for (const std::string& query : queries) {
        const ParamMatch match = resolveParam(table, cp1252::fromUtf8(query));
        if (match.row < 0) {
            fail(context, EXIT_USAGE, describeMismatch(table, cp1252::fromUtf8(query), match));
            ok = false;
        } else {
            rows.push_back(match.row);
        }
    }
    return ok;
}

}  // namespace

int commandGet(CommandContext& context, const std::vector<std::string>& params, bool all,
               bool asJson) {
    if (!all && params.empty()) {
        return fail(context, EXIT_USAGE, "name the parameters to read, or give --all");
    }
    // get's --all is every parameter; the program's, before the command, every controller.
    if (all && !params.empty()) {
        return fail(context, EXIT_USAGE,
                    "get takes parameter names or --all (every parameter), not both; --all "
                    "before the command (ostrelctl --all get ...) reads every controller");
    }
    std::vector<int> rows;
    {
        const ParamTable names;
        if (all) {
            rows = valueRows(names);
        } else if (!resolveAll(context, names, params, rows)) {
            return EXIT_USAGE;
        }
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    json values = json::array();
    for (const int index : rows) {
        ParamReport value;
        if (const int code = session.read(index, value); code != EXIT_OK) {
            return code;
        }
        const ParamDef& row = session.table().row(index);
        const std::string text = utf8(decodeParamValue(row, value.first, value.second).c_str());
        if (asJson) {
            values.push_back({{"row", index},
                              {"address", row.address},
                              {"name", utf8(row.name)},
                              {"raw", rawValue(row, value.first, value.second)},
                              {"text", text},
                              {"unit", utf8(row.unit)}});
        } else {
            context.console.out << utf8(row.name) << ": " << withUnit(row, text) << '\n';
        }
    }
    if (asJson) {
        context.console.out << values.dump(2) << '\n';
    }
    return EXIT_OK;
}

int commandSet(CommandContext& context, const std::string& param, const std::string& value) {
    int index = -1;
    {
        const ParamTable names;
        std::vector<int> rows;
        if (!resolveAll(context, names, {param}, rows)) {
            return EXIT_USAGE;
        }
        index = rows.front();
        if (names.row(index).kind == PK_ACTION) {
            return fail(context, EXIT_USAGE,
                        quotedUtf8(names.row(index).name) +
                            " is an action; \"ostrelctl factory-reset --yes\" sends it");
        }
        // Refused by every firmware: refused before the controller is even looked for.
        if (const std::string refusal = refusalOnEveryFirmware(index, value); !refusal.empty()) {
            return fail(context, EXIT_USAGE, refusal);
        }
    }
    Session session(context);
    if (const int code = session.start(); code != EXIT_OK) {
        return code;
    }
    // Now with this controller's factors, before anything is written.
    const ParamDef& row = session.table().row(index);
    const StrictValue strict = parseStrictValue(row, value);
    if (!strict.value) {
        return fail(context, EXIT_USAGE, strict.message);
    }
    const EncodedValue encoded = *strict.value;
    if (!strict.message.empty()) {
        context.console.out << utf8(row.name) << ": " << strict.message << '\n';
    }
    if (context.interrupted.load()) {
        if (context.tally != nullptr) {
            context.tally->failed = 1;
        }
        printLists(context.console.out, "set", {}, {}, {utf8(row.name)});
        return fail(context, EXIT_INTERRUPTED, "interrupted; nothing was written");
    }
    if (const int code = session.check(session.controller().write(row, encoded),
                                       "the write of \"" + utf8(row.name) + "\"");
        code != EXIT_OK) {
        return code;
    }
    ParamReport readBack;
    if (const int code = session.readBack(index, encoded, readBack); code != EXIT_OK) {
        return code;
    }
    const std::string held = currentText(row, readBack);
    if (context.tally != nullptr) {
        context.tally->counted = true;
        context.tally->written = 1;
        (holds(row, readBack, encoded) ? context.tally->verified : context.tally->failed) = 1;
    }
    if (!holds(row, readBack, encoded)) {
        return fail(context, EXIT_TIMEOUT,
                    quotedUtf8(row.name) + " did not read back: written " +
                        valueText(row, encoded) + ", the controller holds " + held);
    }
    context.console.out << utf8(row.name) << ": " << held << " (written and read back)\n";
    return context.interrupted.load() ? interruptedAfterWriting(context) : EXIT_OK;
}

}  // namespace ctl
