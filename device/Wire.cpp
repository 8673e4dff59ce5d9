#include "device/Wire.h"

#include <algorithm>

namespace {

using Bytes = std::span<const std::uint8_t>;

bool isWhole(Bytes report) {
    return report.size() >= static_cast<std::size_t>(REPORT_SIZE);
}

std::int8_t asSigned(std::uint8_t byte) {
    // Two's complement, as the controller sends it.
    return static_cast<std::int8_t>(byte);
}

}  // namespace

Frame statusRequestFrame() {
    Frame frame;
    frame.bytes[FRAME_AT_COMMAND] = CMD_STATUS;
    frame.length = 1;
    return frame;
}

Frame paramReadFrame(std::uint8_t address, std::uint8_t size) {
    Frame frame;
    frame.bytes[FRAME_AT_COMMAND] = CMD_PARAM;
    frame.bytes[FRAME_AT_PARAM_OP] = PARAM_READ;
    frame.bytes[FRAME_AT_ADDRESS] = address;
    frame.bytes[FRAME_AT_SIZE] = size;
    frame.length = PARAM_READ_FRAME_LENGTH;
    return frame;
}

Frame paramWriteFrame(std::uint8_t address, std::uint8_t size, std::uint8_t high,
                      std::uint8_t low) {
    Frame frame;
    frame.bytes[FRAME_AT_COMMAND] = CMD_PARAM;
    frame.bytes[FRAME_AT_PARAM_OP] = PARAM_WRITE;
    frame.bytes[FRAME_AT_ADDRESS] = address;
    frame.bytes[FRAME_AT_SIZE] = size;
    if (size == 1) {
        frame.bytes[FRAME_AT_FIRST] = low;
        frame.bytes[FRAME_AT_SECOND] = 0;
    } else {
        frame.bytes[FRAME_AT_FIRST] = high;
        frame.bytes[FRAME_AT_SECOND] = low;
    }
    frame.length = PARAM_WRITE_FRAME_LENGTH;
    return frame;
}

RawBytes splitRaw16(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
}

std::uint16_t joinRaw16(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint16_t>(high * 256 + low);
}

ReportKind classifyReport(Bytes report) {
    if (!isWhole(report)) {
        return ReportKind::Ignored;
    }
    switch (report[REPORT_AT_KIND]) {
        case REPORT_STATUS:
            return ReportKind::Status;
        case REPORT_PARAM:
            return ReportKind::Param;
        case REPORT_HISTORY:
            return ReportKind::History;
        case REPORT_EVENT:
            return ReportKind::Event;
        default:
            return ReportKind::Ignored;
    }
}

StatusReport decodeStatusReport(Bytes report) {
    StatusReport status;
    if (!isWhole(report)) {
        return status;
    }
    status.inputVoltage = report[STATUS_AT_INPUT_VOLTAGE];
    status.ignitionVoltage = report[STATUS_AT_IGNITION_VOLTAGE];
    status.rail3V = report[STATUS_AT_RAIL_3V];
    status.rail5V = report[STATUS_AT_RAIL_5V];
    status.rail12V = report[STATUS_AT_RAIL_12V];
    status.voltageFlags = report[STATUS_AT_VOLTAGE_FLAGS];
    status.statusFlags1 = report[STATUS_AT_STATUS_FLAGS1];
    status.timerFlags = report[STATUS_AT_TIMER_FLAGS];
    status.state = asSigned(report[STATUS_AT_STATE]);
    status.statusFlags2 = report[STATUS_AT_STATUS_FLAGS2];
    status.temperature = asSigned(report[STATUS_AT_TEMPERATURE]);
    status.inputFlags = report[STATUS_AT_INPUT_FLAGS];
    status.outputFlags = report[STATUS_AT_OUTPUT_FLAGS];
    status.mode = report[STATUS_AT_MODE];
    status.version = report[STATUS_AT_VERSION];
    return status;
}

ParamReport decodeParamReport(Bytes report) {
    if (!isWhole(report)) {
        return {};
    }
    return {report[PARAM_AT_ADDRESS], report[PARAM_AT_FIRST], report[PARAM_AT_SECOND]};
}

HistoryReport decodeHistoryReport(Bytes report) {
    HistoryReport history;
    if (!isWhole(report)) {
        return history;
    }
    history.position = report[HISTORY_AT_POSITION];
    std::copy_n(report.begin() + HISTORY_AT_ENTRIES, HISTORY_ENTRIES, history.entries.begin());
    return history;
}

EventReport decodeEventReport(Bytes report) {
    if (!isWhole(report)) {
        return {};
    }
    return {report[EVENT_AT_CODE]};
}

ReportBytes encodeStatusReport(const StatusReport& status) {
    ReportBytes report{};
    report[REPORT_AT_KIND] = REPORT_STATUS;
    report[STATUS_AT_INPUT_VOLTAGE] = status.inputVoltage;
    report[STATUS_AT_IGNITION_VOLTAGE] = status.ignitionVoltage;
    report[STATUS_AT_RAIL_3V] = status.rail3V;
    report[STATUS_AT_RAIL_5V] = status.rail5V;
    report[STATUS_AT_RAIL_12V] = status.rail12V;
    report[STATUS_AT_VOLTAGE_FLAGS] = status.voltageFlags;
    report[STATUS_AT_STATUS_FLAGS1] = status.statusFlags1;
    report[STATUS_AT_TIMER_FLAGS] = status.timerFlags;
    report[STATUS_AT_STATE] = static_cast<std::uint8_t>(status.state);
    report[STATUS_AT_STATUS_FLAGS2] = status.statusFlags2;
    report[STATUS_AT_TEMPERATURE] = static_cast<std::uint8_t>(status.temperature);
    report[STATUS_AT_INPUT_FLAGS] = status.inputFlags;
    report[STATUS_AT_OUTPUT_FLAGS] = status.outputFlags;
    report[STATUS_AT_MODE] = status.mode;
    report[STATUS_AT_VERSION] = status.version;
    return report;
}

ReportBytes encodeParamReport(const ParamReport& param) {
    ReportBytes report{};
    report[REPORT_AT_KIND] = REPORT_PARAM;
    report[PARAM_AT_ADDRESS] = param.address;
    report[PARAM_AT_FIRST] = param.first;
    report[PARAM_AT_SECOND] = param.second;
    return report;
}

ReportBytes encodeHistoryReport(const HistoryReport& history) {
    ReportBytes report{};
    report[REPORT_AT_KIND] = REPORT_HISTORY;
    report[HISTORY_AT_POSITION] = history.position;
    std::copy(history.entries.begin(), history.entries.end(), report.begin() + HISTORY_AT_ENTRIES);
    return report;
}

ReportBytes encodeEventReport(const EventReport& event) {
    ReportBytes report{};
    report[REPORT_AT_KIND] = REPORT_EVENT;
    report[EVENT_AT_CODE] = event.code;
    return report;
}

ReportBytes disconnectEventReport() {
    return encodeEventReport({EVENT_DISCONNECTED});
}
