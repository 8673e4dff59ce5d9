// Typed values, taken strictly by the window's Send and by ostrelctl alike. The codec reads
// any text (no number reads as 0, a value out of range is limited), which would write a
// value nobody meant. A text is taken only when it is wholly one number in the row's unit
// (for the timers, Never or hh:mm:ss) that the row can hold; it is then stored as the codec
// rounds it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "params/ParamTable.h"
#include "params/ValueCodec.h"

struct StrictValue {
    std::optional<EncodedValue> value;  // nullopt: refused
    // The refusal, naming the parameter, the text and the range the row takes; or, for a
    // value taken, what is stored when it differs from what was typed ("12.5 [V] is stored
    // as 12.47 [V]"); else empty.
    std::string message;
};

// `text` (UTF-8, as typed or as a backup file holds it) against the row with its factors as
// they stand. An action row (the factory reset) takes no value: refused.
StrictValue parseStrictValue(const ParamDef& row, std::string_view text);

// Before the controller's firmware is known: the refusal when no firmware family takes the
// text for this row, else empty. `index` is the row's index in the parameter table.
std::string refusalOnEveryFirmware(int index, std::string_view text);

// "0 to 255 [s]", "00:00:00 to 17:59:59 [hh:mm:ss] or Never": what the row takes.
std::string acceptedRange(const ParamDef& row);

// The lowest and the highest number a row that is no timer takes, as the codec shows them:
// what the strict reader takes is what a form offering the range may send.
struct NumberEnds {
    double lowest = 0;
    double highest = 0;
};
NumberEnds acceptedNumbers(const ParamDef& row);

// A value's text with the row's unit, as the window shows them side by side: "5 [s]".
std::string withUnit(const ParamDef& row, const std::string& text);

// The row's value as the codec shows it: "12.47"; and with its unit: "12.47 [V]".
std::string plainValueText(const ParamDef& row, const EncodedValue& value);
std::string valueText(const ParamDef& row, const EncodedValue& value);
