// The publisher's configuration file: `key = value` lines, `#` starting a comment, the keys
// those of mqttSettings() (MqttSettings.h). Read strictly: a key it does not know, a value it
// cannot take, a file it cannot read or a secret others may read is an error that names the
// key or the file, before anything is connected. The reading of the text is in ostrel_services
// (no OS, built for every system); that of the files, on POSIX, in ostrel_mqtt.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ctl::mqtt {

inline constexpr const char* DEFAULT_CONFIG_PATH = "/etc/ostrel/mqtt.conf";
// The topic level under the prefix that holds the groups' profiles: no client id.
inline constexpr const char* GROUPS_LEVEL = "groups";

struct BrokerAddress {
    bool tls = false;  // mqtts://
    std::string host;  // a name, an IPv4 address, or an IPv6 address in brackets
    int port = 0;
    // As Paho takes it: tcp://HOST:PORT or ssl://HOST:PORT.
    std::string pahoUri() const;
    // As the configuration gave it, for messages: mqtt://HOST:PORT.
    std::string text() const;
    bool operator==(const BrokerAddress&) const = default;
};

// mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883); nothing else (no path, no user).
std::optional<BrokerAddress> parseBrokerUrl(std::string_view url);

enum class DiscoveryForm {
    Device,  // one homeassistant/device/ID/config a controller (Home Assistant 2024.11 on)
    Entity,  // one homeassistant/PLATFORM/ID/FIELD/config an entity, for older releases
};

struct MqttConfig {
    BrokerAddress broker;
    std::string clientId;  // default: the host name
    std::string prefix = "ostrel";
    double intervalSeconds = 10;
    std::string username;      // empty: none
    std::string passwordFile;  // resolved paths; empty: none
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    bool homeAssistant = true;
    std::string homeAssistantPrefix = "homeassistant";
    DiscoveryForm discovery = DiscoveryForm::Device;
    double bufferHours = 24;
    double bufferMegabytes = 16;
    double expiryHours = 24;  // 0: messages never expire
    bool texts = false;       // the caption and the KEYText keys in the state as well
    // Report by exception: a reading when something changed or moved beyond its deadband
    // (at most one a controller every interval), else every heartbeat. Off: every interval.
    bool byException = true;
    double heartbeatSeconds = 1800;
    double deadbandVolts = 0.5;   // the input and the ignition
    double deadbandRails = 0.15;  // the 3.3 V, 5 V and 12 V rails
    double deadbandCelsius = 2;
    int keepAliveSeconds = 240;
    // The controllers' parameters on retained topics of their own (read with a claim, as
    // backup reads them); with writes, taken from set topics and written as set writes them;
    // with factory_reset, the factory reset offered too.
    bool parameters = false;
    bool writes = false;
    bool factoryReset = false;
    // A fleet's profiles: the vehicle's own and those of its groups, each written once to
    // every controller.
    bool profiles = false;
    std::vector<std::string> groups;
    // No key of the file: a simulated run's, which empties what it retained as it ends.
    bool clearAtEnd = false;
    bool operator==(const MqttConfig&) const = default;
};

// Where relative secrets and the default client id come from.
struct ConfigEnvironment {
    // $CREDENTIALS_DIRECTORY under systemd; else systemd's own store, /etc/credstore.
    std::string credentialsDirectory = "/etc/credstore";
    std::string hostName;
};

struct ConfigResult {
    std::optional<MqttConfig> config;
    std::string error;  // one line naming the file and the key or line; empty on success
};

// `text` as read from `source` (its name in messages). Checks the values only; the files they
// name are checked by loadMqttConfig.
ConfigResult parseMqttConfig(std::string_view text, const std::string& source,
                             const ConfigEnvironment& environment);

// ostrel_mqtt: reads and parses the file at `path`, then checks the files it names: each must be a
// readable regular file, and the password and key files readable by their owner and group
// only.
ConfigResult loadMqttConfig(const std::string& path, const ConfigEnvironment& environment);

// The password: the password file's first line, without its line end. nullopt after setting
// `error`.
std::optional<std::string> readPassword(const std::string& path, std::string& error);

// The environment of this process: $CREDENTIALS_DIRECTORY and the host name.
ConfigEnvironment processEnvironment();

}  // namespace ctl::mqtt
