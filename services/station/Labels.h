// The station's labels from a stream (--label -, a scanner on the standard input): one line a
// unit, the first line to the first unit that arrives, and so on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ctl {

// The longest label a line may give, in bytes, its line end aside.
inline constexpr std::size_t LABEL_MAX_BYTES = 200;

struct Label {
    enum class Kind {
        Read,     // `text` is the label
        Refused,  // `text` says why the line is none
        Ended,    // the input ended before this unit's line
        Stopped,  // the station stopped while the unit waited for it
    };
    Kind kind = Kind::Ended;
    std::string text;
    std::size_t line = 0;  // its line of the input, from 1
};

class LabelReader {
public:
    // Reads `in` on a thread of its own, a few lines ahead of the units.
    explicit LabelReader(std::istream& in);
    // A read of the process's standard input that waits for input that never comes cannot
    // be ended: the thread is then left to the process, with nothing of this object. On any
    // other stream, waits for the read in progress to return.
    ~LabelReader();
    LabelReader(const LabelReader&) = delete;
    LabelReader& operator=(const LabelReader&) = delete;

    // The label of unit `ticket` (0: the first to arrive): waits for its line, the input's
    // end, or `stop` (with wake()).
    Label take(std::size_t ticket, const std::atomic<bool>& stop);
    // Ends every take() waiting on a `stop` that is now true.
    void wake();
    // The input has ended and has no line for unit `ticket` or any later one.
    bool endedBefore(std::size_t ticket) const;

private:
    struct Shared;
    static void run(const std::shared_ptr<Shared>& shared, std::istream& in);

    std::shared_ptr<Shared> m_shared;
    const bool m_processInput;  // std::cin
    std::thread m_thread;
};

}  // namespace ctl
