#include "services/mqtt/MqttMessages.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "core/names/ParamNames.h"
#include "core/readings/StatusFields.h"
#include "core/selection/Selection.h"
#include "device/OstrelIdentity.h"
#include "params/Cp1252.h"
#include "params/StrictValue.h"

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

// Home Assistant's entity id for a component: its platform, a dot, then its unique id in
// lowercase words joined by '_' ("sensor.car7_1_1_4_2_input_voltage"): short, and stable
// however the device or the entity is named.
std::string entityId(const std::string& platform, const std::string& uniqueId) {
    std::string id = platform + ".";
    bool gap = false;
    for (std::size_t i = 0; i < uniqueId.size(); ++i) {
        const char c = uniqueId[i];
        const bool upper = c >= 'A' && c <= 'Z';
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || upper) {
            // A capital that starts a word of a camel-case key is a word of its own.
            if (gap || (upper && i > 0 && uniqueId[i - 1] >= 'a' && uniqueId[i - 1] <= 'z')) {
                id += '_';
            }
            id += upper ? static_cast<char>(c - 'A' + 'a') : c;
            gap = false;
        } else {
            gap = id.back() != '.';
        }
    }
    return id;
}

// The window's unit beside the field ("[V]"), without its brackets.
std::string fieldUnit(const StatusField& field) {
    std::string unit = cp1252::toUtf8(field.unit);
    if (unit.size() >= 2 && unit.front() == '[' && unit.back() == ']') {
        unit = unit.substr(1, unit.size() - 2);
    }
    return unit;
}

// The window's label as Home Assistant shows it after the device's name, which already says
// the product: "State", not "Ostrel State".
std::string entityName(const StatusField& field) {
    std::string name = fieldName(field);
    const std::string product(OSTREL_PRODUCT);
    const std::string word = product.substr(0, product.find(' ')) + " ";
    return name.starts_with(word) && name.size() > word.size() ? name.substr(word.size()) : name;
}

std::string valueTemplate(const std::string& key) {
    return "{{ value_json." + key + " }}";
}

struct Component {
    std::string id;  // the key under cmps, and the last level of an entity's topic
    json config;     // with "p", the platform
};

// The entities of one controller: every status field in the table's order (a measurement
// where it has a device class, a binary sensor for each bit of a flag register, else a
// diagnostic), then the mode, the firmware and the time of the last reading as diagnostics.
std::vector<Component> components(const std::string& uniquePrefix) {
    std::vector<Component> list;
    auto add = [&](const std::string& id, json config) {
        config["uniq_id"] = uniquePrefix + "_" + id;
        // Home Assistant's device form does not pass the shared qos on to its components.
        config["qos"] = 1;
        list.push_back({id, std::move(config)});
    };
    auto diagnostic = [&](const std::string& id, const std::string& name, const std::string& tpl) {
        add(id, json{{"p", "sensor"}, {"name", name}, {"ent_cat", "diagnostic"}, {"val_tpl", tpl}});
    };
    for (const StatusField& field : STATUS_FIELDS) {
        if (field.kind == FieldKind::Flags) {
            for (int bit = 0; bit < 8; ++bit) {
                add(std::string(field.key) + std::to_string(bit),
                    json{{"p", "binary_sensor"},
                         {"name", fieldName(field) + " bit " + std::to_string(bit)},
                         {"ent_cat", "diagnostic"},
                         {"val_tpl", "{{ value_json." + std::string(field.key) + " // " +
                                         std::to_string(1 << bit) + " % 2 }}"},
                         {"pl_on", "1"},
                         {"pl_off", "0"},
                         // 48 bits a controller: there for who looks, not recorded unasked.
                         {"en", false}});
            }
            // The register as the window shows it, bit 7 first: "00011111".
            diagnostic(field.key, fieldName(field),
                       "{% for b in range(7, -1, -1) %}{{ value_json." + std::string(field.key) +
                           " // 2 ** b % 2 }}{% endfor %}");
        } else if (field.deviceClass != nullptr) {
            json config{
                {"p", "sensor"}, {"name", entityName(field)}, {"dev_cla", field.deviceClass}};
            // As the window shows them: volts to the hundredth, whole degrees.
            config["sug_dsp_prc"] = field.kind == FieldKind::Volts ? 2 : 0;
            if (const std::string unit = fieldUnit(field); !unit.empty()) {
                config["unit_of_meas"] = unit;
            }
            if (field.stateClass != nullptr) {
                config["stat_cla"] = field.stateClass;
            }
            config["val_tpl"] = valueTemplate(field.key);
            add(field.key, std::move(config));
        } else {
            diagnostic(field.key, entityName(field), valueTemplate(field.key));
        }
    }
    diagnostic("mode", "Mode", valueTemplate("mode"));
    diagnostic("firmware", "Firmware", valueTemplate("firmware"));
    // When the state was taken: a dead zone shows as its age.
    add("time", json{{"p", "sensor"},
                     {"name", "Last reading"},
                     {"dev_cla", "timestamp"},
                     {"ent_cat", "diagnostic"},
                     {"val_tpl", valueTemplate("time")}});
    return list;
}

// The table's unit ("[V]") without its brackets.
std::string paramUnit(const ParamDef& row) {
    std::string unit = utf8(row.unit);
    if (unit.size() >= 2 && unit.front() == '[' && unit.back() == ']') {
        unit = unit.substr(1, unit.size() - 2);
    }
    return unit;
}

// One entity a parameter the list offers, in the config category where it may be written:
// a number in the table's range and step, a text in the timers' form, the factory reset a
// button only when it is offered. Read-only ones are diagnostics: Home Assistant refuses a
// sensor in the config category.
void addParams(std::vector<Component>& list, const MqttConfig& config,
               const ControllerTopics& controller, const StatusReport& status) {
    ParamTable table;
    table.applyFirmwareVersion(status.version);
    for (const int index : table.offeredRows()) {
        const ParamDef& row = table.row(index);
        const std::string name = shortName(row.name);
        const std::string topic = controller.params + "/" + name;
        json entity{
            {"name", utf8(row.name)}, {"uniq_id", controller.id + "_param_" + name}, {"qos", 1}};
        if (row.kind == PK_ACTION) {
            if (!config.factoryReset) {
                continue;
            }
            entity.update({{"p", "button"},
                           {"ent_cat", "config"},
                           {"cmd_t", topic + "/set"},
                           {"pl_prs", FACTORY_RESET_PAYLOAD}});
            list.push_back({"param_" + name, std::move(entity)});
            continue;
        }
        entity.update({{"stat_t", topic}, {"val_tpl", "{{ value_json.text }}"}});
        const std::string unit = paramUnit(row);
        if (!config.writes) {
            entity.update({{"p", "sensor"}, {"ent_cat", "diagnostic"}});
        } else if (row.kind == PK_TIME) {
            // hh:mm:ss or Never, as the strict reader takes them.
            entity.update({{"p", "text"},
                           {"ent_cat", "config"},
                           {"cmd_t", topic + "/set"},
                           {"min", 5},
                           {"max", 8},
                           {"pattern", "^(Never|[0-9]{2}:[0-5][0-9]:[0-5][0-9])$"}});
        } else {
            const NumberEnds ends = acceptedNumbers(row);
            entity.update({{"p", "number"},
                           {"ent_cat", "config"},
                           {"cmd_t", topic + "/set"},
                           {"min", ends.lowest},
                           {"max", ends.highest},
                           {"step", row.factor},
                           {"mode", "box"}});
            if (row.kind == PK_VOLTAGE) {
                entity["dev_cla"] = "voltage";
            } else if (row.kind == PK_TEMPERATURE) {
                entity["dev_cla"] = "temperature";
            } else if (unit == "s" || unit == "ms") {
                entity["dev_cla"] = "duration";
            }
        }
        if (!unit.empty() && row.kind != PK_TIME) {
            entity["unit_of_meas"] = unit;
        }
        list.push_back({"param_" + name, std::move(entity)});
    }
}

}  // namespace

Topics::Topics(const MqttConfig& config)
    : m_prefix(config.prefix),
      m_base(config.prefix + "/" + config.clientId),
      m_clientId(config.clientId),
      m_homeAssistant(config.homeAssistantPrefix) {}

ControllerTopics Topics::controller(const std::string& location) const {
    ControllerTopics topics;
    topics.level = fileSafeLocation(location);
    topics.state = m_base + "/" + topics.level + "/state";
    topics.status = m_base + "/" + topics.level + "/status";
    topics.history = m_base + "/" + topics.level + "/history";
    topics.params = m_base + "/" + topics.level + "/param";
    topics.profile = m_base + "/" + topics.level + "/profile";
    topics.id = homeAssistantId(m_clientId + "_" + topics.level);
    return topics;
}

std::vector<std::string> Topics::profiles(const MqttConfig& config) const {
    std::vector<std::string> topics;
    if (config.profiles) {
        for (const std::string& group : config.groups) {
            topics.push_back(m_prefix + "/" + GROUPS_LEVEL + "/" + group + "/profile");
        }
        topics.push_back(m_base + "/profile");
    }
    return topics;
}

std::optional<Topics::SetTopic> Topics::parseSet(const std::string& topic) const {
    const std::string head = m_base + "/";
    constexpr std::string_view MIDDLE = "/param/";
    constexpr std::string_view TAIL = "/set";
    if (!topic.starts_with(head) || !topic.ends_with(TAIL)) {
        return std::nullopt;
    }
    const std::string rest = topic.substr(head.size(), topic.size() - head.size() - TAIL.size());
    const std::size_t middle = rest.find(MIDDLE);
    if (middle == std::string::npos || middle == 0) {
        return std::nullopt;
    }
    SetTopic parsed{rest.substr(0, middle), rest.substr(middle + MIDDLE.size())};
    if (parsed.level.find('/') != std::string::npos || parsed.name.empty() ||
        parsed.name.find('/') != std::string::npos) {
        return std::nullopt;
    }
    return parsed;
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
    if (config.parameters) {
        addParams(list, config, controller, status);
    }
    for (Component& component : list) {
        component.config["def_ent_id"] =
            entityId(component.config["p"], component.config["uniq_id"]);
    }
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
            if (!payload.contains(key)) {  // a parameter's own state topic stays
                payload[key] = value;
            }
        }
        messages.push_back({config.homeAssistantPrefix + "/" + platform + "/" + controller.id +
                                "/" + component.id + "/config",
                            payload.dump()});
    }
    return messages;
}

std::vector<std::string> retainedTopics(const MqttConfig& config, const Topics& topics,
                                        const std::string& location, bool every) {
    std::set<std::string> all;
    MqttConfig each = config;
    for (const DiscoveryForm form : {DiscoveryForm::Device, DiscoveryForm::Entity}) {
        for (const bool writes : {false, true}) {
            if (every) {
                each.discovery = form;
                each.parameters = true;
                each.writes = each.factoryReset = writes;
            }
            if (each.homeAssistant || every) {
                for (const Message& message : discoveryMessages(each, topics, location, {})) {
                    all.insert(message.topic);
                }
            }
        }
    }
    const ControllerTopics controller = topics.controller(location);
    all.insert(controller.status);
    if (every || config.profiles) {
        all.insert(controller.profile);
    }
    const ParamTable table;
    for (const int index : table.offeredRows()) {
        if (every || (config.parameters && table.row(index).kind != PK_ACTION)) {
            all.insert(controller.params + "/" + shortName(table.row(index).name));
        }
    }
    return {all.begin(), all.end()};
}

bool changedAtOnce(const StatusReport& before, const StatusReport& now) {
    if (before.mode != now.mode || before.version != now.version) {
        return true;
    }
    // A measurement goes at the interval's beat, what is no measurement at once.
    return std::ranges::any_of(STATUS_FIELDS, [&](const StatusField& field) {
        return field.deviceClass == nullptr && field.byte(before) != field.byte(now);
    });
}

}  // namespace ctl::mqtt
