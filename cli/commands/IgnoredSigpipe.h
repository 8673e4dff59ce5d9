// A command that runs until its reader goes (status --watch, station) must end as on Ctrl-C
// when the pipe it writes to closes, not be killed by SIGPIPE part way (a shell leaves the
// signal at its default, and `... | head -1` would end with 141): while one of these lives,
// a write to a closed pipe fails with EPIPE instead, which the command handles.
#pragma once

#ifndef _WIN32
#include <csignal>

namespace ctl {

class IgnoredSigpipe {
public:
    IgnoredSigpipe() {
        ::sigaction(SIGPIPE, nullptr, &m_before);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, nullptr);
    }
    ~IgnoredSigpipe() { ::sigaction(SIGPIPE, &m_before, nullptr); }
    IgnoredSigpipe(const IgnoredSigpipe&) = delete;
    IgnoredSigpipe& operator=(const IgnoredSigpipe&) = delete;

private:
    struct sigaction m_before {};
};

}  // namespace ctl
#else
namespace ctl {
// Windows has no SIGPIPE: a write to a closed pipe fails already. Not trivial, so that a
// guard that does nothing here is no unused variable.
struct IgnoredSigpipe {
    IgnoredSigpipe() {}
    ~IgnoredSigpipe() {}
    IgnoredSigpipe(const IgnoredSigpipe&) = delete;
    IgnoredSigpipe& operator=(const IgnoredSigpipe&) = delete;
};
}  // namespace ctl
#endif
