#include "core/texts/StatusText.h"

#include <cstdio>

#include "core/readings/StatusFields.h"

std::string formatTwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

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
    for (const ctl::StatusField& field : ctl::STATUS_FIELDS) {
        view.*field.text = ctl::fieldText(field, table, status);
    }
}

std::string formatMode(const StatusReport& status) {
    return formatTwoDigits(static_cast<int>(status.mode));
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
