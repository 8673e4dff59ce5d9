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
    frame.bytes[0] = CMD_STATUS;
    frame.length = 1;
    return frame;
}

Frame paramReadFrame(std::uint8_t address, std::uint8_t size) {
    Frame frame;
    frame.bytes[0] = CMD_PARAM;
    frame.bytes[1] = PARAM_READ;
    frame.bytes[2] = address;
    frame.bytes[3] = size;
    frame.length = 4;
    return frame;
}

Frame paramWriteFrame(std::uint8_t address, std::uint8_t size, std::uint8_t high,
                      std::uint8_t low) {
    Frame frame;
    frame.bytes[0] = CMD_PARAM;
    frame.bytes[1] = PARAM_WRITE;
    frame.bytes[2] = address;
    frame.bytes[3] = size;
    if (size == 1) {
        frame.bytes[4] = low;
        frame.bytes[5] = 0;
    } else {
        frame.bytes[4] = high;
        frame.bytes[5] = low;
    }
    frame.length = 6;
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
    switch (report[0]) {
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
    status.inputVoltage = report[2];
    status.ignitionVoltage = report[3];
    status.rail3V = report[4];
    status.rail5V = report[5];
    status.rail12V = report[6];
    status.voltageFlags = report[7];
    status.statusFlags1 = report[8];
    status.timerFlags = report[9];
    status.state = asSigned(report[10]);
    status.statusFlags2 = report[11];
    status.temperature = asSigned(report[12]);
    status.inputFlags = report[14];
    status.outputFlags = report[15];
    status.mode = report[17];
    status.version = report[23];
    return status;
}

ParamReport decodeParamReport(Bytes report) {
    if (!isWhole(report)) {
        return {};
    }
    return {report[2], report[4], report[5]};
}

HistoryReport decodeHistoryReport(Bytes report) {
    HistoryReport history;
    if (!isWhole(report)) {
        return history;
    }
    history.position = report[1];
    std::copy_n(report.begin() + 2, HISTORY_ENTRIES, history.entries.begin());
    return history;
}

EventReport decodeEventReport(Bytes report) {
    if (!isWhole(report)) {
        return {};
    }
    return {report[1]};
}

std::array<std::uint8_t, REPORT_SIZE> disconnectEventReport() {
    std::array<std::uint8_t, REPORT_SIZE> report{};
    report[0] = REPORT_EVENT;
    report[1] = EVENT_DISCONNECTED;
    return report;
}
