#include "cli/files/FileArguments.h"

#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>
#include <system_error>
#include <vector>

#include "cli/files/OutputFile.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

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

// A FIFO or a device may never end, or block a read: only what has a size is read.
std::string notRegular(const InputKind& kind) {
    return std::string(": not a regular file (") + kind.name +
           (kind.console ? ", or - for the standard input)" : ")");
}

std::string tooLarge(const InputKind& kind) {
    return std::string(": too large for ") + kind.name + " (at most " + std::to_string(kind.limit) +
           " bytes)";
}

bool checkSize(CommandContext& context, const std::string& path, const std::string& content,
               const InputKind& kind) {
    if (content.size() > kind.limit) {
        fail(context, EXIT_USAGE, inputName(path) + tooLarge(kind));
        return false;
    }
    return true;
}

// The standard input, or a file opened as a stream: read whole, one byte past the limit at
// most.
bool readStream(CommandContext& context, const std::string& path, std::istream& stream,
                std::string& content, const InputKind& kind) {
    content.assign(static_cast<std::size_t>(kind.limit) + 1, '\0');
    stream.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(stream.gcount()));
    if (!checkSize(context, path, content, kind)) {
        return false;
    }
    if (stream.bad()) {
        fail(context, EXIT_USAGE, inputName(path) + ": cannot be read");
        return false;
    }
    return true;
}

#ifndef _WIN32
std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}
#endif

}  // namespace

bool readInput(CommandContext& context, const std::string& path, std::string& content,
               const InputKind& kind) {
    if (path == "-" && kind.console) {
        return readStream(context, path, context.console.in, content, kind);
    }
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
#ifdef _WIN32
    if (!std::filesystem::is_regular_file(status)) {
        fail(context, EXIT_USAGE, path + notRegular(kind));
        return false;
    }
    std::ifstream file(named, std::ios::binary);
    if (!file) {
        fail(context, EXIT_USAGE, path + ": cannot be opened");
        return false;
    }
    return readStream(context, path, file, content, kind);
#else
    // Non-blocking, so that a FIFO without a writer cannot hang the open; what it is is
    // asked of what was opened, not of the name, which may change in between.
    const int fd = ::open(named.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        fail(context, EXIT_USAGE, path + ": cannot be opened (" + errnoText(errno) + ")");
        return false;
    }
    struct stat opened {};
    const bool regular = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
    if (!regular || static_cast<std::uintmax_t>(opened.st_size) > kind.limit) {
        ::close(fd);
        fail(context, EXIT_USAGE, path + (regular ? tooLarge(kind) : notRegular(kind)));
        return false;
    }
    // The size may change under us: one byte past the limit at most.
    content.assign(static_cast<std::size_t>(kind.limit) + 1, '\0');
    std::size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            fail(context, EXIT_USAGE, path + ": cannot be read (" + errnoText(errno) + ")");
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    content.resize(got);
    return checkSize(context, path, content, kind);
#endif
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
    if (const std::string error = named == OutputName::MadeUp
                                      ? writeMadeUpFile(path, content)
                                      : writeWholeFile(path, content, &context.interrupted);
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
