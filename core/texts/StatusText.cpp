#include "core/texts/StatusText.h"

#include <cstdio>

#include "params/ValueCodec.h"

namespace {

std::string twoDigitDecimal(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string formatVolts(const ParamTable& table, int row, std::uint8_t raw) {
    return formatStatusVolts(table.row(row), raw);
}

}  // namespace

std::string FormatFlagBits(std::uint8_t byte) {
    std::string bits(8, '0');
    for (int bit = 7; bit >= 0; --bit) {
        if ((byte >> bit) & 1) {
            bits[static_cast<std::size_t>(7 - bit)] = '1';
        }
    }
    return bits;
}

void formatStatusFields(const ParamTable& table, const StatusReport& status, StatusView& view) {
    view.m_voltageIn = formatVolts(table, ROW_INPUT_VOLTAGE, status.inputVoltage);
    view.m_ignition = formatVolts(table, ROW_IGNITION_VOLTAGE, status.ignitionVoltage);
    view.m_voltage3V = formatVolts(table, ROW_RAIL_3V, status.rail3V);
    view.m_voltage5V = formatVolts(table, ROW_RAIL_5V, status.rail5V);
    view.m_voltage12V = formatVolts(table, ROW_RAIL_12V, status.rail12V);

    view.m_temperature = twoDigitDecimal(status.temperature);
    view.m_state = twoDigitDecimal(status.state);

    view.m_voltageFlags = FormatFlagBits(status.voltageFlags);
    view.m_statusFlags1 = FormatFlagBits(status.statusFlags1);
    view.m_statusFlags2 = FormatFlagBits(status.statusFlags2);
    view.m_timerFlags = FormatFlagBits(status.timerFlags);
    view.m_inputFlags = FormatFlagBits(status.inputFlags);
    view.m_outputFlags = FormatFlagBits(status.outputFlags);
}

std::string formatMode(const StatusReport& status) {
    return twoDigitDecimal(static_cast<int>(status.mode));
}

std::string formatCaption(const StatusReport& status) {
    char text[64];
    std::snprintf(text, sizeof text, "Ostrel ver: %d.%d mode: ", status.major(), status.minor());
    return text + formatMode(status);
}

std::string formatHistoryLine(const HistoryReport& history) {
    char text[16];
    std::snprintf(text, sizeof text, "[%02d] ", static_cast<int>(history.position));
    std::string line = text;
    for (int i = 0; i < HISTORY_ENTRIES; ++i) {
        const unsigned entry = history.entries[static_cast<std::size_t>(i)];
        // The position counts report offsets, not entries.
        if (i + HISTORY_AT_ENTRIES == history.position) {
            std::snprintf(text, sizeof text, "(%02x) ", entry);
        } else {
            std::snprintf(text, sizeof text, "%02x ", entry);
        }
        line += text;
    }
    return line;
}
