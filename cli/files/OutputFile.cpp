#include "cli/files/OutputFile.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <thread>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#endif

namespace ctl {
namespace {

// Enough for any number of concurrent writers; a folder full of our names means something
// else is wrong.
constexpr int TEMPORARY_ATTEMPTS = 100;

constexpr const char* MISSING_FOLDER = "its folder does not exist";

// ".NAME.1a2b3c4d5e6f7a8b.tmp" beside the target: hidden, and recognisably ours.
std::filesystem::path temporaryName(const std::filesystem::path& target) {
    static thread_local std::mt19937_64 random = [] {
        std::random_device device;
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        return std::mt19937_64((std::uint64_t{device()} << 32) ^ device() ^
                               static_cast<std::uint64_t>(now));
    }();
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    std::filesystem::path name = ".";
    name += target.filename();
    name += std::string(".") + suffix + ".tmp";
    return target.parent_path() / name;
}

std::string describe(const std::string& path, const std::string& what, std::error_code error) {
    return path + ": " + what + " (" + error.message() + ")";
}

// A link the user named leads elsewhere (another disk, another user's file): writing through
// it changes a file they did not name, replacing it loses the link. Neither is guessed.
std::string refusedLink(const std::string& path, const std::string& target, bool dangling) {
    return path + ": is a symbolic link (to " + target +
           (dangling ? ", which does not exist" : "") + "): name the file itself";
}

std::string notAFile(const std::string& path) {
    return path +
           ": not a regular file (a folder, a FIFO, a device or a link to one); left as it is, "
           "nothing written";
}

#ifdef _WIN32

std::error_code lastError() {
    return {static_cast<int>(GetLastError()), std::system_category()};
}

bool writeAll(HANDLE handle, std::string_view content) {
    while (!content.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(handle, content.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        content.remove_prefix(written);
    }
    return true;
}

std::string replaceFile(const std::string& path, const std::wstring& target,
                        std::string_view content) {
    std::filesystem::path temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS && handle == INVALID_HANDLE_VALUE;
         ++attempt) {
        temporary = temporaryName(std::filesystem::path(target));
        handle = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
            return path + ": " + MISSING_FOLDER;
        }
        if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            return describe(path, "cannot create a temporary file beside it", lastError());
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        return path + ": cannot create a temporary file beside it";
    }
    const bool written = writeAll(handle, content) && FlushFileBuffers(handle);
    const std::error_code error = lastError();
    CloseHandle(handle);
    if (!written) {
        DeleteFileW(temporary.c_str());
        return describe(path, "cannot be written", error);
    }
    // Another writer replacing the same file at this moment holds it briefly.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(temporary.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return {};
        }
        const DWORD code = GetLastError();
        if (attempt >= 50 || (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION)) {
            const std::error_code moveError = lastError();
            DeleteFileW(temporary.c_str());
            return describe(path, "cannot be replaced", moveError);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The head of a symbolic link's reparse data (ntifs.h, which mingw-w64 keeps among the
// driver headers): the names follow it in the buffer.
struct SymbolicLinkReparse {
    ULONG tag;
    USHORT dataLength;
    USHORT reserved;
    USHORT substituteOffset;
    USHORT substituteLength;
    USHORT printOffset;
    USHORT printLength;
    ULONG flags;
};

// Whether `target` is a symbolic link itself (not a junction or another kind of reparse
// point), and the name it holds, as `dir` would print it. std::filesystem says nothing of
// links on mingw-w64 (is_symlink is false, read_symlink unsupported).
bool readSymbolicLink(const std::wstring& target, std::string& leadsTo) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    HANDLE handle =
        CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    alignas(8) unsigned char buffer[MAXIMUM_REPARSE_DATA_BUFFER_SIZE];
    DWORD got = 0;
    const bool read = DeviceIoControl(handle, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer,
                                      sizeof buffer, &got, nullptr) != 0;
    CloseHandle(handle);
    SymbolicLinkReparse head{};
    if (!read || got < sizeof head) {
        return false;
    }
    std::memcpy(&head, buffer, sizeof head);
    if (head.tag != IO_REPARSE_TAG_SYMLINK) {
        return false;
    }
    // The names are bounded by what the file system returned, never by its own lengths.
    const std::size_t begin = sizeof head + head.printOffset;
    std::wstring name;
    if (head.printLength % 2 == 0 && begin + head.printLength <= got) {
        name.resize(head.printLength / 2);
        std::memcpy(name.data(), buffer + begin, head.printLength);
    }
    // UTF-8, an unpaired surrogate becoming U+FFFD rather than an exception.
    const int length = WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()),
                                           nullptr, 0, nullptr, nullptr);
    leadsTo.assign(static_cast<std::size_t>(std::max(length, 0)), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), leadsTo.data(),
                            length, nullptr, nullptr);
    }
    return true;
}

}  // namespace

std::string writeWholeFile(const std::string& path, std::string_view content,
                           const std::atomic<bool>*) {
    const std::wstring target = filePath(path).wstring();
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return path + ": is a folder";
    }
    std::string leadsTo;
    const bool link = readSymbolicLink(target, leadsTo);
    // A device or a pipe is written straight; only a file on a disk is replaced.
    HANDLE handle = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        if (GetFileType(handle) != FILE_TYPE_DISK) {
            const bool written = writeAll(handle, content);
            const std::error_code error = lastError();
            CloseHandle(handle);
            return written ? std::string() : describe(path, "cannot be written", error);
        }
        CloseHandle(handle);
        if (link) {
            return refusedLink(path, leadsTo, false);
        }
    } else if (link) {
        const DWORD code = GetLastError();
        return refusedLink(path, leadsTo,
                           code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND);
    }
    return replaceFile(path, target, content);
}

std::string writeMadeUpFile(const std::string& path, std::string_view content) {
    const std::wstring target = std::filesystem::path(path).wstring();
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return notAFile(path);
    }
    // Asking for no access opens nothing but lets the type be read, through a link too.
    HANDLE handle = CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
        CloseHandle(handle);
        if (!disk) {
            return notAFile(path);
        }
    }
    return replaceFile(path, target, content);
}

#else

std::error_code lastError() {
    return {errno, std::generic_category()};
}

bool writeAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

constexpr int NO_READER = -2;

// How often an open waits again for a FIFO's reader, and so how soon it hears Ctrl-C.
constexpr std::chrono::milliseconds READER_RETRY{50};

// `path` opened for writing as it stands. A FIFO's open waits for a reader, which the
// system tells no one of: non-blocking opens are tried until one comes or Ctrl-C
// (NO_READER), and the write itself blocks again.
int openStraight(const std::string& path, bool fifo, const std::atomic<bool>* interrupted) {
    constexpr int FLAGS = O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC;
    if (!fifo) {
        return ::open(path.c_str(), FLAGS);
    }
    for (;;) {
        const int fd = ::open(path.c_str(), FLAGS | O_NONBLOCK);
        if (fd >= 0) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
                const int error = errno;
                ::close(fd);
                errno = error;
                return -1;
            }
            return fd;
        }
        if (errno != ENXIO) {
            return -1;
        }
        if (interrupted != nullptr && interrupted->load()) {
            return NO_READER;
        }
        std::this_thread::sleep_for(READER_RETRY);
    }
}

// The process's umask, read without changing it where the system tells it.
mode_t currentUmask() {
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status) != nullptr) {
            if (std::strncmp(line, "Umask:", 6) == 0) {
                std::fclose(status);
                return static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8) & 0777);
            }
        }
        std::fclose(status);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

std::string replaceFile(const std::string& path, const std::filesystem::path& target,
                        std::string_view content) {
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS && fd < 0; ++attempt) {
        temporary = temporaryName(target);
        // O_EXCL: never through a link or a file someone put there first.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == ENOENT) {
            return path + ": " + MISSING_FOLDER;
        }
        if (fd < 0 && errno != EEXIST) {
            return describe(path, "cannot create a temporary file beside it", lastError());
        }
    }
    if (fd < 0) {
        return path + ": cannot create a temporary file beside it";
    }
    const bool written = writeAll(fd, content) && ::fsync(fd) == 0 &&
                         ::fchmod(fd, static_cast<mode_t>(0666 & ~currentUmask())) == 0;
    const std::error_code error = lastError();
    if (::close(fd) != 0 || !written) {
        ::unlink(temporary.c_str());
        return describe(path, "cannot be written", written ? lastError() : error);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const std::error_code renameError = lastError();
        ::unlink(temporary.c_str());
        return describe(path, "cannot be replaced", renameError);
    }
    return {};
}

}  // namespace

std::string writeWholeFile(const std::string& path, std::string_view content,
                           const std::atomic<bool>* interrupted) {
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0) {
        if (errno != ENOENT) {
            return describe(path, "cannot be looked at", lastError());
        }
        return replaceFile(path, path, content);
    }
    const bool link = S_ISLNK(named.st_mode);
    std::error_code ignored;
    struct stat followed = named;
    if (link && ::stat(path.c_str(), &followed) != 0) {
        if (errno != ENOENT) {
            return describe(path, "cannot be looked at", lastError());
        }
        return refusedLink(path, std::filesystem::read_symlink(path, ignored).string(), true);
    }
    if (S_ISDIR(followed.st_mode)) {
        return path + ": is a folder";
    }
    // /dev/stdout and its kind name a descriptor the caller holds, even when it leads to a
    // regular file ("> file"): written straight, appended as the shell's ">>" would.
    const bool descriptor = path == "/dev/stdout" || path == "/dev/stderr" ||
                            path.starts_with("/dev/fd/") || path.starts_with("/proc/");
    if (S_ISREG(followed.st_mode) && !descriptor) {
        if (link) {
            return refusedLink(path, std::filesystem::read_symlink(path, ignored).string(), false);
        }
        // A link put at the name meanwhile is replaced by the rename, never written through.
        return replaceFile(path, path, content);
    }
    const int fd = openStraight(path, S_ISFIFO(followed.st_mode), interrupted);
    if (fd == NO_READER) {
        return path + ": no reader came before Ctrl-C; nothing written";
    }
    if (fd < 0) {
        return describe(path, "cannot be opened", lastError());
    }
    const bool written = writeAll(fd, content);
    const std::error_code error = lastError();
    return ::close(fd) == 0 && written ? std::string() : describe(path, "cannot be written", error);
}

std::string writeMadeUpFile(const std::string& path, std::string_view content) {
    struct stat followed {};
    if (::stat(path.c_str(), &followed) != 0) {
        if (errno != ENOENT) {
            return describe(path, "cannot be looked at", lastError());
        }
    } else if (!S_ISREG(followed.st_mode)) {
        return notAFile(path);
    }
    // The rename acts on the name: a link there is replaced, its target left alone. Whatever
    // is put there meanwhile is replaced likewise, never written into.
    return replaceFile(path, path, content);
}

#endif

std::filesystem::path filePath(const std::string& name) {
#ifdef _WIN32
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(name.data()), name.size()));
#else
    return std::filesystem::path(name);
#endif
}

}  // namespace ctl
