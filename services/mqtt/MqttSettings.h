// What `ostrelctl mqtt` reads and publishes, as the manual page lists it: the keys of its
// configuration file and its topics. The command itself is built only where Paho is
// (services/mqtt); its manual page everywhere.
#pragma once

#include <span>

namespace ctl {

struct MqttSetting {
    const char* key;
    const char* value;     // what it takes
    const char* fallback;  // when it is not given; null: it must be given
};

// Every key the configuration file takes: the file's reader accepts exactly these.
std::span<const MqttSetting> mqttSettings();

struct MqttTopic {
    const char* topic;
    const char* meaning;
};

std::span<const MqttTopic> mqttTopics();

}  // namespace ctl
