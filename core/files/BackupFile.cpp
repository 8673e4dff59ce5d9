#include "core/files/BackupFile.h"

#include <optional>

#include "core/names/ParamNames.h"
#include "params/Cp1252.h"
#include "params/StrictValue.h"
#include "params/ValueCodec.h"

namespace ctl {
namespace {

using json = nlohmann::ordered_json;

std::string entryName(std::size_t index, const json& entry) {
    std::string name = "parameters[" + std::to_string(index) + "]";
    if (entry.is_object()) {
        const auto it = entry.find("name");
        if (it != entry.end() && it->is_string()) {
            name += " (" + it->get<std::string>() + ")";
        }
    }
    return name;
}

// An integer member in [low, high]; absent is fine unless required.
std::optional<long long> integerMember(const json& object, const char* key, long long low,
                                       long long high, bool required, const std::string& where,
                                       std::vector<std::string>& faults) {
    const auto it = object.find(key);
    if (it == object.end()) {
        if (required) {
            faults.push_back(where + ": \"" + key + "\" is missing");
        }
        return std::nullopt;
    }
    if (!it->is_number_integer()) {
        faults.push_back(where + ": \"" + key + "\" must be a whole number");
        return std::nullopt;
    }
    const bool isUnsigned = it->is_number_unsigned();
    if ((isUnsigned && it->get<unsigned long long>() > static_cast<unsigned long long>(high)) ||
        (!isUnsigned && (it->get<long long>() < low || it->get<long long>() > high))) {
        faults.push_back(where + ": \"" + key + "\" must lie between " + std::to_string(low) +
                         " and " + std::to_string(high));
        return std::nullopt;
    }
    return isUnsigned ? static_cast<long long>(it->get<unsigned long long>())
                      : it->get<long long>();
}

const json* stringMember(const json& object, const char* key, const std::string& where,
                         std::vector<std::string>& faults) {
    const auto it = object.find(key);
    if (it == object.end()) {
        faults.push_back(where + ": \"" + key + "\" is missing");
        return nullptr;
    }
    if (!it->is_string()) {
        faults.push_back(where + ": \"" + key + "\" must be a text");
        return nullptr;
    }
    return &*it;
}

EncodedValue encodedRaw(const ParamDef& row, int raw) {
    const auto value = static_cast<unsigned>(raw);
    if (row.size == 1) {
        return {0, static_cast<std::uint8_t>(value & 0xFF)};
    }
    return {static_cast<std::uint8_t>((value >> 8) & 0xFF),
            static_cast<std::uint8_t>(value & 0xFF)};
}

std::string rawText(const ParamDef& row, int raw) {
    return valueText(row, encodedRaw(row, raw));
}

}  // namespace

int rawValue(const ParamDef& row, std::uint8_t first, std::uint8_t second) {
    return row.size == 1 ? first : joinRaw16(first, second);
}

int rawValue(const ParamDef& row, const EncodedValue& value) {
    return row.size == 1 ? value.low : joinRaw16(value.high, value.low);
}

std::vector<int> valueRows(const ParamTable& table) {
    std::vector<int> rows;
    for (const int index : table.offeredRows()) {
        if (table.row(index).kind != PK_ACTION) {
            rows.push_back(index);
        }
    }
    return rows;
}

ParamTable backupTable(const Backup& backup) {
    ParamTable table;
    table.applyFirmwareVersion(static_cast<std::uint8_t>(backup.firmwareMajor << 4));
    return table;
}

nlohmann::ordered_json backupEntryJson(const ParamTable& table, const ReadValue& value) {
    const ParamDef& row = table.row(value.row);
    return {
        {"row", value.row},
        {"address", row.address},
        {"name", cp1252::toUtf8(row.name)},
        {"raw", rawValue(row, value.first, value.second)},
        {"text", cp1252::toUtf8(decodeParamValue(row, value.first, value.second))},
        {"unit", cp1252::toUtf8(row.unit)},
    };
}

nlohmann::ordered_json backupJson(const ParamTable& table, const BackupInfo& info,
                                  const std::vector<ReadValue>& values) {
    json parameters = json::array();
    for (const ReadValue& value : values) {
        parameters.push_back(backupEntryJson(table, value));
    }
    return {
        {"format", BACKUP_FORMAT},
        {"formatVersion", BACKUP_FORMAT_VERSION},
        {"firmware",
         {{"version",
           std::to_string(info.status.major()) + "." + std::to_string(info.status.minor())},
          {"major", info.status.major()},
          {"minor", info.status.minor()}}},
        {"mode", info.status.mode},
        {"takenAt", info.takenAt},
        {"durationMs", info.durationMs},
        {"parameters", std::move(parameters)},
    };
}

int readBackupEntry(const ParamTable& file, const json& entry, const std::string& where,
                    BackupEntry& out, std::vector<std::string>& faults) {
    if (!entry.is_object()) {
        faults.push_back(where + ": must be an object");
        return -1;
    }
    const std::size_t before = faults.size();
    const json* name = stringMember(entry, "name", where, faults);
    const bool hasText = entry.contains("text");
    const json* text = hasText ? stringMember(entry, "text", where, faults) : nullptr;
    const auto row = integerMember(entry, "row", 0, PARAM_ROW_COUNT - 1, false, where, faults);
    const auto address = integerMember(entry, "address", 0, 0xFF, false, where, faults);
    if (name == nullptr) {
        return -1;
    }
    const int found = resolveParamExactly(file, cp1252::fromUtf8(name->get<std::string>()));
    if (found < 0) {
        faults.push_back(where + ": no such parameter (\"ostrelctl list\" shows them)");
        return -1;
    }
    const ParamDef& def = file.row(found);
    if (def.kind == PK_ACTION) {
        faults.push_back(where + ": an action, not a value; use \"ostrelctl factory-reset\"");
        return -1;
    }
    if (row && *row != found) {
        faults.push_back(where + ": row " + std::to_string(*row) + " is not this parameter's (" +
                         std::to_string(found) + ")");
    }
    if (address && *address != def.address) {
        faults.push_back(where + ": address " + std::to_string(*address) +
                         " is not this parameter's (" + std::to_string(def.address) + ")");
    }
    const auto raw =
        integerMember(entry, "raw", 0, def.size == 1 ? 0xFF : 0xFFFF, false, where, faults);
    if (!entry.contains("raw") && !hasText) {
        faults.push_back(where + ": gives neither \"raw\" nor \"text\"");
    }
    if (faults.size() != before) {
        return -1;
    }
    out = BackupEntry{found, std::nullopt, std::nullopt};
    if (text != nullptr) {
        out.text = text->get<std::string>();
    }
    if (raw) {
        out.raw = static_cast<int>(*raw);
    }
    if (out.raw && out.text) {
        // Both: they must say the same, as the backup wrote them or as the text is stored.
        const auto typedAs = [&] {
            const StrictValue typed = parseStrictValue(def, *out.text);
            return typed.value ? rawValue(def, *typed.value) : -1;
        };
        if (*out.text != plainValueText(def, encodedRaw(def, *out.raw)) && typedAs() != *out.raw) {
            faults.push_back(where + ": \"text\" \"" + *out.text + "\" and \"raw\" " +
                             std::to_string(*out.raw) + " (" + rawText(def, *out.raw) +
                             ") disagree; keep the one that is meant and remove the other");
            return -1;
        }
    } else if (out.text) {
        if (const std::string refusal = refusalOnEveryFirmware(found, *out.text);
            !refusal.empty()) {
            faults.push_back(where + ": " + refusal);
            return -1;
        }
    }
    return found;
}

PlannedValue planValue(const ParamTable& file, const ParamTable& target, const BackupEntry& entry) {
    const ParamDef& from = file.row(entry.row);
    const ParamDef& to = target.row(entry.row);
    PlannedValue plan;
    if (!entry.raw) {
        // A text alone is taken as a typed value, with this controller's factors.
        const StrictValue typed = parseStrictValue(to, entry.text.value_or(""));
        plan.taken = typed.value.has_value();
        plan.message = typed.message;
        plan.wanted = typed.value.value_or(EncodedValue{});
        plan.fileText = entry.text.value_or("");
        return plan;
    }
    plan.fileText = plainValueText(from, encodedRaw(from, *entry.raw));
    if (from.factor == to.factor) {
        plan.wanted = encodedRaw(to, *entry.raw);
        return plan;
    }
    // Only voltage rows change factors between families, and their raw values are unsigned.
    plan.wanted = encodeParamNumber(to, *entry.raw * from.factor);
    plan.exact = plainValueText(to, plan.wanted) == plan.fileText;
    return plan;
}

Backup parseBackup(std::string_view content, std::vector<std::string>& faults) {
    Backup backup;
    json root;
    try {
        root = json::parse(content.begin(), content.end());
    } catch (const json::parse_error& error) {
        // Said plainly: the library's own text names its exception and internals.
        faults.push_back(content.find_first_not_of(" \t\r\n") == std::string_view::npos
                             ? "not a backup file: it is empty"
                             : "not a backup file: not JSON (it fails at byte " +
                                   std::to_string(error.byte) + ")");
        return backup;
    } catch (const json::out_of_range&) {
        faults.emplace_back("not a backup file: a number too large for JSON");
        return backup;
    } catch (const json::exception&) {
        faults.emplace_back("not a backup file: not JSON");
        return backup;
    }
    if (!root.is_object()) {
        faults.emplace_back("not a backup file: the top level must be an object");
        return backup;
    }
    const auto format = root.find("format");
    if (format == root.end() || !format->is_string() || *format != BACKUP_FORMAT) {
        faults.push_back(std::string("not a backup file: \"format\" must be \"") + BACKUP_FORMAT +
                         "\"");
        return backup;
    }
    const auto version = integerMember(root, "formatVersion", 0, 1000, true, "file", faults);
    if (version && *version != BACKUP_FORMAT_VERSION) {
        faults.push_back("file: format version " + std::to_string(*version) +
                         " is not one this program reads (" +
                         std::to_string(BACKUP_FORMAT_VERSION) + ")");
    }
    const auto firmware = root.find("firmware");
    if (firmware == root.end() || !firmware->is_object()) {
        faults.emplace_back("file: \"firmware\" must be an object with \"major\" and \"minor\"");
    } else {
        const auto major = integerMember(*firmware, "major", 0, 15, true, "firmware", faults);
        const auto minor = integerMember(*firmware, "minor", 0, 15, true, "firmware", faults);
        backup.firmwareMajor = static_cast<int>(major.value_or(0));
        backup.firmwareMinor = static_cast<int>(minor.value_or(0));
    }
    const auto parameters = root.find("parameters");
    if (parameters == root.end() || !parameters->is_array()) {
        faults.emplace_back("file: \"parameters\" must be a list");
        return backup;
    }
    const ParamTable table = backupTable(backup);
    std::vector<int> seenAt(PARAM_ROW_COUNT, -1);
    for (std::size_t i = 0; i < parameters->size(); ++i) {
        const json& item = (*parameters)[i];
        const std::string where = entryName(i, item);
        BackupEntry entry;
        const int found = readBackupEntry(table, item, where, entry, faults);
        if (found < 0) {
            continue;
        }
        const auto slot = static_cast<std::size_t>(found);
        if (seenAt[slot] >= 0) {
            faults.push_back(where + ": the same parameter as parameters[" +
                             std::to_string(seenAt[slot]) + "]");
            continue;
        }
        seenAt[slot] = static_cast<int>(i);
        backup.entries.push_back(std::move(entry));
    }
    return backup;
}

}  // namespace ctl
