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

std::string lastErrorText() {
    return std::error_code(static_cast<int>(GetLastError()), std::system_category()).message();
}

}  // namespace

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
    if (!WriteFile(m_file->handle, text.data(), static_cast<DWORD>(text.size()), &written,
                   nullptr) ||
        written != text.size()) {
        return m_path + ": cannot be written (" + lastErrorText() + ")";
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

std::string AppendLog::open(const std::string& path) {
    m_path = path;
    auto file = std::make_unique<File>();
    // Non-blocking for the open only: a FIFO without a reader must not hang the start.
    file->fd = ::open(path.c_str(),
                      O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
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
    m_file = std::move(file);
    return {};
}

std::string AppendLog::append(const std::string& line) {
    const std::string text = line + "\n";
    // One write: with O_APPEND the line lands whole at the end, even beside another writer.
    const ssize_t written = ::write(m_file->fd, text.data(), text.size());
    if (written < 0 || static_cast<std::size_t>(written) != text.size()) {
        return m_path + ": cannot be written (" +
               (written < 0 ? errnoText(errno) : std::string("short write")) + ")";
    }
    if (::fsync(m_file->fd) != 0) {
        return m_path + ": cannot be flushed to the disk (" + errnoText(errno) + ")";
    }
    return {};
}

#endif

AppendLog::AppendLog() = default;
AppendLog::~AppendLog() = default;

bool AppendLog::isOpen() const {
    return m_file != nullptr;
}

}  // namespace ctl
