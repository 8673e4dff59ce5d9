// The backup file: a unit's parameters as JSON, with the firmware they were read from.
// Building one from values read, and reading one back with every fault found before
// anything is written.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/Wire.h"
#include "params/ParamTable.h"
#include "params/ValueCodec.h"

namespace ctl {

// The raw value as a row holds it: one byte, or high byte x 256 + low byte.
int rawValue(const ParamDef& row, std::uint8_t first, std::uint8_t second);
int rawValue(const ParamDef& row, const EncodedValue& value);

// The rows a backup holds: every offered row but the factory reset action.
std::vector<int> valueRows(const ParamTable& table);

inline constexpr const char* BACKUP_FORMAT = "ostrel-backup";
inline constexpr int BACKUP_FORMAT_VERSION = 1;
// A backup of every parameter is a few kilobytes; anything far larger is not one.
inline constexpr std::uintmax_t BACKUP_FILE_LIMIT = 1024 * 1024;

// One parameter as read: the value bytes of its parameter report.
struct ReadValue {
    int row = -1;
    std::uint8_t first = 0;
    std::uint8_t second = 0;
};

struct BackupInfo {
    StatusReport status;  // firmware version and mode
    std::string takenAt;  // UTC, ISO 8601
    long long durationMs = 0;
};

// The file's JSON; texts are the window's, in UTF-8.
nlohmann::ordered_json backupJson(const ParamTable& table, const BackupInfo& info,
                                  const std::vector<ReadValue>& values);

// One parameter as the file gives it. The raw value is the truth: a restore to the same
// firmware family writes it byte for byte. The text is for people (and diff); it is taken only
// from an entry without a raw value, as strictly as a typed value.
struct BackupEntry {
    int row = -1;
    std::optional<int> raw;
    std::optional<std::string> text;  // UTF-8
};

struct Backup {
    int firmwareMajor = 0;
    int firmwareMinor = 0;
    std::vector<BackupEntry> entries;
};

// The parameter table as the file's firmware has it (its factors).
ParamTable backupTable(const Backup& backup);

// The entry of one value as backupJson writes it.
nlohmann::ordered_json backupEntryJson(const ParamTable& table, const ReadValue& value);

// Reads and checks one entry of the file's "parameters" (its `where` names it in faults)
// against the table of the file's firmware: names an offered parameter, agrees with it on row
// and address, and holds a raw value the row can hold, a text that is wholly one value, or
// both when they agree. Returns the row, or -1 after adding its faults.
int readBackupEntry(const ParamTable& file, const nlohmann::ordered_json& entry,
                    const std::string& where, BackupEntry& out, std::vector<std::string>& faults);

// Reads and checks a whole file: format, firmware, and every entry as readBackupEntry does,
// each parameter once. Every fault found goes into `faults`, naming its entry; the backup is
// usable only when there is none.
Backup parseBackup(std::string_view content, std::vector<std::string>& faults);

// An entry's value for a controller whose table is `target`.
struct PlannedValue {
    bool taken = true;     // false: refused (the text does not fit this controller)
    EncodedValue wanted;   // what is written
    std::string fileText;  // the file's value as people read it, with its unit
    bool exact = true;     // false: the controller cannot hold the file's value; wanted is
                           // the nearest it can
    std::string message;   // the refusal, or what a text is stored as, or empty
};

// Within one firmware family (the row's factor unchanged) the raw value is written as it
// stands; across families it is converted through its engineering value (raw x factor) to the
// nearest raw value of the target, never silently: `exact` says whether that is the same.
PlannedValue planValue(const ParamTable& file, const ParamTable& target, const BackupEntry& entry);

}  // namespace ctl
