// The bytes exchanged with the controller: command frames and input reports.
// Pure: no threads, no OS, no window.
#pragma once

#include <array>
#include <cstdint>
#include <span>

// Every report, in both directions, is this long; offset 0 is the report-id position
// of the platform's HID buffers and holds the command or kind byte.
inline constexpr int REPORT_SIZE = 24;

inline constexpr std::uint8_t CMD_STATUS = 0x81;
inline constexpr std::uint8_t CMD_PARAM = 0xA4;
inline constexpr std::uint8_t PARAM_WRITE = 0xA0;
inline constexpr std::uint8_t PARAM_READ = 0xA1;

inline constexpr std::uint8_t REPORT_STATUS = 0x21;
inline constexpr std::uint8_t REPORT_PARAM = 0x31;
inline constexpr std::uint8_t REPORT_HISTORY = 0x32;
inline constexpr std::uint8_t REPORT_EVENT = 0xFF;
inline constexpr std::uint8_t EVENT_DISCONNECTED = 0x01;

// Number of history entries in a history report (offsets 2 to 23).
inline constexpr int HISTORY_ENTRIES = 22;

// A command frame: its bytes before the zero fill. No frame is longer than a report.
struct Frame {
    std::array<std::uint8_t, REPORT_SIZE> bytes{};
    int length = 0;

    std::span<const std::uint8_t> view() const {
        return {bytes.data(), static_cast<std::size_t>(length)};
    }
};

Frame statusRequestFrame();
Frame paramReadFrame(std::uint8_t address, std::uint8_t size);
// For size 1 only `low` is sent (followed by 0); any other size sends `high`, then `low`.
Frame paramWriteFrame(std::uint8_t address, std::uint8_t size, std::uint8_t high,
                      std::uint8_t low);

// 16-bit values travel high byte first.
struct RawBytes {
    std::uint8_t high = 0;
    std::uint8_t low = 0;
};
RawBytes splitRaw16(std::uint16_t value);
std::uint16_t joinRaw16(std::uint8_t high, std::uint8_t low);

enum class ReportKind { Ignored, Status, Param, History, Event };

// Shorter than REPORT_SIZE or an unknown kind byte: Ignored. Bytes past offset 23 are never read.
ReportKind classifyReport(std::span<const std::uint8_t> report);

struct StatusReport {
    std::uint8_t inputVoltage = 0;
    std::uint8_t ignitionVoltage = 0;
    std::uint8_t rail3V = 0;
    std::uint8_t rail5V = 0;
    std::uint8_t rail12V = 0;
    std::uint8_t voltageFlags = 0;
    std::uint8_t statusFlags1 = 0;
    std::uint8_t timerFlags = 0;
    std::int8_t state = 0;
    std::uint8_t statusFlags2 = 0;
    std::int8_t temperature = 0;
    std::uint8_t inputFlags = 0;
    std::uint8_t outputFlags = 0;
    std::uint8_t mode = 0;
    std::uint8_t version = 0;

    int major() const { return version >> 4; }
    int minor() const { return version & 0x0F; }
};

struct ParamReport {
    std::uint8_t address = 0;
    std::uint8_t first = 0;   // byte 4: the value (size 1) or its high byte (size 2)
    std::uint8_t second = 0;  // byte 5: the low byte (size 2)
};

struct HistoryReport {
    std::uint8_t position = 0;  // report offset of the marked entry; outside 2..23 marks none
    std::array<std::uint8_t, HISTORY_ENTRIES> entries{};
};

struct EventReport {
    std::uint8_t code = 0;
};

// Each reads a report that classifyReport accepted as its kind; a buffer shorter than
// REPORT_SIZE gives all fields zero rather than a read past its end.
StatusReport decodeStatusReport(std::span<const std::uint8_t> report);
ParamReport decodeParamReport(std::span<const std::uint8_t> report);
HistoryReport decodeHistoryReport(std::span<const std::uint8_t> report);
EventReport decodeEventReport(std::span<const std::uint8_t> report);

// The event report the device interface queues when the device is gone: FF 01 and 22 zeros.
std::array<std::uint8_t, REPORT_SIZE> disconnectEventReport();
