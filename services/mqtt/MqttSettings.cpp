#include "services/mqtt/MqttSettings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "params/Numbers.h"
#include "services/mqtt/MqttConfig.h"

namespace ctl {
namespace {

using mqtt::ConfigEnvironment;
using mqtt::MqttConfig;

constexpr std::size_t MAX_CLIENT_ID = 64;
constexpr std::size_t MAX_PREFIX = 128;

bool idCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// Topic levels of letters, digits, '.', '-' and '_', separated by '/'.
bool topicPrefix(const std::string& text) {
    if (text.empty() || text.size() > MAX_PREFIX || text.front() == '/' || text.back() == '/' ||
        text.find("//") != std::string::npos) {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) { return c == '/' || idCharacter(c); });
}

std::string prefix(const std::string& value, std::string& out) {
    out = value;
    return topicPrefix(value) ? std::string()
                              : "'" + value +
                                    "' is not topic levels of letters, digits, '.', '-' and "
                                    "'_' separated by '/'";
}

// A list of group names, each one topic level as a client id is: "a, b".
std::string groupList(const std::string& value, std::vector<std::string>& out) {
    constexpr std::size_t MOST_GROUPS = 16;
    out.clear();
    std::istringstream items(value);
    for (std::string item; std::getline(items, item, ',');) {
        const std::size_t first = item.find_first_not_of(' ');
        const std::size_t last = item.find_last_not_of(' ');
        item = first == std::string::npos ? std::string() : item.substr(first, last - first + 1);
        if (item.empty() || item.size() > MAX_CLIENT_ID ||
            !std::all_of(item.begin(), item.end(), idCharacter)) {
            return "'" + item + "' is not a group: 1 to 64 letters, digits, '.', '-' or '_'";
        }
        if (std::find(out.begin(), out.end(), item) != out.end()) {
            return "'" + item + "' is named twice";
        }
        out.push_back(item);
    }
    if (value.ends_with(',')) {
        return "a ',' with no group after it";
    }
    if (out.size() > MOST_GROUPS) {
        return "more than " + std::to_string(MOST_GROUPS) + " groups";
    }
    return {};
}

std::string yesNo(const std::string& value, bool& out) {
    if (value == "yes" || value == "no") {
        out = value == "yes";
        return {};
    }
    return "'" + value + "' is not yes or no";
}

// A number from `low` (or above it, when not `lowIncluded`) to `high`.
std::string number(const std::string& value, double low, bool lowIncluded, double high, double& out,
                   const char* what) {
    const std::optional<double> parsed = numbers::readDecimal(value, numbers::CONFIG_DECIMAL);
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
    return {};
}

// A credential name (no '/') is looked up where systemd puts the service's credentials.
std::string secretPath(const std::string& value, const ConfigEnvironment& environment,
                       std::string& out) {
    if (value.find('/') == std::string::npos) {
        if (value == "." || value == "..") {
            return "'" + value + "' is no file";
        }
        out = environment.credentialsDirectory + "/" + value;
        return {};
    }
    if (value.front() != '/') {
        return "'" + value + "': give an absolute path, or the name of a systemd credential";
    }
    out = value;
    return {};
}

constexpr std::array SETTINGS{
    MqttSetting{"broker",
                "mqtt://HOST:PORT or mqtts://HOST:PORT (TLS); HOST a name, an IPv4 address "
                "or [IPv6]",
                nullptr, false,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    const std::optional<mqtt::BrokerAddress> address = mqtt::parseBrokerUrl(v);
                    if (!address) {
                        return "'" + v + "' is not mqtt://HOST:PORT or mqtts://HOST:PORT";
                    }
                    config.broker = *address;
                    return std::string();
                }},
    MqttSetting{"client_id",
                "the MQTT client id and a topic level: 1 to 64 letters, digits, '.', '-', "
                "'_'",
                "the host name (its first label)", false,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    config.clientId = v;
                    const bool id = !v.empty() && v.size() <= MAX_CLIENT_ID &&
                                    std::all_of(v.begin(), v.end(), idCharacter);
                    return id ? std::string()
                              : "'" + v + "' is not 1 to 64 letters, digits, '.', '-' or '_'";
                }},
    MqttSetting{"prefix", "the first topic levels", "ostrel", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return prefix(v, config.prefix);
                }},
    MqttSetting{"interval",
                "seconds: with report = exception, the shortest time between two readings "
                "a measurement's move publishes; with report = interval, the time between "
                "any two; the controller is asked every interval when it is shorter than "
                "1 s (0.1 to 86400)",
                "10", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return number(v, 0.1, true, 86400, config.intervalSeconds,
                                  "a number of seconds");
                }},
    MqttSetting{"username", "the broker login", "none", false,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    config.username = v;
                    return std::string();
                }},
    MqttSetting{"password_file",
                "a file whose first line is the password (never a password on the "
                "command line, where ps shows it); others may not read it",
                "none", false,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment& env) {
                    return secretPath(v, env, config.passwordFile);
                }},
    MqttSetting{"ca_file", "the CAs that sign the broker's certificate, PEM (mqtts:// only)",
                "the system's", false,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment& env) {
                    return secretPath(v, env, config.caFile);
                }},
    MqttSetting{"cert_file", "a client certificate, PEM (mqtts:// only)", "none", false,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment& env) {
                    return secretPath(v, env, config.certFile);
                }},
    MqttSetting{"key_file",
                "the client certificate's private key, PEM (mqtts:// only); others may "
                "not read it",
                "none", false,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment& env) {
                    return secretPath(v, env, config.keyFile);
                }},
    MqttSetting{"homeassistant", "yes or no: Home Assistant's MQTT discovery", "yes", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return yesNo(v, config.homeAssistant);
                }},
    MqttSetting{"homeassistant_prefix", "Home Assistant's discovery prefix", "homeassistant", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return prefix(v, config.homeAssistantPrefix);
                }},
    MqttSetting{"homeassistant_discovery",
                "device (one config a controller, Home Assistant 2024.11 and later) or "
                "entity (one config an entity, for older releases and other consumers)",
                "device", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    if (v != "device" && v != "entity") {
                        return "'" + v + "' is not device or entity";
                    }
                    config.discovery =
                        v == "device" ? mqtt::DiscoveryForm::Device : mqtt::DiscoveryForm::Entity;
                    return std::string();
                }},
    MqttSetting{"buffer_hours",
                "how many hours of readings the buffer holds while the broker cannot be "
                "reached (above 0, at most 8760); the oldest are dropped, and counted, "
                "beyond",
                "24", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return number(v, 0, false, 8760, config.bufferHours, "a number of hours");
                }},
    MqttSetting{"buffer_mb",
                "the most megabytes the buffer takes, on disk (the store's log included) and "
                "in memory (1 to 4096); the oldest are dropped, and counted, beyond",
                "16", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return number(v, 1, true, 4096, config.bufferMegabytes, "a number of MB");
                }},
    MqttSetting{"report",
                "exception (a reading when the state, the mode, the firmware or a flag bit "
                "changes, when a measurement leaves its deadband around the value published "
                "last, else every heartbeat) or interval (every interval, and a change at "
                "once, as before report existed)",
                "exception", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    if (v != "exception" && v != "interval") {
                        return "'" + v + "' is not exception or interval";
                    }
                    config.byException = v == "exception";
                    return std::string();
                }},
    MqttSetting{"heartbeat",
                "seconds between two readings when nothing moved (report = exception), 1 to "
                "86400: half an hour keeps a parked vehicle's day under 100 KB with the "
                "keep-alive's pings, and still shows it is there",
                "1800", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return number(v, 1, true, 86400, config.heartbeatSeconds,
                                  "a number of seconds");
                }},
    MqttSetting{"deadband_volts",
                "volts the input or the ignition may move from the value published before a "
                "reading is due, 0 to 30: 0.5 V is four counts of the controller's 0.11 to "
                "0.16 V, above the alternator's ripple and a count's jitter, below the step "
                "from a battery at rest (12.6 V) to one charging (13.8 V and more)",
                "0.5", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return number(v, 0, true, 30, config.deadbandVolts, "a number of volts");
                }},
    MqttSetting{"deadband_rails",
                "volts a 3.3 V, 5 V or 12 V rail may move before a reading is due, 0 to 10: "
                "0.15 V is more than one count on every rail (0.02 to 0.12 V) and less than "
                "the 5 % a failing regulator drifts",
                "0.15", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return number(v, 0, true, 10, config.deadbandRails, "a number of volts");
                }},
    MqttSetting{"deadband_celsius",
                "degrees the temperature may move before a reading is due, 0 to 100: the "
                "controller counts whole degrees, and 2 ignores the jitter of one",
                "2", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return number(v, 0, true, 100, config.deadbandCelsius, "a number of degrees");
                }},
    MqttSetting{"keep_alive",
                "seconds of silence after which the link is checked with a ping (MQTT's "
                "keep-alive); a dead link is noticed within two, 10 to 3600: 240 s stays "
                "under the 5 minutes after which the shortest of mobile operators' NATs "
                "forget an idle connection, at 160 bytes a ping",
                "240", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    double seconds = 0;
                    std::string error = number(v, 10, true, 3600, seconds, "a number of seconds");
                    if (error.empty() && seconds != std::floor(seconds)) {
                        error = "'" + v + "' is not a whole number of seconds";
                    }
                    config.keepAliveSeconds = static_cast<int>(seconds);
                    return error;
                }},
    MqttSetting{"expiry_hours", "each reading's message expiry, 0 for none (at most 8760)", "24",
                true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return number(v, 0, true, 8760, config.expiryHours, "a number of hours");
                }},
    MqttSetting{"texts", "yes or no: the caption and the ...Text keys in each reading", "no", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return yesNo(v, config.texts);
                }},
    MqttSetting{"parameters",
                "yes or no: each controller's parameters on retained topics, read at the start, "
                "after each write and when the firmware changes",
                "no", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return yesNo(v, config.parameters);
                }},
    MqttSetting{"writes",
                "yes or no: parameters written from their set topics, as set writes "
                "them (needs parameters, and a login or a client certificate)",
                "no", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return yesNo(v, config.writes);
                }},
    MqttSetting{"factory_reset",
                "yes or no: the factory reset taken from its set topic too (needs writes)", "no",
                true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return yesNo(v, config.factoryReset);
                }},
    MqttSetting{"profiles",
                "yes or no: a fleet's profile (a backup file) taken from the profile topics and "
                "written to each controller as the station writes a unit, once a profile "
                "(needs a login or a client certificate)",
                "no", true,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return yesNo(v, config.profiles);
                }},
    MqttSetting{"groups",
                "the fleet's groups this vehicle is in, whose profiles it takes too: names "
                "separated by ',' (needs profiles)",
                "none", false,
                [](const std::string& v, MqttConfig& config, const ConfigEnvironment&) {
                    return groupList(v, config.groups);
                }},
};

}  // namespace

std::span<const MqttSetting> mqttSettings() {
    return SETTINGS;
}

const MqttSetting* findMqttSetting(const std::string& key) {
    const auto row = std::find_if(SETTINGS.begin(), SETTINGS.end(),
                                  [&](const MqttSetting& setting) { return setting.key == key; });
    return row == SETTINGS.end() ? nullptr : &*row;
}

std::string mqttExampleConfig() {
    std::string text;
    // Comment lines of at most 78 characters, broken at spaces.
    auto comment = [&text](std::string_view words) {
        constexpr std::size_t WIDTH = 76;
        while (!words.empty()) {
            std::size_t cut = words.size();
            if (cut > WIDTH) {
                cut = words.rfind(' ', WIDTH);
                if (cut == std::string_view::npos) {
                    cut = std::min(words.find(' '), words.size());
                }
            }
            text += "# ";
            text += words.substr(0, cut);
            text += '\n';
            words.remove_prefix(std::min(cut + 1, words.size()));
        }
    };
    comment(
        "The configuration of ostrelctl mqtt, which ostrel-mqtt.service reads: key = value "
        "lines; a line whose first character other than a blank is # is a comment, and a # "
        "within a value is refused. Each key is shown below with its default, commented "
        "out. Set broker, then enable the service:");
    text += "#   systemctl enable --now ostrel-mqtt.service\n";
    comment(
        "A file name without a slash names a systemd credential, kept in /etc/credstore "
        "(root's only): password_file = ostrel-mqtt-password reads "
        "/etc/credstore/ostrel-mqtt-password. See ostrelctl(1), command mqtt.");
    for (const MqttSetting& setting : mqttSettings()) {
        text += '\n';
        std::string about = std::string(setting.key) + ": " + setting.value + ".";
        if (setting.fallback == nullptr) {
            about += " Required.";
        } else if (!setting.fallbackIsValue) {
            about += " By default " + std::string(setting.fallback) + ".";
        }
        comment(about);
        text += '#';
        text += setting.key;
        text += " =";
        if (setting.fallbackIsValue) {
            text += ' ';
            text += setting.fallback;
        }
        text += '\n';
    }
    return text;
}

std::span<const MqttTopic> mqttTopics() {
    static constexpr std::array topics{
        MqttTopic{"PREFIX/CLIENTID/LOCATION/state",
                  "One reading of one controller (QoS 1, not retained, with the message "
                  "expiry): the keys of status --json as numbers (firmware as text), and time, "
                  "when it was taken (UTC, ISO 8601). With report = exception: at once when "
                  "the state, the mode, the firmware or a flag bit changes or a measurement "
                  "leaves its deadband, else every heartbeat. After a dead zone only the "
                  "newest reading of each controller comes here."},
        MqttTopic{"PREFIX/CLIENTID/LOCATION/history",
                  "The readings taken while the broker could not be reached, but the newest: "
                  "a JSON array of states as on the state topic, oldest first, each with its "
                  "time, at most 64 KB a message (QoS 1, not retained, with the message "
                  "expiry)."},
        MqttTopic{"PREFIX/CLIENTID/status",
                  "The publisher's availability, retained: online on every connection, offline "
                  "as its last will and when it ends."},
        MqttTopic{"PREFIX/CLIENTID/LOCATION/status",
                  "Each controller's availability, retained: offline when it is unplugged or "
                  "does not answer, online when it answers again."},
        MqttTopic{"PREFIX/CLIENTID/LOCATION/param/NAME",
                  "With parameters = yes, each parameter of each controller, retained: its "
                  "object of get --json (NAME its short name), read at the start, after each "
                  "write and when the firmware changes."},
        MqttTopic{"PREFIX/CLIENTID/LOCATION/param/NAME/set",
                  "With writes = yes, a value to write, taken as ostrelctl set NAME VALUE takes "
                  "it, and read back; not retained (a retained one is refused)."},
        MqttTopic{"PREFIX/CLIENTID/LOCATION/param/NAME/result",
                  "The answer to each set message (QoS 1, not retained): ok, or the refusal or "
                  "failure in the words of ostrelctl set."},
        MqttTopic{"PREFIX/CLIENTID/profile",
                  "With profiles = yes, the vehicle's profile, retained, published by the "
                  "fleet: a backup file as ostrelctl backup writes it, with \"convert\": true "
                  "to write across firmware families."},
        MqttTopic{"PREFIX/groups/GROUP/profile",
                  "A group's profile, the same way, for each group of groups."},
        MqttTopic{"PREFIX/CLIENTID/LOCATION/profile",
                  "What the last profile came to on each controller, retained: the keys of a "
                  "unit's line of the station's log (result PASS or FAIL, written, verified, "
                  "failedParameters, failedReasons, reason), with the profile's topic, its "
                  "SHA-256 and the time."},
        MqttTopic{"HAPREFIX/device/CLIENTID_LOCATION/config",
                  "Home Assistant's device discovery, retained, with each controller's first "
                  "answer and again after Home Assistant announces online on "
                  "HAPREFIX/status; with homeassistant_discovery = entity, one config an "
                  "entity on HAPREFIX/sensor/CLIENTID_LOCATION/FIELD/config and "
                  "HAPREFIX/binary_sensor/..."},
    };
    return topics;
}

}  // namespace ctl
