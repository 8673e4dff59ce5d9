// What `ostrelctl mqtt` reads and publishes: the keys of its configuration file, one row a key
// that the file's reader dispatches through, the manual page lists and a test holds README.md
// to; and its topics. The command itself is built only where Paho is (services/mqtt); its
// configuration's reader and its manual page everywhere.
#pragma once

#include <span>
#include <string>

namespace ctl {

namespace mqtt {
struct MqttConfig;
struct ConfigEnvironment;
}  // namespace mqtt

struct MqttSetting {
    const char* key;
    const char* value;     // what it takes
    const char* fallback;  // when it is not given; null: it must be given
    // The fallback is a value the key takes, which MqttConfig's own default holds (else it
    // says what happens without one: "none", "the system's").
    bool fallbackIsValue;
    // Sets the key's field of `config` from `text` (trimmed, not empty); else says why not,
    // without the key: "'maybe' is not yes or no".
    std::string (*take)(const std::string& text, mqtt::MqttConfig& config,
                        const mqtt::ConfigEnvironment& environment);
};

// Every key the configuration file takes, in the manual page's order.
std::span<const MqttSetting> mqttSettings();

// The row of `key`; null for a key the file does not take.
const MqttSetting* findMqttSetting(const std::string& key);

// The configuration file the package installs: its form in a few lines, then each key with
// what it takes and its default, commented out. Read as it is, it lacks only the broker.
std::string mqttExampleConfig();

struct MqttTopic {
    const char* topic;
    const char* meaning;
};

std::span<const MqttTopic> mqttTopics();

}  // namespace ctl
