// A model of the controller's firmware: answers the host's command frames the way a real
// controller does and can send reports on its own. It knows nothing of how frames reach
// it: the simulated HID platform, or a real USB gadget, carries them. Thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "device/Wire.h"

namespace sim {

using Report = ReportBytes;

struct Measurements {
    std::uint8_t inputVoltage = 0;  // raw counts, as the status report carries them
    std::uint8_t ignitionVoltage = 0;
    std::uint8_t rail3V = 0;
    std::uint8_t rail5V = 0;
    std::uint8_t rail12V = 0;
    std::int8_t temperature = 0;  // whole degrees Celsius
    std::int8_t state = 0;
    std::uint8_t mode = 0;
    std::uint8_t voltageFlags = 0;
    std::uint8_t statusFlags1 = 0;
    std::uint8_t timerFlags = 0;
    std::uint8_t statusFlags2 = 0;
    std::uint8_t inputFlags = 0;
    std::uint8_t outputFlags = 0;
};

class OstrelFirmware {
public:
    // Receives every report the controller sends; called on the thread that caused it.
    using Sink = std::function<void(const Report&)>;

    explicit OstrelFirmware(Sink sink = {});

    void setSink(Sink sink);

    // One output report from the host (its bytes from offset 0). Answers a status request
    // with a status report and a parameter read with a parameter report; stores parameter
    // writes; restores the factory defaults on the reset frame. Every frame is logged.
    void receive(std::span<const std::uint8_t> frame);

    // Sends a history report of its own, marking the entry at report offset `position`.
    void sendHistory(std::uint8_t position);
    // The 22 entries the next history reports carry.
    void setHistory(const std::array<std::uint8_t, HISTORY_ENTRIES>& entries);

    void setMeasurements(const Measurements& measurements);
    Measurements measurements() const;
    // The version a controller starts with: 1.2.
    static constexpr std::uint8_t DEFAULT_VERSION = 0x12;
    void setFirmwareVersion(std::uint8_t version);  // major in the high nibble
    std::uint8_t firmwareVersion() const;

    // The stored parameter memory.
    std::uint8_t paramByte(std::uint8_t address) const;
    void setParamByte(std::uint8_t address, std::uint8_t value);
    void restoreFactoryDefaults();

    // The frames received, in order, as received: the last DEFAULT_LOG_LIMIT (or
    // setLogLimit's) of them, so that a controller simulated for hours keeps its memory
    // bounded.
    std::vector<std::vector<std::uint8_t>> log() const;
    void clearLog();
    // Zero keeps every frame (DEFAULT_LOG_LIMIT by default).
    static constexpr std::size_t DEFAULT_LOG_LIMIT = 4096;
    void setLogLimit(std::size_t limit);

private:
    void emit(const Report& report);

    // Held over the handling of one frame or one report of its own, so that reports leave
    // in the order their causes came in; setSink() waits on it for a call in progress.
    std::recursive_mutex m_serial;
    mutable std::mutex m_mutex;  // the state below
    Sink m_sink;
    Measurements m_measurements;
    std::uint8_t m_version = 0;
    std::array<std::uint8_t, 256> m_memory{};
    std::array<std::uint8_t, HISTORY_ENTRIES> m_history{};
    std::deque<std::vector<std::uint8_t>> m_log;
    std::size_t m_logLimit = DEFAULT_LOG_LIMIT;
};

}  // namespace sim
