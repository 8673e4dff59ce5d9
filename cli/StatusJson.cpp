#include "cli/StatusJson.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace ctl {

StatusTexts statusTexts(const ParamTable& table, const StatusReport& status) {
    StatusTexts texts;
    formatStatusFields(table, status, texts.view);
    texts.caption = formatCaption(status);
    return texts;
}

std::string firmwareText(const StatusReport& status) {
    return std::to_string(status.major()) + "." + std::to_string(status.minor());
}

std::string utcText(std::chrono::system_clock::time_point when, bool milliseconds) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
    const std::time_t whole = std::chrono::system_clock::to_time_t(seconds);
    char text[40] = "";
    // Not std::gmtime: its one shared result would race between the threads of --all.
    std::tm utc{};
#ifdef _WIN32
    const bool converted = gmtime_s(&utc, &whole) == 0;
#else
    const bool converted = gmtime_r(&whole, &utc) != nullptr;
#endif
    if (!converted) {
        return text;
    }
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string result = text;
    if (milliseconds) {
        const auto part =
            std::chrono::duration_cast<std::chrono::milliseconds>(when - seconds).count();
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(part));
        result += fraction;
    }
    return result + "Z";
}

std::string utcNow() {
    return utcText(std::chrono::system_clock::now(), false);
}

nlohmann::ordered_json statusJson(const StatusReport& status, const StatusTexts& texts,
                                  const StatusJsonParts& parts) {
    nlohmann::ordered_json object;
    if (parts.texts) {
        object["caption"] = texts.caption;
    }
    object["firmware"] = firmwareText(status);
    object["mode"] = status.mode;
    if (!parts.time.empty()) {
        object["time"] = parts.time;
    }
    for (const StatusField& field : STATUS_FIELDS) {
        const std::string& text = texts.view.*field.text;
        if (field.raw != nullptr) {
            object[field.key] = field.raw(status);
        } else {
            // The volts as shown: "12.58" is 12.58, never 12.579999.
            object[field.key] = std::strtod(text.c_str(), nullptr);
        }
        if (parts.texts) {
            object[std::string(field.key) + "Text"] = text;
        }
    }
    return object;
}

nlohmann::ordered_json statusJson(const StatusReport& status, const StatusTexts& texts,
                                  bool stamped) {
    return statusJson(status, texts, StatusJsonParts{stamped ? utcNow() : std::string(), true});
}

}  // namespace ctl
