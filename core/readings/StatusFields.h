// The status fields of a controller, one row each: every reader of a status (the window's
// labels, `status` as text, JSON and CSV, the metrics, the MQTT state and Home Assistant's
// discovery) takes its keys, labels, units, texts and numbers from here, in this order.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/texts/StatusText.h"
#include "device/Wire.h"
#include "params/ParamTable.h"

namespace ctl {

// How a field's byte of the status report becomes its text and its number.
enum class FieldKind {
    Volts,  // the volts of its parameter row's factor, "12.58"; its number is the one shown
    Whole,  // the byte as a whole number of two digits or more, "07"; its number is the byte
    Flags,  // the eight bits, bit 7 first, "00011111"; its number is the byte, each bit a flag
};

// A family of gauges of the metrics exposition: its name, its HELP, and the label that tells
// its fields apart when it holds several (null: it holds one).
struct MetricFamily {
    const char* name;
    const char* help;
    const char* label = nullptr;
};

inline constexpr MetricFamily INPUT_VOLTS_METRIC{"ostrel_input_volts", "Input (battery) voltage."};
inline constexpr MetricFamily IGNITION_VOLTS_METRIC{"ostrel_ignition_volts",
                                                    "Ignition line voltage."};
inline constexpr MetricFamily RAIL_VOLTS_METRIC{"ostrel_rail_volts", "Output rail voltage.",
                                                "rail"};
inline constexpr MetricFamily TEMPERATURE_METRIC{"ostrel_temperature_celsius",
                                                 "The controller's temperature."};
inline constexpr MetricFamily STATE_METRIC{"ostrel_state",
                                           "The controller's power state machine state."};
// Each bit is a series of its own (ostrel_flag{register,bit} 0 or 1): an alert on one
// condition is then `ostrel_flag{register="voltage",bit="3"} == 1`, where the byte would need
// `floor(x / 8) % 2` in every rule; six registers of eight bits are 48 cheap series a
// controller. The bytes are not exported beside them: the same figure twice.
inline constexpr MetricFamily FLAG_METRIC{
    "ostrel_flag", "One bit of a flag register (bit 0 the lowest).", "register"};

// The byte of the report a field shows, signed where the report's is.
template <auto MEMBER>
constexpr int reportByte(const StatusReport& status) {
    return int{status.*MEMBER};
}

struct StatusField {
    const char* key;    // the JSON key of `status --json` and the MQTT state; the entity's id
    const char* label;  // as the window writes it left of the field, Windows-1252
    const char* unit;   // as it writes it right of the field ("" none); Home Assistant's
                        // unit is this without its brackets
    FieldKind kind;
    int (*byte)(const StatusReport&);
    int factorRow;                  // Volts: the parameter row whose factor it takes
    std::string StatusView::*text;  // where the texts keep it: the window's control shows it
    // Home Assistant: a measurement of this device class and state class; null: a diagnostic
    // (a Flags field: a binary sensor a bit). The fields that are no measurement are
    // published the moment they change.
    const char* deviceClass;
    const char* stateClass;
    const MetricFamily* metric;
    const char* series;  // the value of its family's label: rail="3.3V", register="voltage"
};

// In the order ostrelctl prints them.
inline constexpr std::array STATUS_FIELDS{
    StatusField{"voltageIn", "Voltage In:", "[V]", FieldKind::Volts,
                reportByte<&StatusReport::inputVoltage>, ROW_INPUT_VOLTAGE,
                &StatusView::m_voltageIn, "voltage", "measurement", &INPUT_VOLTS_METRIC, nullptr},
    StatusField{"ignition", "Ignition:", "[V]", FieldKind::Volts,
                reportByte<&StatusReport::ignitionVoltage>, ROW_IGNITION_VOLTAGE,
                &StatusView::m_ignition, "voltage", "measurement", &IGNITION_VOLTS_METRIC, nullptr},
    StatusField{"voltage3V", "Voltage 3V:", "[V]", FieldKind::Volts,
                reportByte<&StatusReport::rail3V>, ROW_RAIL_3V, &StatusView::m_voltage3V, "voltage",
                "measurement", &RAIL_VOLTS_METRIC, "3.3V"},
    StatusField{"voltage5V", "Voltage 5V:", "[V]", FieldKind::Volts,
                reportByte<&StatusReport::rail5V>, ROW_RAIL_5V, &StatusView::m_voltage5V, "voltage",
                "measurement", &RAIL_VOLTS_METRIC, "5V"},
    StatusField{"voltage12V", "Voltage 12V:", "[V]", FieldKind::Volts,
                reportByte<&StatusReport::rail12V>, ROW_RAIL_12V, &StatusView::m_voltage12V,
                "voltage", "measurement", &RAIL_VOLTS_METRIC, "12V"},
    StatusField{"temperature", "Temperature:",
                "[\xB0"
                "C]",
                FieldKind::Whole, reportByte<&StatusReport::temperature>, -1,
                &StatusView::m_temperature, "temperature", "measurement", &TEMPERATURE_METRIC,
                nullptr},
    StatusField{"state", "Ostrel State:", "", FieldKind::Whole, reportByte<&StatusReport::state>,
                -1, &StatusView::m_state, nullptr, nullptr, &STATE_METRIC, nullptr},
    StatusField{"voltageFlags", "Voltage flags:", "", FieldKind::Flags,
                reportByte<&StatusReport::voltageFlags>, -1, &StatusView::m_voltageFlags, nullptr,
                nullptr, &FLAG_METRIC, "voltage"},
    StatusField{"statusFlags1", "Status flags 1:", "", FieldKind::Flags,
                reportByte<&StatusReport::statusFlags1>, -1, &StatusView::m_statusFlags1, nullptr,
                nullptr, &FLAG_METRIC, "status1"},
    StatusField{"statusFlags2", "Status flags 2:", "", FieldKind::Flags,
                reportByte<&StatusReport::statusFlags2>, -1, &StatusView::m_statusFlags2, nullptr,
                nullptr, &FLAG_METRIC, "status2"},
    StatusField{"timerFlags", "Timer flags:", "", FieldKind::Flags,
                reportByte<&StatusReport::timerFlags>, -1, &StatusView::m_timerFlags, nullptr,
                nullptr, &FLAG_METRIC, "timer"},
    StatusField{"inputFlags", "Input flags:", "", FieldKind::Flags,
                reportByte<&StatusReport::inputFlags>, -1, &StatusView::m_inputFlags, nullptr,
                nullptr, &FLAG_METRIC, "input"},
    StatusField{"outputFlags", "Output flags:", "", FieldKind::Flags,
                reportByte<&StatusReport::outputFlags>, -1, &StatusView::m_outputFlags, nullptr,
                nullptr, &FLAG_METRIC, "output"},
};

// The row of `key`, for those that name one field (the window's template): a key no row has
// does not compile.
consteval const StatusField& statusField(std::string_view key) {
    for (const StatusField& field : STATUS_FIELDS) {
        if (key == field.key) {
            return field;
        }
    }
    throw std::invalid_argument("no status field has this key");
}

// The field's text for `status`, with the table's factors as they stand (Windows-1252, as the
// window shows it; every text of a field is ASCII).
std::string fieldText(const StatusField& field, const ParamTable& table,
                      const StatusReport& status);

// The label in UTF-8 without its colon: "Voltage In" (the CSV header, Home Assistant's name).
std::string fieldName(const StatusField& field);

}  // namespace ctl
