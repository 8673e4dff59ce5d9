// Writing a whole output file (a backup, metrics) so that nobody ever reads half of it and
// nothing but the named path changes.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

namespace ctl {

// The file a name of the command line names: its texts are UTF-8 on every system, which
// Windows' file names are not (std::filesystem reads a char string there byte by byte).
std::filesystem::path filePath(const std::string& name);

// A missing path or a regular file is replaced in one step: the content goes to a temporary
// file created exclusively beside it, under a random name and never through a link planted
// there (mode 0600 while it is written, then the mode the umask gives), and is renamed over
// the path. A symbolic link (a Windows symlink reparse point too) that leads to a regular
// file or to nothing is refused, naming what it points to, and nothing is touched: the user
// names the file itself. Anything else (a FIFO, a terminal, or a link to one; /dev/stdout and
// /dev/fd/N whatever they lead to; a Windows device or pipe) is written straight, never
// replaced. Two writers of one path both succeed; the file then holds one of the two
// contents, whole.
// A FIFO is waited on until it has a reader or `interrupted` (when given) is set.
// Returns the error, naming `path`; empty when everything was written. "-" is no name here.
std::string writeWholeFile(const std::string& path, std::string_view content,
                           const std::atomic<bool>* interrupted = nullptr);

// For a name the program made up (backup --all's files), where whatever is there was put by
// somebody else: the content goes to a temporary file beside it as above and is renamed
// over the name itself, which replaces a symbolic link, never its target. An entry that is
// no regular file, nor a link to one or to nothing (a folder, a FIFO, a terminal or another
// device, or a link to one), is refused and left as it is; nothing is ever written into it.
std::string writeMadeUpFile(const std::string& path, std::string_view content);

}  // namespace ctl
