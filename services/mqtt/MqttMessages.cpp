#include "services/mqtt/MqttMessages.h"

#include <nlohmann/json.hpp>

#include "params/Cp1252.h"
#include "app/DialogTemplate.h"
#include "core/selection/Selection.h"
#include "device/OstrelIdentity.h"

namespace ctl::mqtt {
namespace {

using json = nlohmann::ordered_json;

// A text of letters, digits, '_' and '-' only, as Home Assistant's ids are.
std::string homeAssistantId(std::string text) {
    for (char& c : text) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_';
        c = kept ? c : '_';
    }
    return text;
}

// The window's label beside the field ("Voltage In:"), without its colon.
std::string fieldName(const StatusField& field) {
    std::string label = cp1252::toUtf8(ui::mainControlLabel(field.control));
    if (!label.empty() && label.back() == ':') {
        label.pop_back();
    }
    return label;
}

// The window's unit beside the field ("[V]"), without its brackets.
std::string fieldUnit(const StatusField& field) {
    std::string unit = cp1252::toUtf8(ui::mainControlUnit(field.control));
    if (unit.size() >= 2 && unit.front() == '[' && unit.back() == ']') {
        unit = unit.substr(1, unit.size() - 2);
    }
    return unit;
}

bool isFlags(const StatusField& field) {
    switch (field.control) {
        case IDC_VOLTAGE_FLAGS:
        case IDC_STATUS_FLAGS1:
        case IDC_STATUS_FLAGS2:
        case IDC_TIMER_FLAGS:
        case IDC_INPUT_FLAGS:
        case IDC_OUTPUT_FLAGS:
            return true;
        default:
            return false;
    }
}

std::string valueTemplate(const std::string& key) {
    return "{{ value_json." + key + " }}";
}

struct Component {
    std::string id;  // the key under cmps, and the last level of an entity's topic
    json config;     // with "p", the platform
};

// The entities of one controller: the volts and the temperature as measurements, the state,
// the mode, the firmware and each flag bit as diagnostics.
std::vector<Component> components(const std::string& uniquePrefix) {
    std::vector<Component> list;
    auto add = [&](const std::string& id, json config) {
        config["uniq_id"] = uniquePrefix + "_" + id;
        list.push_back({id, std::move(config)});
    };
    auto diagnostic = [&](const std::string& id, const std::string& name, const std::string& key) {
        add(id, json{{"p", "sensor"},
                     {"name", name},
                     {"ent_cat", "diagnostic"},
                     {"val_tpl", valueTemplate(key)}});
    };
    for (const StatusField& field : STATUS_FIELDS) {
        if (field.raw == nullptr || field.control == IDC_TEMPERATURE) {
            add(field.key, json{{"p", "sensor"},
                                {"name", fieldName(field)},
                                {"dev_cla", field.raw == nullptr ? "voltage" : "temperature"},
                                {"unit_of_meas", fieldUnit(field)},
                                {"stat_cla", "measurement"},
                                {"val_tpl", valueTemplate(field.key)}});
        } else if (isFlags(field)) {
            for (int bit = 0; bit < 8; ++bit) {
                add(std::string(field.key) + std::to_string(bit),
                    json{{"p", "binary_sensor"},
                         {"name", fieldName(field) + " bit " + std::to_string(bit)},
                         {"ent_cat", "diagnostic"},
                         {"val_tpl", "{{ value_json." + std::string(field.key) + " // " +
                                         std::to_string(1 << bit) + " % 2 }}"},
                         {"pl_on", "1"},
                         {"pl_off", "0"}});
            }
        } else {
            diagnostic(field.key, fieldName(field), field.key);
        }
    }
    diagnostic("mode", "Mode", "mode");
    diagnostic("firmware", "Firmware", "firmware");
    return list;
}

}  // namespace

Topics::Topics(const MqttConfig& config)
    : m_base(config.prefix + "/" + config.clientId),
      m_clientId(config.clientId),
      m_homeAssistant(config.homeAssistantPrefix) {}

ControllerTopics Topics::controller(const std::string& location) const {
    ControllerTopics topics;
    topics.level = fileSafeLocation(location);
    topics.state = m_base + "/" + topics.level + "/state";
    topics.status = m_base + "/" + topics.level + "/status";
    topics.id = homeAssistantId(m_clientId + "_" + topics.level);
    return topics;
}

std::string statePayload(const StatusReport& status, const StatusTexts& texts,
                         std::chrono::system_clock::time_point taken, bool withTexts) {
    return statusJson(status, texts, StatusJsonParts{utcText(taken, true), withTexts}).dump();
}

std::vector<Message> discoveryMessages(const MqttConfig& config, const Topics& topics,
                                       const std::string& location, const StatusReport& status) {
    const ControllerTopics controller = topics.controller(location);
    // What every entity of the controller shares.
    json shared;
    shared["dev"] =
        json{{"ids", json::array({controller.id})},
             {"name", std::string(OSTREL_PRODUCT) + " " + location + " " + config.clientId},
             {"mf", OSTREL_MANUFACTURER},
             {"mdl", OSTREL_PRODUCT},
             {"sw", firmwareText(status)}};
    shared["o"] = json{{"name", "ostrelctl"}, {"sw", OSTREL_VERSION}};
    // Available only while both the publisher and the controller are.
    shared["avty"] =
        json::array({json{{"t", topics.publisherStatus()}}, json{{"t", controller.status}}});
    shared["avty_mode"] = "all";
    shared["stat_t"] = controller.state;
    shared["qos"] = 1;

    std::vector<Component> list = components(controller.id);
    std::vector<Message> messages;
    if (config.discovery == DiscoveryForm::Device) {
        json payload = shared;
        json cmps = json::object();
        for (Component& component : list) {
            cmps[component.id] = std::move(component.config);
        }
        payload["cmps"] = std::move(cmps);
        messages.push_back(
            {config.homeAssistantPrefix + "/device/" + controller.id + "/config", payload.dump()});
        return messages;
    }
    for (Component& component : list) {
        const std::string platform = component.config["p"];
        json payload = std::move(component.config);
        payload.erase("p");
        for (const auto& [key, value] : shared.items()) {
            payload[key] = value;
        }
        messages.push_back({config.homeAssistantPrefix + "/" + platform + "/" + controller.id +
                                "/" + component.id + "/config",
                            payload.dump()});
    }
    return messages;
}

bool changedAtOnce(const StatusReport& before, const StatusReport& now) {
    return before.state != now.state || before.mode != now.mode || before.version != now.version ||
           before.voltageFlags != now.voltageFlags || before.statusFlags1 != now.statusFlags1 ||
           before.statusFlags2 != now.statusFlags2 || before.timerFlags != now.timerFlags ||
           before.inputFlags != now.inputFlags || before.outputFlags != now.outputFlags;
}

}  // namespace ctl::mqtt
