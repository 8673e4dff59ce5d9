// A command's FILE: a path, or "-" for the console. Backup files are read whole, refused by
// size before they are read, and checked before anything is done with them; output goes to
// the console or replaces its file whole (writeWholeFile).
#pragma once

#include <cstdint>
#include <string>

#include "core/context/Context.h"
#include "core/files/BackupFile.h"

namespace ctl {

// What a file to read is, as its refusals name it, how large it may be, and whether "-" (the
// console's input) may stand for it.
struct InputKind {
    const char* name;  // "a backup file"
    std::uintmax_t limit;
    bool console;
};
inline constexpr InputKind BACKUP_INPUT{"a backup file", BACKUP_FILE_LIMIT, true};

// The whole file at `path` ("-": the console's input) into `content`; false after saying why.
bool readInput(CommandContext& context, const std::string& path, std::string& content,
               const InputKind& kind = BACKUP_INPUT);

// Who named an output file: the user (written as writeWholeFile does), or the program
// (backup --all's ostrel-LOCATION.json, written as writeMadeUpFile does).
enum class OutputName { User, MadeUp };

// `content` to `path` ("-": the console's output), whole or not at all; false after saying why.
bool writeOutput(CommandContext& context, const std::string& path, const std::string& content,
                 OutputName named = OutputName::User);

// The backup file at `path`, read and checked; false after listing its faults. The file's
// bytes go to `content` when given.
bool loadBackup(CommandContext& context, const std::string& path, Backup& backup,
                std::string* content = nullptr);

// Reads the backup file at `path` ("-": the console's input) into `content` and checks it
// as restore and diff do; false after saying why.
bool readBackupText(CommandContext& context, const std::string& path, std::string& content);

}  // namespace ctl
