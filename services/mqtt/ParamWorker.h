// Runs the parameters' reads and writes that ParamLink asks for, one at a time on a thread of
// its own, as `ostrelctl get --json`, `set` and `factory-reset` run them: the controller
// claimed for each and let go after it, every write read back. What they say is kept, not
// printed: it is what the result topic answers.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "core/context/Context.h"
#include "services/mqtt/ParamLink.h"

namespace ctl::mqtt {

class ParamWorker {
public:
    using Done = std::function<void(ParamDone done)>;

    // `context`: the publisher's, whose platform, options and Ctrl-C the jobs share; `done`
    // is told on the worker's thread.
    ParamWorker(CommandContext& context, Done done);
    // After the job in progress; those still waiting are dropped.
    ~ParamWorker();
    ParamWorker(const ParamWorker&) = delete;
    ParamWorker& operator=(const ParamWorker&) = delete;

    // Told true before the job and false after it, on the worker's thread: the owner lets go
    // of the controller meanwhile.
    using Hold = std::function<void(bool before)>;
    void run(ParamJob job, Hold hold = {});

    // One job, on the caller's thread, with the controllers of `platform`.
    static ParamDone perform(CommandContext& context, platform::HidPlatform& platform,
                             const ParamJob& job);

private:
    void loop();

    CommandContext& m_context;
    platform::HidPlatform& m_platform;  // looked up once, on the owner's thread
    Done m_done;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::pair<ParamJob, Hold>> m_jobs;
    bool m_stop = false;
    std::thread m_thread;  // last: started once everything above is set
};

}  // namespace ctl::mqtt
