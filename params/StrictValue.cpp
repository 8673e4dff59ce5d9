#include "params/StrictValue.h"

#include "params/Cp1252.h"
#include "params/Numbers.h"

namespace {

// Far beyond every row's range: the codec limits these to the row's lowest and highest value.
constexpr double BEYOND_EVERY_ROW = 1e300;
// The timers' texts that the codec takes besides Never (its descriptions say so too).
constexpr std::string_view TIMER_FIRST = "00:00:00";
constexpr std::string_view TIMER_LAST = "17:59:59";
constexpr std::string_view TIMER_NEVER = "Never";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A value as typed: with a sign and an exponent, as the codec shows none but people write.
std::optional<double> readWholeNumber(std::string_view text) {
    return numbers::readDecimal(text, numbers::SIGNED_DECIMAL);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool isTimeShape(std::string_view text) {
    return text.size() == 8 && text[2] == ':' && text[5] == ':' && isDigit(text[0]) &&
           isDigit(text[1]) && isDigit(text[3]) && isDigit(text[4]) && isDigit(text[6]) &&
           isDigit(text[7]);
}

std::string unitText(const ParamDef& row) {
    return cp1252::toUtf8(row.unit);
}

// `Delay before PSU startup takes 0 to 255 [s]; "300" is outside`.
std::string refusal(const ParamDef& row, const std::string& range, std::string_view text,
                    bool shape) {
    return cp1252::toUtf8(row.name) + " takes " + range + "; \"" + std::string(text) + "\" is " +
           (shape ? "not one" : "outside");
}

}  // namespace

std::string plainValueText(const ParamDef& row, const EncodedValue& value) {
    const std::uint8_t first = row.size == 1 ? value.low : value.high;
    return cp1252::toUtf8(decodeParamValue(row, first, value.low));
}

std::string withUnit(const ParamDef& row, const std::string& text) {
    const std::string unit = unitText(row);
    return unit.empty() ? text : text + " " + unit;
}

std::string valueText(const ParamDef& row, const EncodedValue& value) {
    return withUnit(row, plainValueText(row, value));
}

std::string acceptedRange(const ParamDef& row) {
    if (row.kind == PK_TIME) {
        return withUnit(row, std::string(TIMER_FIRST) + " to " + std::string(TIMER_LAST)) + " or " +
               std::string(TIMER_NEVER);
    }
    return plainValueText(row, encodeParamNumber(row, -BEYOND_EVERY_ROW)) + " to " +
           valueText(row, encodeParamNumber(row, BEYOND_EVERY_ROW));
}

// The range as the codec shows its ends: what a user reads is what is taken.
NumberEnds acceptedNumbers(const ParamDef& row) {
    const std::string lowest = plainValueText(row, encodeParamNumber(row, -BEYOND_EVERY_ROW));
    const std::string highest = plainValueText(row, encodeParamNumber(row, BEYOND_EVERY_ROW));
    return {readWholeNumber(lowest).value_or(0), readWholeNumber(highest).value_or(0)};
}

StrictValue parseStrictValue(const ParamDef& row, std::string_view text) {
    StrictValue result;
    if (row.kind == PK_ACTION) {
        result.message = cp1252::quotedUtf8(row.name) + " is an action, not a value";
        return result;
    }
    if (row.kind == PK_TIME) {
        if (equalsIgnoringCase(text, TIMER_NEVER)) {
            result.value = encodeParamValue(row, TIMER_NEVER);
        } else if (isTimeShape(text)) {
            // Eight plain characters: the codec reads them all, and refuses those beyond its
            // hours, minutes and seconds.
            result.value = encodeParamValue(row, text);
            if (!result.value) {
                result.message = refusal(row, acceptedRange(row), text, false);
            }
        } else {
            result.message = refusal(row, acceptedRange(row), text, true);
        }
        return result;
    }
    const std::optional<double> number = readWholeNumber(text);
    if (!number) {
        result.message = refusal(row, "a number from " + acceptedRange(row), text, true);
        return result;
    }
    const NumberEnds ends = acceptedNumbers(row);
    if (!(*number >= ends.lowest && *number <= ends.highest)) {
        result.message = refusal(row, acceptedRange(row), text, false);
        return result;
    }
    result.value = encodeParamNumber(row, *number);
    const std::string stored = plainValueText(row, *result.value);
    if (readWholeNumber(stored) != number) {
        result.message =
            withUnit(row, std::string(text)) + " is stored as " + withUnit(row, stored);
    }
    return result;
}

std::string refusalOnEveryFirmware(int index, std::string_view text) {
    const ParamTable first;
    ParamTable last;
    last.applyFirmwareVersion(0xF0);  // the newest major version: every factor switched
    const StrictValue onFirst = parseStrictValue(first.row(index), text);
    const StrictValue onLast = parseStrictValue(last.row(index), text);
    if (onFirst.value || onLast.value) {
        return {};
    }
    const std::string firstRange = acceptedRange(first.row(index));
    const std::string lastRange = acceptedRange(last.row(index));
    if (firstRange == lastRange) {
        return onFirst.message;
    }
    const bool shape = onFirst.message.ends_with("not one");
    return refusal(
        first.row(index),
        (shape ? "a number from " : "") + firstRange + " on firmware 1.x, " + lastRange + " on 2.x",
        text, shape);
}
