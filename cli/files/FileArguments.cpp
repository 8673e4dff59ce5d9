#include "cli/files/FileArguments.h"

#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>
#include <system_error>
#include <vector>

#include "cli/files/OutputFile.h"

namespace ctl {
namespace {

constexpr std::size_t MAX_FAULTS_SHOWN = 20;

// How messages name what was read: "-" is the standard input, as backup's "-" is said to be
// the standard output.
std::string inputName(const std::string& path) {
    return path == "-" ? "standard input" : path;
}

// The backup in `content`, read from `path`; false after listing its faults.
bool parseChecked(CommandContext& context, const std::string& path, const std::string& content,
                  Backup& backup) {
    std::vector<std::string> faults;
    backup = parseBackup(content, faults);
    if (faults.empty()) {
        return true;
    }
    for (std::size_t i = 0; i < faults.size() && i < MAX_FAULTS_SHOWN; ++i) {
        say(context, inputName(path) + ": " + faults[i]);
    }
    if (faults.size() > MAX_FAULTS_SHOWN) {
        say(context, inputName(path) + ": and " + std::to_string(faults.size() - MAX_FAULTS_SHOWN) +
                         " faults more");
    }
    return false;
}

}  // namespace

bool readInput(CommandContext& context, const std::string& path, std::string& content) {
    std::istream* stream = &context.console.in;
    std::ifstream file;
    if (path != "-") {
        std::error_code error;
        const std::filesystem::path named = filePath(path);
        const std::filesystem::file_status status = std::filesystem::status(named, error);
        if (error || !std::filesystem::exists(status)) {
            fail(context, EXIT_USAGE, path + ": no such file");
            return false;
        }
        if (std::filesystem::is_directory(status)) {
            fail(context, EXIT_USAGE, path + ": is a folder");
            return false;
        }
        // A pipe (restore <(...)) or a device has no size: read like "-", up to the limit.
        const bool sized = std::filesystem::is_regular_file(status);
        const std::uintmax_t size = sized ? std::filesystem::file_size(named, error) : 0;
        if (error || size > BACKUP_FILE_LIMIT) {
            fail(context, EXIT_USAGE,
                 path + ": too large for a backup file (at most " +
                     std::to_string(BACKUP_FILE_LIMIT) + " bytes)");
            return false;
        }
        file.open(named, std::ios::binary);
        if (!file) {
            fail(context, EXIT_USAGE, path + ": cannot be opened");
            return false;
        }
        stream = &file;
    }
    // The size may change under us, and the console's input has none: read one byte past
    // the limit at most.
    content.assign(static_cast<std::size_t>(BACKUP_FILE_LIMIT) + 1, '\0');
    stream->read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(stream->gcount()));
    if (content.size() > BACKUP_FILE_LIMIT) {
        fail(context, EXIT_USAGE,
             inputName(path) + ": too large for a backup file (at most " +
                 std::to_string(BACKUP_FILE_LIMIT) + " bytes)");
        return false;
    }
    if (stream->bad()) {
        fail(context, EXIT_USAGE, inputName(path) + ": cannot be read");
        return false;
    }
    return true;
}

bool writeOutput(CommandContext& context, const std::string& path, const std::string& content,
                 OutputName named) {
    if (path == "-") {
        context.console.out << content;
        context.console.out.flush();
        if (!context.console.out) {
            fail(context, EXIT_USAGE, "the standard output cannot be written");
            return false;
        }
        return true;
    }
    std::error_code ignored;
    const bool link = named == OutputName::MadeUp && std::filesystem::is_symlink(path, ignored);
    if (const std::string error = named == OutputName::MadeUp ? writeMadeUpFile(path, content)
                                                              : writeWholeFile(path, content);
        !error.empty()) {
        fail(context, EXIT_USAGE, error);
        return false;
    }
    if (link) {
        say(context, "warning: " + path +
                         " was a symbolic link; the link was replaced by the file, its target "
                         "left as it was");
    }
    return true;
}

bool loadBackup(CommandContext& context, const std::string& path, Backup& backup,
                std::string* content) {
    std::string read;
    std::string& text = content != nullptr ? *content : read;
    return readInput(context, path, text) && parseChecked(context, path, text, backup);
}

bool readBackupText(CommandContext& context, const std::string& path, std::string& content) {
    Backup backup;
    return readInput(context, path, content) && parseChecked(context, path, content, backup);
}

}  // namespace ctl
