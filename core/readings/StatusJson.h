// The status of a controller as `status --json` and every other reader of the same figures
// (the MQTT publisher) give it: one list of fields with their keys, one builder.
#pragma once

#include <array>
#include <nlohmann/json.hpp>
#include <string>

#include "app/Resource.h"
#include "core/texts/StatusText.h"
#include "core/context/Context.h"
#include "core/session/Session.h"
#include "device/Wire.h"
#include "params/ParamTable.h"

namespace ctl {

// The status fields in the order ostrelctl prints them, with their JSON keys. `number` is the
// field's JSON number: volts as the text shows them, the others the report's raw value.
struct StatusField {
    int control;
    std::string StatusView::*text;
    const char* key;
    int (*raw)(const StatusReport&);  // null: volts, the number the text shows
};

inline constexpr std::array STATUS_FIELDS{
    StatusField{IDC_VOLTAGE_IN, &StatusView::m_voltageIn, "voltageIn", nullptr},
    StatusField{IDC_IGNITION, &StatusView::m_ignition, "ignition", nullptr},
    StatusField{IDC_VOLTAGE_3V, &StatusView::m_voltage3V, "voltage3V", nullptr},
    StatusField{IDC_VOLTAGE_5V, &StatusView::m_voltage5V, "voltage5V", nullptr},
    StatusField{IDC_VOLTAGE_12V, &StatusView::m_voltage12V, "voltage12V", nullptr},
    StatusField{IDC_TEMPERATURE, &StatusView::m_temperature, "temperature",
                [](const StatusReport& s) { return int{s.temperature}; }},
    StatusField{IDC_STATE, &StatusView::m_state, "state",
                [](const StatusReport& s) { return int{s.state}; }},
    StatusField{IDC_VOLTAGE_FLAGS, &StatusView::m_voltageFlags, "voltageFlags",
                [](const StatusReport& s) { return int{s.voltageFlags}; }},
    StatusField{IDC_STATUS_FLAGS1, &StatusView::m_statusFlags1, "statusFlags1",
                [](const StatusReport& s) { return int{s.statusFlags1}; }},
    StatusField{IDC_STATUS_FLAGS2, &StatusView::m_statusFlags2, "statusFlags2",
                [](const StatusReport& s) { return int{s.statusFlags2}; }},
    StatusField{IDC_TIMER_FLAGS, &StatusView::m_timerFlags, "timerFlags",
                [](const StatusReport& s) { return int{s.timerFlags}; }},
    StatusField{IDC_INPUT_FLAGS, &StatusView::m_inputFlags, "inputFlags",
                [](const StatusReport& s) { return int{s.inputFlags}; }},
    StatusField{IDC_OUTPUT_FLAGS, &StatusView::m_outputFlags, "outputFlags",
                [](const StatusReport& s) { return int{s.outputFlags}; }},
};

struct StatusTexts {
    StatusView view;
    std::string caption;
};

// The texts the window shows for `status`, with the table's (the firmware's) factors.
StatusTexts statusTexts(const ParamTable& table, const StatusReport& status);

struct StatusJsonParts {
    std::string time;   // "time" when not empty
    bool texts = true;  // the caption and every field's text beside its number (KEYText)
};

// caption, firmware, mode, time, then each field as a number under its key (and with
// `texts` its text under KEYText).
nlohmann::ordered_json statusJson(const StatusReport& status, const StatusTexts& texts,
                                  const StatusJsonParts& parts);
// As `status --json` prints it: stamped with the time now, or not.
nlohmann::ordered_json statusJson(const StatusReport& status, const StatusTexts& texts,
                                  bool stamped);

}  // namespace ctl
