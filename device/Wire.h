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

// Where the fields of a command frame sit.
inline constexpr int FRAME_AT_COMMAND = 0;
inline constexpr int FRAME_AT_PARAM_OP = 1;  // PARAM_READ or PARAM_WRITE
inline constexpr int FRAME_AT_ADDRESS = 2;
inline constexpr int FRAME_AT_SIZE = 3;
inline constexpr int FRAME_AT_FIRST = 4;   // the value (size 1) or its high byte (size 2)
inline constexpr int FRAME_AT_SECOND = 5;  // the low byte (size 2), else 0
inline constexpr int PARAM_READ_FRAME_LENGTH = 4;
inline constexpr int PARAM_WRITE_FRAME_LENGTH = 6;

// Where the fields of the input reports sit. Offset 0 holds the kind in every report.
inline constexpr int REPORT_AT_KIND = 0;
inline constexpr int STATUS_AT_INPUT_VOLTAGE = 2;
inline constexpr int STATUS_AT_IGNITION_VOLTAGE = 3;
inline constexpr int STATUS_AT_RAIL_3V = 4;
inline constexpr int STATUS_AT_RAIL_5V = 5;
inline constexpr int STATUS_AT_RAIL_12V = 6;
inline constexpr int STATUS_AT_VOLTAGE_FLAGS = 7;
inline constexpr int STATUS_AT_STATUS_FLAGS1 = 8;
inline constexpr int STATUS_AT_TIMER_FLAGS = 9;
inline constexpr int STATUS_AT_STATE = 10;
inline constexpr int STATUS_AT_STATUS_FLAGS2 = 11;
inline constexpr int STATUS_AT_TEMPERATURE = 12;
inline constexpr int STATUS_AT_INPUT_FLAGS = 14;
inline constexpr int STATUS_AT_OUTPUT_FLAGS = 15;
inline constexpr int STATUS_AT_MODE = 17;
inline constexpr int STATUS_AT_VERSION = 23;
inline constexpr int PARAM_AT_ADDRESS = 2;
inline constexpr int PARAM_AT_FIRST = 4;
inline constexpr int PARAM_AT_SECOND = 5;
inline constexpr int HISTORY_AT_POSITION = 1;
inline constexpr int HISTORY_AT_ENTRIES = 2;  // the first entry; the rest follow to the end
inline constexpr int EVENT_AT_CODE = 1;

// Number of history entries in a history report.
inline constexpr int HISTORY_ENTRIES = REPORT_SIZE - HISTORY_AT_ENTRIES;

// The firmware version byte: major in the high nibble, minor in the low one.
constexpr int firmwareMajor(std::uint8_t version) {
    return version >> 4;
}
constexpr int firmwareMinor(std::uint8_t version) {
    return version & 0x0F;
}
constexpr std::uint8_t firmwareVersion(int major, int minor) {
    return static_cast<std::uint8_t>(((major & 0x0F) << 4) | (minor & 0x0F));
}

// One whole report as it travels, before or after the platform's buffers.
using ReportBytes = std::array<std::uint8_t, REPORT_SIZE>;

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
Frame paramWriteFrame(std::uint8_t address, std::uint8_t size, std::uint8_t high, std::uint8_t low);

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

    int major() const { return firmwareMajor(version); }
    int minor() const { return firmwareMinor(version); }
};

struct ParamReport {
    std::uint8_t address = 0;
    std::uint8_t first = 0;   // byte 4: the value (size 1) or its high byte (size 2)
    std::uint8_t second = 0;  // byte 5: the low byte (size 2)
};

struct HistoryReport {
    std::uint8_t position = 0;  // report offset of the marked entry; outside the entries marks none
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

// The reverse, for whoever plays the controller (the simulator, test gadgets): every byte
// not named by a field is zero.
ReportBytes encodeStatusReport(const StatusReport& status);
ReportBytes encodeParamReport(const ParamReport& param);
ReportBytes encodeHistoryReport(const HistoryReport& history);
ReportBytes encodeEventReport(const EventReport& event);

// The event report the device interface queues when the device is gone: FF 01 and 22 zeros.
ReportBytes disconnectEventReport();
