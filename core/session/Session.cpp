#include "core/session/Session.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <ostream>
#include <utility>

#include "core/files/BackupFile.h"
#include "core/names/ParamNames.h"
#include "core/selection/Selection.h"
#include "core/texts/OutsideText.h"
#include "params/Numbers.h"
#include "params/StrictValue.h"

namespace ctl {

int Session::start() {
    if (m_context.interrupted.load()) {
        return fail(m_context, EXIT_INTERRUPTED, "interrupted; nothing was sent");
    }
    Controller::Options options;
    options.timeout = std::chrono::milliseconds(m_context.global.timeoutMs);
    platform::HidPlatform& platform = m_context.platforms.platform(m_context.global.simulated);
    m_controller = std::make_unique<Controller>(platform, m_table, options);
    std::unique_ptr<HIDDescriptor> selected;
    const HIDDescriptor* chosen = m_context.target;
    if (chosen == nullptr) {
        Selection selection =
            selectControllers(platform, m_context.global.device, false,
                              m_context.global.verbose ? m_context.console.diagnostics : nullptr);
        if (selection.code != EXIT_OK) {
            fail(m_context, selection.code, selection.message);
            for (const std::string& line : selection.listing) {
                m_context.console.err << "  " << escapeControls(line) << '\n';
            }
            return selection.code;
        }
        selected = std::move(selection.chosen.front());
        chosen = selected.get();
    }
    m_location = chosen->location;
    switch (m_controller->open(*chosen)) {
        case Controller::Found::One:
            break;
        case Controller::Found::Unopened:
            return fail(m_context, EXIT_NO_DEVICE,
                        "the controller at " + locationText(*chosen) + " (" + chosen->path +
                            ") was found but could not be opened");
        case Controller::Found::Moved:
            return fail(m_context, EXIT_NO_DEVICE,
                        "the controller at " + locationText(*chosen) + " (" + chosen->path +
                            ") is no longer there as chosen (unplugged or replugged); "
                            "nothing was sent");
    }
    if (m_context.claims) {
        if (const int code = takeClaim(); code != EXIT_OK) {
            return code;
        }
    }
    return check(m_controller->status(m_status), "the status request");
}

int Session::check(Outcome outcome, const std::string& what) {
    switch (outcome) {
        case Outcome::Ok:
            return EXIT_OK;
        case Outcome::Lost:
            return fail(m_context, EXIT_LOST, "the controller was lost (" + what + ")");
        case Outcome::Timeout:
            return fail(m_context, EXIT_TIMEOUT,
                        "no answer from the controller to " + what + " within " +
                            std::to_string(m_context.global.timeoutMs) + " ms");
        case Outcome::Refused:
            return fail(m_context, EXIT_TIMEOUT,
                        "the system refused to send " + what + " (error " +
                            std::to_string(m_controller->refusal()) +
                            "): it did not reach the controller");
    }
    return EXIT_LOST;
}

int Session::read(int row, ParamReport& value) {
    if (m_context.interrupted.load()) {
        return fail(m_context, EXIT_INTERRUPTED, "interrupted");
    }
    return check(m_controller->read(m_table.row(row), value),
                 "the read of \"" + utf8(m_table.row(row).name) + "\"");
}

int Session::readBack(int row, const EncodedValue& wanted, ParamReport& value) {
    return check(m_controller->readBack(m_table.row(row), wanted, value),
                 "the read of \"" + utf8(m_table.row(row).name) + "\"");
}

const ParamDef* Session::factoryResetRow() const {
    for (const int index : m_table.offeredRows()) {
        if (m_table.row(index).kind == PK_ACTION) {
            return &m_table.row(index);
        }
    }
    return nullptr;
}

int Session::factoryReset(const ParamDef*& row) {
    row = factoryResetRow();
    if (row == nullptr) {
        return fail(m_context, EXIT_USAGE, "the parameter table has no factory reset");
    }
    const std::optional<EncodedValue> value = encodeParamValue(*row, "");
    return check(m_controller->write(*row, *value), "the factory reset");
}

int Session::takeClaim() {
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double>(m_context.global.waitSeconds));
    const platform::ClaimResult claimed =
        m_controller->claim("ostrelctl", wait, m_context.interrupted);
    switch (claimed.status) {
        case platform::ClaimStatus::Held:
            return EXIT_OK;
        case platform::ClaimStatus::Failed:
            return fail(m_context, EXIT_NO_DEVICE,
                        "the controller was found but could not be claimed (system error " +
                            std::to_string(m_controller->lastError()) + ")");
        case platform::ClaimStatus::Busy:
            break;
    }
    const std::string holder = holderText(claimed.holder);
    if (m_context.interrupted.load()) {
        return fail(m_context, EXIT_INTERRUPTED,
                    "interrupted while the controller was in use by " + holder);
    }
    if (m_context.global.waitSeconds <= 0) {
        return fail(m_context, EXIT_CLAIMED,
                    "the controller is in use by " + holder + "; close it or use --wait");
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%g", m_context.global.waitSeconds);
    return fail(m_context, EXIT_CLAIMED,
                "the controller is still in use by " + holder + " after waiting " + seconds + " s");
}

std::string firmwareText(const StatusReport& status) {
    return std::to_string(status.major()) + "." + std::to_string(status.minor());
}

std::optional<std::uint8_t> firmwareVersion(std::string_view text) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> major = numbers::readWhole(text.substr(0, dot), 1, 15);
    const std::optional<std::uint32_t> minor = numbers::readWhole(text.substr(dot + 1), 0, 15);
    if (!major || !minor) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(*major << 4 | *minor);
}

std::string currentText(const ParamDef& row, const ParamReport& value) {
    return withUnit(row, utf8(decodeParamValue(row, value.first, value.second).c_str()));
}

bool holds(const ParamDef& row, const ParamReport& value, const EncodedValue& wanted) {
    return rawValue(row, value.first, value.second) == rawValue(row, wanted);
}

namespace {

std::string join(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

}  // namespace

void printLists(std::ostream& out, const char* command, const std::vector<std::string>& verified,
                const std::vector<std::string>& failed,
                const std::vector<std::string>& notWritten) {
    if (!verified.empty()) {
        out << "Written and verified: " << join(verified) << '\n';
    }
    if (!failed.empty()) {
        out << "Failed: " << join(failed) << '\n';
    }
    if (!notWritten.empty()) {
        out << "Not written: " << join(notWritten) << '\n';
    }
    if (const std::size_t left = failed.size() + notWritten.size(); left > 0) {
        out << "Run the same " << command << " again to write the " << left
            << (left == 1 ? " parameter" : " parameters") << " left\n";
    }
}

int interruptedAfterWriting(CommandContext& context) {
    return fail(context, EXIT_INTERRUPTED,
                "interrupted; stopped before the next write, after the one in progress and its "
                "read-back");
}

}  // namespace ctl
