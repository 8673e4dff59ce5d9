#include "core/readings/StatusJson.h"

#include <cstdlib>

#include "core/readings/StatusFields.h"

namespace ctl {

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
        if (field.kind == FieldKind::Volts) {
            // The volts as shown: "12.58" is 12.58, never 12.579999.
            object[field.key] = std::strtod(text.c_str(), nullptr);
        } else {
            object[field.key] = field.byte(status);
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
