#include "services/station/AppendLog.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace ctl {

#ifdef _WIN32

struct AppendLog::File {
    HANDLE handle = INVALID_HANDLE_VALUE;
    ~File() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

namespace {

std::string errorText(DWORD error) {
    return std::error_code(static_cast<int>(error), std::system_category()).message();
}

std::string lastErrorText() {
    return errorText(GetLastError());
}

}  // namespace

bool AppendLog::takeBack(std::size_t bytes) {
    // The log's handle may only append: the same file again, opened to write anywhere.
    const HANDLE handle =
        ReOpenFile(m_file->handle, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    bool done = GetFileSizeEx(handle, &size) && size.QuadPart >= 0 &&
                static_cast<unsigned long long>(size.QuadPart) >= bytes;
    if (done) {
        LARGE_INTEGER at{};
        at.QuadPart = size.QuadPart - static_cast<LONGLONG>(bytes);
        done = SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle) &&
               FlushFileBuffers(handle);
    }
    CloseHandle(handle);
    return done;
}

std::string AppendLog::open(const std::string& path) {
    m_path = path;
    auto file = std::make_unique<File>();
    // FILE_APPEND_DATA alone: every write goes to the end, whoever else appends.
    file->handle = CreateFileW(std::filesystem::path(path).c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file->handle == INVALID_HANDLE_VALUE) {
        return path + ": cannot be opened for appending (" + lastErrorText() + ")";
    }
    if (GetFileType(file->handle) != FILE_TYPE_DISK) {
        return path + ": not a regular file";
    }
    m_file = std::move(file);
    return {};
}

std::string AppendLog::append(const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(m_file->handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (!wrote || written != text.size()) {
        // A write that returned short says no error of its own: the disk is full.
        const DWORD error = wrote ? ERROR_DISK_FULL : GetLastError();
        std::string undone;
        if (written > 0 && !takeBack(written)) {
            undone = "; its last " + std::to_string(written) +
                     " bytes are part of a line that could not be taken back";
        }
        return m_path + ": cannot be written (" + errorText(error) + ")" + undone;
    }
    if (!FlushFileBuffers(m_file->handle)) {
        return m_path + ": cannot be flushed to the disk (" + lastErrorText() + ")";
    }
    return {};
}

#else

struct AppendLog::File {
    int fd = -1;
    ~File() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

namespace {

std::string errnoText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace

bool AppendLog::takeBack(std::size_t bytes) {
    const off_t end = ::lseek(m_file->fd, 0, SEEK_END);
    return end >= 0 && static_cast<std::size_t>(end) >= bytes &&
           ::ftruncate(m_file->fd, end - static_cast<off_t>(bytes)) == 0 &&
           ::fsync(m_file->fd) == 0;
}

std::string AppendLog::open(const std::string& path) {
    m_path = path;
    auto file = std::make_unique<File>();
    // Non-blocking for the open only: a FIFO without a reader must not hang the start.
    const int flagsMade = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    file->fd = ::open(path.c_str(), flagsMade);
    bool made = false;
    if (file->fd < 0 && errno == ENOENT) {
        file->fd = ::open(path.c_str(), flagsMade | O_CREAT | O_EXCL, 0644);
        made = file->fd >= 0;
    }
    if (file->fd < 0) {
        return path + ": cannot be opened for appending (" + errnoText(errno) + ")";
    }
    struct stat status {};
    if (::fstat(file->fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return path + ": not a regular file";
    }
    const int flags = ::fcntl(file->fd, F_GETFL);
    if (flags < 0 || ::fcntl(file->fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return path + ": cannot be set up (" + errnoText(errno) + ")";
    }
    // A new file's name is on the disk only once its folder is: else a power cut could lose
    // the whole log, every line fsynced.
    if (made) {
        std::filesystem::path folder = std::filesystem::path(path).parent_path();
        const int dir =
            ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const bool synced = dir >= 0 && ::fsync(dir) == 0;
        const int error = errno;
        if (dir >= 0) {
            ::close(dir);
        }
        if (!synced) {
            return path + ": its folder cannot be flushed to the disk (" + errnoText(error) + ")";
        }
    }
    m_device = status.st_dev;
    m_inode = status.st_ino;
    m_file = std::move(file);
    return {};
}

std::string AppendLog::append(const std::string& line) {
    const std::string text = line + "\n";
    // One write: with O_APPEND the line lands whole at the end, even beside another writer.
    // Where it began is known only after it: the end less what went in.
    const ssize_t written = ::write(m_file->fd, text.data(), text.size());
    if (written < 0 || static_cast<std::size_t>(written) != text.size()) {
        const int error = written < 0 ? errno : ENOSPC;
        std::string undone;
        // A part of a line would join the next run's first: the file goes back to where the
        // line began, so that every line stays one JSON object.
        if (written > 0 && !takeBack(static_cast<std::size_t>(written))) {
            undone = "; its last " + std::to_string(written) +
                     " bytes are part of a line that could not be taken back";
        }
        return m_path + ": cannot be written (" + errnoText(error) + ")" + undone;
    }
    if (::fsync(m_file->fd) != 0) {
        return m_path + ": cannot be flushed to the disk (" + errnoText(errno) + ")";
    }
    return {};
}

#endif

AppendLog::AppendLog() = default;
AppendLog::~AppendLog() = default;

bool AppendLog::isFile(const std::string& path) const {
#ifdef _WIN32
    std::error_code error;
    return m_file != nullptr && std::filesystem::equivalent(std::filesystem::path(path),
                                                            std::filesystem::path(m_path), error);
#else
    struct stat status {};
    return m_file != nullptr && ::stat(path.c_str(), &status) == 0 && status.st_dev == m_device &&
           status.st_ino == m_inode;
#endif
}

bool AppendLog::isOpen() const {
    return m_file != nullptr;
}

}  // namespace ctl
