#include "services/mqtt/MqttConfig.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <sstream>

namespace ctl::mqtt {
namespace {

constexpr std::size_t MAX_CONFIG_BYTES = 64 * 1024;
constexpr std::size_t MAX_SECRET_BYTES = 4096;
constexpr std::size_t MAX_CLIENT_ID = 64;
constexpr std::size_t MAX_PREFIX = 128;

bool idCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

std::string trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// Wholly a decimal number ("10", "0.5"): no sign, exponent, inf or comma.
std::optional<double> decimal(const std::string& text) {
    const auto dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string part = dot == std::string::npos ? "1" : text.substr(dot + 1);
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() <= 12 &&
               s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(whole) || !digits(part)) {
        return std::nullopt;
    }
    return std::strtod(text.c_str(), nullptr);
}

// Topic levels of letters, digits, '.', '-' and '_', separated by '/'.
bool topicPrefix(const std::string& text) {
    if (text.empty() || text.size() > MAX_PREFIX || text.front() == '/' || text.back() == '/' ||
        text.find("//") != std::string::npos) {
        return false;
    }
    for (const char c : text) {
        if (c != '/' && !idCharacter(c)) {
            return false;
        }
    }
    return true;
}

bool clientIdText(const std::string& text) {
    if (text.empty() || text.size() > MAX_CLIENT_ID) {
        return false;
    }
    for (const char c : text) {
        if (!idCharacter(c)) {
            return false;
        }
    }
    return true;
}

std::string systemError(int error) {
    return std::strerror(error);
}

// A file that must exist and be read; `secret`: readable by its owner and group only.
std::string checkFile(const std::string& path, const char* key, bool secret) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::string(key) + ": cannot read " + path + ": " + systemError(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return std::string(key) + ": " + path + " is not a regular file";
    }
    if (secret && (info.st_mode & (S_IROTH | S_IWOTH)) != 0) {
        return std::string(key) + ": " + path +
               " may be read or written by others: make it private (chmod o-rw " + path + ")";
    }
    if (::access(path.c_str(), R_OK) != 0) {
        return std::string(key) + ": cannot read " + path + ": " + systemError(errno);
    }
    return {};
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
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos) {
            return std::nullopt;
        }
        address.port = std::atoi(std::string(portText).c_str());
        if (address.port < 1 || address.port > 65535) {
            return std::nullopt;
        }
    }
    return address;
}

ConfigResult parseMqttConfig(std::string_view text, const std::string& source,
                             const ConfigEnvironment& environment) {
    MqttConfig config;
    config.clientId = environment.hostName;
    ConfigResult result;
    bool brokerGiven = false;

    auto yesNo = [](const std::string& value, bool& out) {
        if (value == "yes" || value == "no") {
            out = value == "yes";
            return std::string();
        }
        return std::string("'" + value + "' is not yes or no");
    };
    auto number = [](const std::string& value, double low, bool lowIncluded, double high,
                     double& out, const char* what) {
        const std::optional<double> parsed = decimal(value);
        if (!parsed || *parsed > high || *parsed < low || (!lowIncluded && *parsed == low)) {
            std::ostringstream range;
            range << "'" << value << "' is not " << what;
            if (lowIncluded) {
                range << " from " << low << " to " << high;
            } else {
                range << " above " << low << ", at most " << high;
            }
            return range.str();
        }
        out = *parsed;
        return std::string();
    };
    // A credential name (no '/') is looked up where systemd puts the service's credentials.
    auto secretPath = [&](const std::string& value, std::string& out) {
        if (value.find('/') == std::string::npos) {
            if (value == "." || value == "..") {
                return std::string("'" + value + "' is no file");
            }
            out = environment.credentialsDirectory + "/" + value;
            return std::string();
        }
        if (value.front() != '/') {
            return std::string("'" + value +
                               "': give an absolute path, or the name of a systemd credential");
        }
        out = value;
        return std::string();
    };

    auto prefix = [](const std::string& value, std::string& out) {
        out = value;
        return topicPrefix(value) ? std::string()
                                  : "'" + value +
                                        "' is not topic levels of letters, digits, '.', '-' and "
                                        "'_' separated by '/'";
    };

    using Setter = std::function<std::string(const std::string&)>;
    const std::map<std::string, Setter> keys{
        {"broker",
         [&](const std::string& v) {
             const std::optional<BrokerAddress> address = parseBrokerUrl(v);
             if (!address) {
                 return std::string("'" + v + "' is not mqtt://HOST:PORT or mqtts://HOST:PORT");
             }
             config.broker = *address;
             brokerGiven = true;
             return std::string();
         }},
        {"client_id",
         [&](const std::string& v) {
             config.clientId = v;
             return clientIdText(v) ? std::string()
                                    : "'" + v + "' is not 1 to 64 letters, digits, '.', '-' or '_'";
         }},
        {"prefix", [&](const std::string& v) { return prefix(v, config.prefix); }},
        {"interval",
         [&](const std::string& v) {
             return number(v, 0.1, true, 86400, config.intervalSeconds, "a number of seconds");
         }},
        {"username",
         [&](const std::string& v) {
             config.username = v;
             return std::string();
         }},
        {"password_file", [&](const std::string& v) { return secretPath(v, config.passwordFile); }},
        {"ca_file", [&](const std::string& v) { return secretPath(v, config.caFile); }},
        {"cert_file", [&](const std::string& v) { return secretPath(v, config.certFile); }},
        {"key_file", [&](const std::string& v) { return secretPath(v, config.keyFile); }},
        {"homeassistant", [&](const std::string& v) { return yesNo(v, config.homeAssistant); }},
        {"homeassistant_prefix",
         [&](const std::string& v) { return prefix(v, config.homeAssistantPrefix); }},
        {"homeassistant_discovery",
         [&](const std::string& v) {
             if (v != "device" && v != "entity") {
                 return std::string("'" + v + "' is not device or entity");
             }
             config.discovery = v == "device" ? DiscoveryForm::Device : DiscoveryForm::Entity;
             return std::string();
         }},
        {"buffer_hours",
         [&](const std::string& v) {
             return number(v, 0, false, 8760, config.bufferHours, "a number of hours");
         }},
        {"expiry_hours",
         [&](const std::string& v) {
             return number(v, 0, true, 8760, config.expiryHours, "a number of hours");
         }},
        {"texts", [&](const std::string& v) { return yesNo(v, config.texts); }},
    };

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
        line = line.substr(0, line.find('#'));
        if (trim(line).empty()) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            return fail(lineNumber, {"not a 'key = value' line"});
        }
        const std::string key = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        const auto setter = keys.find(key);
        if (setter == keys.end()) {
            std::string known;
            for (const auto& [name, unused] : keys) {
                known += known.empty() ? "" : ", ";
                known += name;
            }
            return fail(lineNumber, {"unknown key '", key, "' (the keys are ", known, ")"});
        }
        if (const auto first = seen.find(key); first != seen.end()) {
            return fail(lineNumber, {key, " is given twice (first on line ",
                                     std::to_string(first->second), ")"});
        }
        seen.emplace(key, lineNumber);
        if (value.empty()) {
            return fail(lineNumber, {key, ": no value"});
        }
        if (const std::string refusal = setter->second(value); !refusal.empty()) {
            return fail(lineNumber, {key, ": ", refusal});
        }
    }

    auto missing = [&](const std::string& message) {
        result.error = source + ": " + message;
        return result;
    };
    if (!brokerGiven) {
        return missing("broker: missing (broker = mqtt://HOST:PORT or mqtts://HOST:PORT)");
    }
    if (!clientIdText(config.clientId)) {
        return missing("client_id: the host name '" + config.clientId +
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
    result.config = config;
    return result;
}

ConfigResult loadMqttConfig(const std::string& path, const ConfigEnvironment& environment) {
    ConfigResult result;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        result.error = "cannot read the configuration " + path + ": " + systemError(errno);
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.error = "the configuration " + path + " is not a regular file";
        return result;
    }
    std::ifstream file(path, std::ios::binary);
    std::string text(MAX_CONFIG_BYTES + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad() || (!file && !file.eof())) {
        result.error = "cannot read the configuration " + path;
        return result;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > MAX_CONFIG_BYTES) {
        result.error = "the configuration " + path + " is larger than 64 KiB";
        return result;
    }
    result = parseMqttConfig(text, path, environment);
    if (!result.config) {
        return result;
    }
    const MqttConfig& config = *result.config;
    for (const auto& [key, named, secret] : {std::tuple{"password_file", config.passwordFile, true},
                                             std::tuple{"ca_file", config.caFile, false},
                                             std::tuple{"cert_file", config.certFile, false},
                                             std::tuple{"key_file", config.keyFile, true}}) {
        if (named.empty()) {
            continue;
        }
        if (std::string refusal = checkFile(named, key, secret); !refusal.empty()) {
            result.config.reset();
            result.error = path;
            result.error += ": " + refusal;
            return result;
        }
    }
    if (!config.passwordFile.empty()) {
        std::string error;
        if (!readPassword(config.passwordFile, error)) {
            result.config.reset();
            result.error = path + ": password_file: " + error;
        }
    }
    return result;
}

std::optional<std::string> readPassword(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path + ": " + systemError(errno);
        return std::nullopt;
    }
    std::string text(MAX_SECRET_BYTES + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > MAX_SECRET_BYTES) {
        error = path + " is larger than 4 KiB: not a password";
        return std::nullopt;
    }
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    if (text.empty()) {
        error = path + " holds no password on its first line";
        return std::nullopt;
    }
    return text;
}

ConfigEnvironment processEnvironment() {
    ConfigEnvironment environment;
    if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
        credentials != nullptr && *credentials != '\0') {
        environment.credentialsDirectory = credentials;
    }
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) == 0) {
        environment.hostName = name.data();
        // The host name's first label: "car7.fleet.example" is car7.
        environment.hostName = environment.hostName.substr(0, environment.hostName.find('.'));
    }
    return environment;
}

}  // namespace ctl::mqtt
