// A log that only grows, one whole line at a time: opened for appending (created 0644 less
// the umask, its folder then on the disk too), each line on the disk (fsync) before append()
// returns, so that a power cut loses no line whose append returned. A line that does not go
// in whole (a full disk) is cut off again: the file never holds half a line of ours.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace ctl {

class AppendLog {
public:
    AppendLog();
    AppendLog(const AppendLog&) = delete;
    AppendLog& operator=(const AppendLog&) = delete;
    // Opens `path`, refusing anything but a regular file (a FIFO would block, a folder
    // cannot hold lines). An empty string, or "PATH: why" on failure.
    std::string open(const std::string& path);
    ~AppendLog();

    bool isOpen() const;
    // Whether `path` names the open log (the same file, whatever the name).
    bool isFile(const std::string& path) const;
    // Appends `line` and a line end in one write, and waits until they are on the disk.
    // An empty string, or why not.
    std::string append(const std::string& line);
    // Cuts the file's last `bytes` off again and waits until that is on the disk: the part of
    // a line a short write left. False when it could not.
    bool takeBack(std::size_t bytes);

private:
    struct File;
    std::unique_ptr<File> m_file;
    std::string m_path;
    unsigned long long m_device = 0;
    unsigned long long m_inode = 0;
};

}  // namespace ctl
