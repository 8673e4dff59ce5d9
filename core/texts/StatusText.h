// The status panel's texts: what the window shows for a status or history report. Both the
// window and ostrelctl print these, so there is one copy of the formatting.
#pragma once

#include <cstdint>
#include <string>

#include "device/Wire.h"
#include "params/ParamTable.h"

// The window's display strings. The dispatcher writes them; UpdateData(false) copies them
// into their controls.
struct StatusView {
    std::string m_voltageIn;
    std::string m_ignition;
    std::string m_temperature;
    std::string m_voltage3V;
    std::string m_voltage5V;
    std::string m_voltage12V;
    std::string m_state;
    std::string m_voltageFlags;
    std::string m_statusFlags1;
    std::string m_statusFlags2;
    std::string m_timerFlags;
    std::string m_inputFlags;
    std::string m_outputFlags;
    std::string m_statusHistory;
    std::string m_ioBuffer;  // nothing writes it
};

// Eight '0'/'1' characters, bit 7 first.
std::string FormatFlagBits(std::uint8_t byte);

// A whole number as printf's %02d writes it: "07", "-10", "123".
std::string formatTwoDigits(int value);

// The status fields of `view` (not the history or IOBuffer lines) for `status`, each as its
// row of ctl::STATUS_FIELDS (core/readings/StatusFields) decodes it, with the table's factors
// as they stand: the caller applies the firmware switch first.
void formatStatusFields(const ParamTable& table, const StatusReport& status, StatusView& view);

// The mode as the caption shows it: two decimal digits, "01".
std::string formatMode(const StatusReport& status);

// "Ostrel ver: %d.%d mode: %02d".
std::string formatCaption(const StatusReport& status);

// "[pp] " and the 22 entries, the one at report offset pp in parentheses.
std::string formatHistoryLine(const HistoryReport& history);
