// The backup file: a unit's parameters as JSON, with the firmware they were read from.
// Building one from values read, and reading one back with every fault found before
// anything is written.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
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

struct BackupEntry {
    int row = -1;
    std::string text;  // Windows-1252, as the codec takes it
};

struct Backup {
    int firmwareMajor = 0;
    int firmwareMinor = 0;
    std::vector<BackupEntry> entries;
};

// Reads and checks a whole file: format, firmware, and every entry names an offered
// parameter once, agrees with it on row and address, and carries a text the codec accepts.
// Every fault found goes into `faults`, naming its entry; the backup is usable only when
// there is none.
Backup parseBackup(std::string_view content, std::vector<std::string>& faults);

}  // namespace ctl
