#include "services/mqtt/MqttSettings.h"

#include <array>

namespace ctl {

std::span<const MqttSetting> mqttSettings() {
    static constexpr std::array settings{
        MqttSetting{"broker",
                    "mqtt://HOST:PORT or mqtts://HOST:PORT (TLS); HOST a name, an IPv4 address "
                    "or [IPv6]",
                    nullptr},
        MqttSetting{"client_id",
                    "the MQTT client id and a topic level: 1 to 64 letters, digits, '.', '-', "
                    "'_'",
                    "the host name (its first label)"},
        MqttSetting{"prefix", "the first topic levels", "ostrel"},
        MqttSetting{"interval", "seconds between two readings published, 0.1 to 86400", "10"},
        MqttSetting{"username", "the broker login", "none"},
        MqttSetting{"password_file",
                    "a file whose first line is the password (never a password on the "
                    "command line, where ps shows it); others may not read it",
                    "none"},
        MqttSetting{"ca_file", "the CAs that sign the broker's certificate, PEM (mqtts:// only)",
                    "the system's"},
        MqttSetting{"cert_file", "a client certificate, PEM (mqtts:// only)", "none"},
        MqttSetting{"key_file",
                    "the client certificate's private key, PEM (mqtts:// only); others may "
                    "not read it",
                    "none"},
        MqttSetting{"homeassistant", "yes or no: Home Assistant's MQTT discovery", "yes"},
        MqttSetting{"homeassistant_prefix", "Home Assistant's discovery prefix", "homeassistant"},
        MqttSetting{"homeassistant_discovery",
                    "device (one config a controller, Home Assistant 2024.11 and later) or "
                    "entity (one config an entity, for older releases and other consumers)",
                    "device"},
        MqttSetting{"buffer_hours",
                    "how many hours of readings the buffer holds while the broker cannot be "
                    "reached (above 0, at most 8760); the oldest are dropped, and counted, "
                    "beyond",
                    "24"},
        MqttSetting{"expiry_hours", "each reading's message expiry, 0 for none (at most 8760)",
                    "24"},
        MqttSetting{"texts", "yes or no: the caption and the ...Text keys in each reading", "no"},
    };
    return settings;
}

std::span<const MqttTopic> mqttTopics() {
    static constexpr std::array topics{
        MqttTopic{"PREFIX/CLIENTID/LOCATION/state",
                  "One reading of one controller (QoS 1, not retained, with the message "
                  "expiry): the keys of status --json as numbers (firmware as text), and time, "
                  "when it was taken (UTC, ISO 8601). Every interval, and at once when the "
                  "state, the mode, the firmware or a flag bit changes."},
        MqttTopic{"PREFIX/CLIENTID/status",
                  "The publisher's availability, retained: online on every connection, offline "
                  "as its last will and when it ends."},
        MqttTopic{"PREFIX/CLIENTID/LOCATION/status",
                  "Each controller's availability, retained: offline when it is unplugged or "
                  "does not answer, online when it answers again."},
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
