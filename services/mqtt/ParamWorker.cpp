#include "services/mqtt/ParamWorker.h"

#include <chrono>
#include <sstream>

#include "core/session/GetSet.h"
#include "core/session/Session.h"
#include "services/station/ProgramUnit.h"

namespace ctl::mqtt {
namespace {

// The platform the publisher's controllers are on, for the jobs' contexts.
class SamePlatform final : public PlatformSource {
public:
    explicit SamePlatform(platform::HidPlatform& platform) : m_platform(platform) {}
    platform::HidPlatform& platform(const Simulation&) override { return m_platform; }

private:
    platform::HidPlatform& m_platform;
};

// The first line the command said on its error stream, without the program's name.
std::string firstLine(const std::string& said) {
    std::string line = said.substr(0, said.find('\n'));
    constexpr std::string_view NAME = "ostrelctl: ";
    return line.starts_with(NAME) ? line.substr(NAME.size()) : line;
}

}  // namespace

ParamWorker::ParamWorker(CommandContext& context, Done done)
    : m_context(context),
      m_platform(context.platforms.platform(context.global.simulated)),
      m_done(std::move(done)) {
    m_thread = std::thread([this] { loop(); });
}

ParamWorker::~ParamWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void ParamWorker::run(ParamJob job, Hold hold) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.emplace_back(std::move(job), std::move(hold));
    }
    m_wake.notify_one();
}

void ParamWorker::loop() {
    for (;;) {
        ParamJob job;
        Hold hold;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
            if (m_stop) {
                return;
            }
            job = std::move(m_jobs.front().first);
            hold = std::move(m_jobs.front().second);
            m_jobs.pop_front();
        }
        if (hold) {
            hold(true);
        }
        ParamDone done = perform(m_context, m_platform, job);
        if (hold) {
            hold(false);
        }
        m_done(std::move(done));
    }
}

ParamDone ParamWorker::perform(CommandContext& publisher, platform::HidPlatform& platform,
                               const ParamJob& job) {
    SamePlatform platforms(platform);
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    // The controller at the job's location only, claimed without waiting: another program
    // that holds it is answered, not waited for.
    GlobalOptions global = publisher.global;
    global.device = job.location;
    global.all = false;
    global.waitSeconds = 0;
    CommandContext context{Console{in, out, err, nullptr, false, 0}, platforms, global,
                           publisher.interrupted};
    ParamDone done{job, EXIT_OK, {}, {}};
    auto readAfter = [&](std::vector<std::string> names) {
        std::ostringstream values;
        std::ostringstream unsaid;
        CommandContext again{Console{in, values, unsaid, nullptr, false, 0}, platforms, global,
                             publisher.interrupted};
        if (commandGet(again, names, names.empty(), true) == EXIT_OK) {
            done.values = values.str();
        }
    };
    switch (job.kind) {
        case ParamJob::Kind::Read:
            done.code = commandGet(context, {}, true, true);
            if (done.code == EXIT_OK) {
                done.values = out.str();
            }
            break;
        case ParamJob::Kind::Write:
            done.code = commandSet(context, job.name, job.value);
            // Refused before anything was sent, nothing changed; else the controller is
            // read again, so that its topic says what it holds now.
            if (done.code != EXIT_USAGE && done.code != EXIT_CLAIMED &&
                done.code != EXIT_NO_DEVICE) {
                readAfter({job.name});
            }
            break;
        case ParamJob::Kind::Profile: {
            std::vector<std::string> faults;
            const Backup profile = parseBackup(job.value, faults);
            UnitResult result;
            if (!faults.empty()) {
                result.code = EXIT_USAGE;
                result.reason = faults.front() + "; nothing written";
            } else {
                result = programUnit(
                    context, err, profile, {job.convert, false, "\"convert\": true in the profile"},
                    publisher.interrupted, [] { return std::string("the publisher's end"); });
            }
            done.code = result.code;
            done.unit = std::move(result);
            done.time = utcText(std::chrono::system_clock::now(), true);
            break;
        }
        case ParamJob::Kind::FactoryReset: {
            Session session(context);
            done.code = session.start();
            const ParamDef* row = nullptr;
            if (done.code == EXIT_OK) {
                done.code = session.factoryReset(row);
            }
            break;
        }
    }
    if (done.code == EXIT_OK && job.kind == ParamJob::Kind::FactoryReset) {
        readAfter({});
    }
    done.said = firstLine(err.str());
    return done;
}

}  // namespace ctl::mqtt
