#include "services/mqtt/MqttConfig.h"

#include <algorithm>
#include <initializer_list>
#include <map>
#include <vector>

#include "params/Numbers.h"
#include "services/mqtt/MqttSettings.h"

namespace ctl::mqtt {
namespace {

std::string trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// "broker, buffer_hours, ...": every key, in alphabetical order.
std::string keyList() {
    std::vector<std::string> keys;
    for (const MqttSetting& setting : mqttSettings()) {
        keys.emplace_back(setting.key);
    }
    std::sort(keys.begin(), keys.end());
    std::string list;
    for (const std::string& key : keys) {
        list += (list.empty() ? "" : ", ") + key;
    }
    return list;
}

}  // namespace

std::string BrokerAddress::pahoUri() const {
    return std::string(tls ? "ssl://" : "tcp://") + host + ":" + std::to_string(port);
}

std::string BrokerAddress::text() const {
    return std::string(tls ? "mqtts://" : "mqtt://") + host + ":" + std::to_string(port);
}

std::optional<BrokerAddress> parseBrokerUrl(std::string_view url) {
    BrokerAddress address;
    std::string_view rest;
    if (url.starts_with("mqtt://")) {
        rest = url.substr(7);
        address.port = 1883;
    } else if (url.starts_with("mqtts://")) {
        rest = url.substr(8);
        address.tls = true;
        address.port = 8883;
    } else {
        return std::nullopt;
    }
    std::string_view portText;
    if (rest.starts_with("[")) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos || close == 1) {
            return std::nullopt;
        }
        for (const char c : rest.substr(1, close - 1)) {
            const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                             (c >= 'A' && c <= 'F') || c == ':' || c == '.';
            if (!hex) {
                return std::nullopt;
            }
        }
        address.host = std::string(rest.substr(0, close + 1));
        rest = rest.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return std::nullopt;
            }
            portText = rest.substr(1);
            if (portText.empty()) {
                return std::nullopt;
            }
        }
    } else {
        const auto colon = rest.find(':');
        address.host = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = rest.substr(colon + 1);
            if (portText.empty()) {
                return std::nullopt;
            }
        }
        if (address.host.empty() || address.host.size() > 253 || address.host.front() == '.' ||
            address.host.front() == '-') {
            return std::nullopt;
        }
        for (const char c : address.host) {
            const bool name = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              (c >= '0' && c <= '9') || c == '.' || c == '-';
            if (!name) {
                return std::nullopt;
            }
        }
    }
    if (!portText.empty()) {
        const std::optional<std::uint32_t> port = numbers::readWhole(portText, 1, 65535);
        if (!port) {
            return std::nullopt;
        }
        address.port = static_cast<int>(*port);
    }
    return address;
}

ConfigResult parseMqttConfig(std::string_view text, const std::string& source,
                             const ConfigEnvironment& environment) {
    MqttConfig config;
    ConfigResult result;
    auto fail = [&](int line, std::initializer_list<std::string_view> parts) {
        result.error = source + ":" + std::to_string(line) + ": ";
        for (const std::string_view part : parts) {
            result.error += part;
        }
        return result;
    };
    if (text.find('\0') != std::string_view::npos) {
        result.error = source + ": not a text file";
        return result;
    }
    std::map<std::string, int> seen;
    int lineNumber = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = text.find('\n', start);
        std::string_view line = text.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        start = end == std::string_view::npos ? text.size() + 1 : end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        // A comment is a line of its own: a '#' after a value is no comment, since cutting
        // there would silently take "car#7" as "car".
        const std::string content = trim(line);
        if (content.empty() || content.front() == '#') {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            return fail(lineNumber, {"not a 'key = value' line"});
        }
        const std::string key = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        const MqttSetting* setting = findMqttSetting(key);
        if (setting == nullptr) {
            return fail(lineNumber, {"unknown key '", key, "' (the keys are ", keyList(), ")"});
        }
        if (const auto first = seen.find(key); first != seen.end()) {
            return fail(lineNumber, {key, " is given twice (first on line ",
                                     std::to_string(first->second), ")"});
        }
        seen.emplace(key, lineNumber);
        if (value.find('#') != std::string::npos) {
            return fail(lineNumber, {key, ": '#' in a value: a comment takes a line of its own"});
        }
        if (value.empty()) {
            return fail(lineNumber, {key, ": no value"});
        }
        if (const std::string refusal = setting->take(value, config, environment);
            !refusal.empty()) {
            return fail(lineNumber, {key, ": ", refusal});
        }
    }

    auto missing = [&](const std::string& message) {
        result.error = source + ": " + message;
        return result;
    };
    if (!seen.contains("broker")) {
        return missing("broker: missing (broker = mqtt://HOST:PORT or mqtts://HOST:PORT)");
    }
    // The client id the host name gives must be one as client_id would take it.
    if (!seen.contains("client_id") &&
        !findMqttSetting("client_id")->take(environment.hostName, config, environment).empty()) {
        return missing("client_id: the host name '" + environment.hostName +
                       "' cannot be one: set client_id");
    }
    if (!config.broker.tls) {
        for (const auto& [key, file] :
             {std::pair{"ca_file", &config.caFile}, std::pair{"cert_file", &config.certFile},
              std::pair{"key_file", &config.keyFile}}) {
            if (!file->empty()) {
                return missing(std::string(key) + ": TLS files need an mqtts:// broker");
            }
        }
    }
    if (!config.keyFile.empty() && config.certFile.empty()) {
        return missing("key_file: needs cert_file, the certificate it belongs to");
    }
    if (config.writes && !config.parameters) {
        return missing("writes: needs parameters = yes, the topics it answers on");
    }
    // A broker that lets anyone publish would let anyone write the controllers.
    if (config.writes && config.username.empty() && config.certFile.empty()) {
        return missing(
            "writes: needs a login (username) or a client certificate (cert_file), "
            "so that only who the broker knows may write the controllers");
    }
    if (config.factoryReset && !config.writes) {
        return missing("factory_reset: needs writes = yes");
    }
    if (config.profiles && config.username.empty() && config.certFile.empty()) {
        return missing(
            "profiles: needs a login (username) or a client certificate (cert_file), "
            "so that only who the broker knows may write the controllers");
    }
    if (!config.groups.empty() && !config.profiles) {
        return missing("groups: needs profiles = yes");
    }
    // PREFIX/groups/GROUP/profile is the fleet's: a vehicle of that name could publish there.
    if (config.clientId == GROUPS_LEVEL) {
        return missing(std::string("client_id: '") + GROUPS_LEVEL +
                       "' is the level of the groups' profiles (PREFIX/groups/GROUP/profile): "
                       "choose another");
    }
    result.config = config;
    return result;
}

}  // namespace ctl::mqtt
