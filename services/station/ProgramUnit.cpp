#include "services/station/ProgramUnit.h"

#include <chrono>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/context/ExitStatus.h"
#include "core/names/ParamNames.h"
#include "core/session/BackupPlan.h"
#include "core/session/Session.h"

namespace ctl {
namespace {

using Clock = std::chrono::steady_clock;

// The first failure a unit's session said, without the program's name: why it stopped (the
// lines after it say what became of the rest, warnings come before it).
std::string firstFailure(const std::string& said) {
    constexpr std::string_view PREFIX = "ostrelctl: ";
    std::istringstream lines(said);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(PREFIX) && !line.starts_with("ostrelctl: warning:")) {
            return line.substr(PREFIX.size());
        }
    }
    return {};
}

// "NAME (why)" as the restore says a value that did not read back: the name and the why.
std::pair<std::string, std::string> nameAndWhy(const std::string& failed) {
    constexpr std::string_view NOT_READ = " (written, not read back)";
    if (failed.ends_with(NOT_READ)) {
        return {failed.substr(0, failed.size() - NOT_READ.size()), "written, not read back"};
    }
    if (const std::size_t holds = failed.find(" (holds "); holds != std::string::npos) {
        std::string why = failed.substr(holds + 2);
        if (why.ends_with(')')) {
            why.pop_back();
        }
        return {failed.substr(0, holds), why};
    }
    return {failed, "not read back"};
}

void addFailed(UnitResult& result, const std::vector<std::string>& names, const char* why) {
    for (const std::string& name : names) {
        result.failed.emplace_back(name, why);
    }
}

class Programming {
public:
    Programming(const Backup& profile, const ProgramOptions& options,
                const std::atomic<bool>& stopping, const std::function<std::string()>& stoppedBy)
        : m_profile(profile), m_options(options), m_stopping(stopping), m_stoppedBy(stoppedBy) {}

    UnitResult program(CommandContext& own, const std::ostringstream& err) {
        const Clock::time_point start = Clock::now();
        UnitResult result;
        Restored restored;
        try {
            Session session(own);
            result.code = session.start();
            if (result.code == EXIT_OK) {
                result.firmware = firmwareText(session.status());
            }
            if (result.code == EXIT_OK && m_options.factoryResetFirst) {
                const ParamDef* row = nullptr;
                result.code = session.factoryReset(row);
            }
            if (result.code == EXIT_OK) {
                result.code = writeBackup(own, session, m_profile, {false, m_options.convert, true},
                                          restored);
            }
            result.written = restored.verified.size() + restored.failed.size();
            bool verified = false;
            if (result.code == EXIT_OK && !restored.interrupted) {
                verified = true;
                result.code = verify(own, session, result);
            }
            result.reason = reasonOf(result, restored, err.str(), verified);
        } catch (const std::exception& error) {
            result.code = EXIT_USAGE;
            result.reason = error.what();
        }
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return result;
    }

    // Every parameter of the profile read back once more and compared with what it gives.
    int verify(CommandContext& own, Session& session, UnitResult& result) {
        std::vector<Planned> check;
        if (const int code = planEntries(own, session, m_profile, check); code != EXIT_OK) {
            return code;
        }
        std::vector<std::pair<int, ParamReport>> values;
        for (const Planned& item : check) {
            const ParamDef& row = session.table().row(item.row);
            values.emplace_back(row.size, item.current);
            if (holds(row, item.current, item.value.wanted)) {
                ++result.verified;
            } else {
                result.failed.emplace_back(utf8(row.name), "does not hold the profile's value");
            }
        }
        result.readbackSha256 = readbackDigest(values);
        return result.failed.empty() ? EXIT_OK : EXIT_TIMEOUT;
    }

    // Why the unit failed, in words for the person at the bench; the parameters it concerns
    // go into `result.failed`. Empty when it passed.
    std::string reasonOf(UnitResult& result, const Restored& restored, const std::string& said,
                         bool verified) const {
        if (result.code == EXIT_OK && !restored.interrupted) {
            return {};
        }
        std::string reason;
        if (!result.failed.empty()) {
            // Written, and then read back otherwise.
            reason = std::to_string(result.failed.size()) +
                     " parameters do not hold the profile's values";
        } else if (!restored.cannotHold.empty() && result.written == 0) {
            addFailed(result, restored.cannotHold, "cannot be held exactly by this firmware");
            reason = "firmware " + result.firmware + " cannot hold exactly " +
                     joinNames(restored.cannotHold) + "; nothing written (" +
                     m_options.convertOption + " writes the nearest values)";
        } else {
            for (const std::string& failed : restored.failed) {
                result.failed.push_back(nameAndWhy(failed));
            }
            addFailed(result, restored.notWritten, "not written");
            if (m_stopping.load() && (restored.interrupted || result.code == EXIT_INTERRUPTED)) {
                // However far it came: one wording.
                result.code = EXIT_INTERRUPTED;
                reason = "stopped by " + m_stoppedBy() + ": plug it in again";
            } else if (result.code == EXIT_LOST) {
                if (verified && result.failed.empty()) {
                    // Every value the verify did not come to is one this unit may not hold.
                    addProfileNames(result, "not read back in the verify");
                }
                reason = (verified ? "lost during the verify"
                          : restored.stoppedAt.empty()
                              ? firstFailure(said)
                              : "lost during the write of " + restored.stoppedAt) +
                         ": plug it in again";
            } else {
                reason = firstFailure(said);
            }
        }
        if (reason.empty()) {
            reason = "failed with exit status " + std::to_string(result.code);
        }
        if (result.written > 0) {
            reason += " (" + std::to_string(result.written) + " written)";
        }
        return reason;
    }

    void addProfileNames(UnitResult& result, const char* why) const {
        const ParamTable table = backupTable(m_profile);
        for (const BackupEntry& entry : m_profile.entries) {
            result.failed.emplace_back(utf8(table.row(entry.row).name), why);
        }
    }

private:
    const Backup& m_profile;
    const ProgramOptions& m_options;
    const std::atomic<bool>& m_stopping;
    const std::function<std::string()>& m_stoppedBy;
};

}  // namespace

UnitResult programUnit(CommandContext& own, const std::ostringstream& err, const Backup& profile,
                       const ProgramOptions& options, const std::atomic<bool>& stopping,
                       const std::function<std::string()>& stoppedBy) {
    return Programming(profile, options, stopping, stoppedBy).program(own, err);
}

}  // namespace ctl
