#include "core/session/Controller.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "core/files/BackupFile.h"
#include "core/selection/Selection.h"

namespace ctl {

WaitingInterface::WaitingInterface(HIDDevice* device) : HIDOstrel(device, DeferAttach{}) {
    attach();
}

WaitingInterface::~WaitingInterface() {
    // No delivery may reach this object once its members start to go.
    detach();
}

void WaitingInterface::onReport(const HArray& report) {
    HIDOstrel::onReport(report);
    arrived();
}

void WaitingInterface::onDisconnect() {
    HIDOstrel::onDisconnect();
    arrived();
}

void WaitingInterface::arrived() {
    {
        std::lock_guard lock(m_mutex);
        ++m_arrivals;
    }
    m_arrival.notify_all();
}

std::unique_ptr<HArray> WaitingInterface::nextReport(
    std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        std::uint64_t seen = 0;
        {
            std::lock_guard lock(m_mutex);
            seen = m_arrivals;
        }
        if (std::unique_ptr<HArray> report = popReport()) {
            return report;
        }
        std::unique_lock lock(m_mutex);
        if (!m_arrival.wait_until(lock, deadline, [&] { return m_arrivals != seen; })) {
            return nullptr;
        }
    }
}

namespace {

// Whether a controller is still at the path and place it was chosen at.
bool stillThere(platform::HidPlatform& platform, const HIDDescriptor& chosen) {
    bool same = false;
    for (const auto& present : findControllers(platform, nullptr)) {
        same = same || (present->path == chosen.path && present->location == chosen.location);
    }
    return same;
}

}  // namespace

Controller::Controller(platform::HidPlatform& platform, ParamTable& table, const Options& options)
    : m_platform(platform), m_table(table), m_options(options) {
    m_options.attempts = std::max(1, m_options.attempts);
}

Controller::~Controller() {
    // As the window does: the interface (it detaches), then the channel (it stops the reader).
    m_interface.reset();
    m_channel.reset();
}

Controller::Found Controller::open(const HIDDescriptor& chosen) {
    m_channel = std::make_unique<HIDDevice>(m_platform, std::make_unique<HIDDescriptor>(chosen),
                                            ReaderPacing::BusSpeed);
    if (!m_channel->connected()) {
        m_channel.reset();
        return Found::Unopened;
    }
    // The controller may have been unplugged and another device plugged in under the same
    // path since it was chosen: once open, the path must still be a controller at the same
    // place, or nothing is sent to it.
    if (!stillThere(m_platform, chosen)) {
        m_channel.reset();
        return Found::Moved;
    }
    m_interface = std::make_unique<WaitingInterface>(m_channel.get());
    return Found::One;
}

platform::ClaimResult Controller::claim(const char* program, std::chrono::milliseconds wait,
                                        const std::atomic<bool>& interrupted) {
    constexpr auto RETRY = std::chrono::milliseconds(50);
    const char* path = m_channel ? m_channel->descriptor().path.c_str() : nullptr;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        platform::ClaimResult result = m_platform.claim(path, program);
        if (result.status != platform::ClaimStatus::Busy || interrupted.load()) {
            m_claim = std::move(result.claim);
            return result;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return result;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(RETRY, deadline - now));
    }
}

bool Controller::drain() {
    while (std::unique_ptr<HArray> report = m_interface->popReport()) {
        const auto bytes = report->bytes();
        if (classifyReport(bytes) == ReportKind::Event &&
            decodeEventReport(bytes).code == EVENT_DISCONNECTED) {
            m_lost = true;
        }
    }
    return !m_lost;
}

Outcome Controller::ask(Want want, std::uint8_t address, int size, HArray& answer) {
    if (!m_interface || !drain()) {
        return Outcome::Lost;
    }
    const auto slice = m_options.timeout / m_options.attempts;
    for (int attempt = 0; attempt < m_options.attempts; ++attempt) {
        const bool written = want == Want::Status
                                 ? m_interface->trySendCommand(CMD_STATUS)
                                 : m_interface->trySendParam(size, address, false, 0, 0);
        if (const Outcome outcome = sent(written); outcome != Outcome::Ok) {
            return outcome;
        }
        const auto deadline = std::chrono::steady_clock::now() + slice;
        while (std::unique_ptr<HArray> report = m_interface->nextReport(deadline)) {
            const auto bytes = report->bytes();
            // Answers to other programs and reports of other kinds pass by unused.
            switch (classifyReport(bytes)) {
                case ReportKind::Event:
                    if (decodeEventReport(bytes).code == EVENT_DISCONNECTED) {
                        m_lost = true;
                        return Outcome::Lost;
                    }
                    break;
                case ReportKind::Status:
                    if (want == Want::Status) {
                        answer = std::move(*report);
                        return Outcome::Ok;
                    }
                    break;
                case ReportKind::Param:
                    if (want == Want::Param && decodeParamReport(bytes).address == address) {
                        answer = std::move(*report);
                        return Outcome::Ok;
                    }
                    break;
                case ReportKind::History:
                case ReportKind::Ignored:
                    break;
            }
        }
    }
    // No answer from a controller whose node went meanwhile: it was pulled out.
    if (!m_channel->connected() || !stillThere(m_platform, m_channel->descriptor())) {
        m_lost = true;
        return Outcome::Lost;
    }
    return Outcome::Timeout;
}

Outcome Controller::status(StatusReport& status) {
    HArray answer;
    const Outcome outcome = ask(Want::Status, 0, 0, answer);
    if (outcome == Outcome::Ok) {
        status = decodeStatusReport(answer.bytes());
        m_table.applyFirmwareVersion(status.version);
    }
    return outcome;
}

Outcome Controller::read(const ParamDef& row, ParamReport& value) {
    const auto address = static_cast<std::uint8_t>(row.address & 0xFF);
    HArray answer;
    const Outcome outcome = ask(Want::Param, address, row.size, answer);
    if (outcome == Outcome::Ok) {
        value = decodeParamReport(answer.bytes());
    }
    return outcome;
}

Outcome Controller::write(const ParamDef& row, const EncodedValue& value) {
    if (!m_interface || !drain()) {
        return Outcome::Lost;
    }
    return sent(m_interface->trySendParam(row.size, static_cast<std::uint8_t>(row.address & 0xFF),
                                          true, value.high, value.low));
}

Outcome Controller::readBack(const ParamDef& row, const EncodedValue& wanted, ParamReport& value) {
    const Outcome outcome = read(row, value);
    if (outcome != Outcome::Ok ||
        rawValue(row, value.first, value.second) == rawValue(row, wanted)) {
        return outcome;
    }
    settle();
    return read(row, value);
}

Outcome Controller::sent(bool written) {
    if (written) {
        return Outcome::Ok;
    }
    m_refusal = m_platform.lastError();
    // A controller being pulled out refuses writes a moment before the system takes its node
    // away (and its place first): the refusal stands once the controller has stayed where it
    // was for one answer's time.
    constexpr auto RETRY = std::chrono::milliseconds(20);
    const HIDDescriptor& chosen = m_channel->descriptor();
    const auto deadline = std::chrono::steady_clock::now() + m_options.timeout;
    bool there = true;
    while (there && m_channel->connected() && std::chrono::steady_clock::now() < deadline) {
        there = stillThere(m_platform, chosen);
        if (there) {
            std::this_thread::sleep_for(RETRY);
        }
    }
    if (!there || !m_channel->connected() || !drain()) {
        m_lost = true;
        return Outcome::Lost;
    }
    return Outcome::Refused;
}

void Controller::settle() {
    const auto quiet = m_options.timeout / m_options.attempts;
    const auto limit = std::chrono::steady_clock::now() + m_options.timeout;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= limit) {
            return;
        }
        std::unique_ptr<HArray> report = m_interface->nextReport(std::min(now + quiet, limit));
        if (!report) {
            return;
        }
        const auto bytes = report->bytes();
        if (classifyReport(bytes) == ReportKind::Event &&
            decodeEventReport(bytes).code == EVENT_DISCONNECTED) {
            m_lost = true;  // the next request finds it
        }
    }
}

}  // namespace ctl
