// The publisher's configuration, read strictly, and the per-entity discovery form, without a
// broker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "services/mqtt/MqttSettings.h"
#include "services/mqtt/Mqtt.h"
#include "services/mqtt/MqttConfig.h"
#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/tests/MqttRig.h"

namespace {

using namespace ctl::mqtt;

const ConfigEnvironment ENVIRONMENT{"/run/credentials/ostrel-mqtt.service", "car7"};

TEST(MqttConfig, EveryWrongValueOrLineIsRefusedNamingItsKeyAndLine) {
    struct Case {
        std::string text;
        std::string error;  // a part of the one line said
    };
    const std::string broker = "broker = mqtt://broker.example:1883\n";
    const std::vector<Case> cases{
        {"", "mqtt.conf: broker: missing"},
        {"# only a comment\n\n", "broker: missing"},
        {broker + "brokers = x\n", "mqtt.conf:2: unknown key 'brokers'"},
        {broker + "just words\n", "mqtt.conf:2: not a 'key = value' line"},
        {broker + "broker = mqtt://other\n",
         "mqtt.conf:2: broker is given twice (first on line 1)"},
        {broker + "prefix =\n", "prefix: no value"},
        {"broker = http://broker.example\n", "broker: 'http://broker.example' is not mqtt://"},
        {"broker = mqtt://broker.example:0\n", "is not mqtt://HOST:PORT"},
        {"broker = mqtt://broker.example:65536\n", "is not mqtt://HOST:PORT"},
        {"broker = mqtt://broker.example:\n", "is not mqtt://HOST:PORT"},
        {"broker = mqtt://broker.example/fleet\n", "is not mqtt://HOST:PORT"},
        {"broker = mqtt://user@broker.example\n", "is not mqtt://HOST:PORT"},
        {"broker = mqtts://[::1\n", "is not mqtt://HOST:PORT"},
        {"broker = mqtt://\n", "is not mqtt://HOST:PORT"},
        {broker + "interval = 0.05\n",
         "interval: '0.05' is not a number of seconds from 0.1 to 86400"},
        {broker + "interval = 1e3\n", "interval: '1e3' is not"},
        {broker + "interval = -10\n", "interval: '-10' is not"},
        {broker + "interval = 10 s\n", "interval: '10 s' is not"},
        {broker + "interval = inf\n", "interval: 'inf' is not"},
        {broker + "buffer_hours = 0\n", "buffer_hours: '0' is not a number of hours above 0"},
        {broker + "expiry_hours = 9000\n", "expiry_hours: '9000' is not"},
        {broker + "homeassistant = maybe\n", "homeassistant: 'maybe' is not yes or no"},
        {broker + "homeassistant_discovery = both\n", "'both' is not device or entity"},
        {broker + "client_id = car/7\n", "client_id: 'car/7' is not"},
        {broker + "client_id = car+\n", "client_id: 'car+' is not"},
        {broker + "prefix = fleet//cars\n", "prefix: 'fleet//cars' is not"},
        {broker + "prefix = /fleet\n", "prefix: '/fleet' is not"},
        {broker + "homeassistant_prefix = ha/#\n", "homeassistant_prefix: 'ha/' is not"},
        {broker + "password_file = secrets/mqtt\n",
         "give an absolute path, or the name of a systemd"},
        {broker + "ca_file = /etc/ssl/ca.pem\n", "ca_file: TLS files need an mqtts:// broker"},
        {"broker = mqtts://broker.example\nkey_file = /etc/ostrel/key.pem\n",
         "key_file: needs cert_file"},
        {broker + std::string("texts = y\0es\n", 13), "mqtt.conf: not a text file"},
    };
    for (const Case& c : cases) {
        const ConfigResult result = parseMqttConfig(c.text, "mqtt.conf", ENVIRONMENT);
        EXPECT_FALSE(result.config) << c.text;
        EXPECT_NE(result.error.find(c.error), std::string::npos) << c.text << "\n" << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << "one line: " << result.error;
    }
}

// The keys the reader names when it refuses one are the keys the manual page documents.
TEST(MqttConfig, TakesExactlyTheDocumentedKeys) {
    const std::string error =
        parseMqttConfig("nokey = 1\n", "c", ENVIRONMENT).error;  // "... (the keys are a, b)"
    const auto from = error.find("(the keys are ");
    ASSERT_NE(from, std::string::npos) << error;
    std::set<std::string> taken;
    std::istringstream list(error.substr(from + 14, error.size() - from - 15));
    for (std::string key; std::getline(list >> std::ws, key, ',');) {
        taken.insert(key);
    }
    std::set<std::string> documented;
    for (const ctl::MqttSetting& setting : ctl::mqttSettings()) {
        documented.insert(setting.key);
    }
    EXPECT_EQ(taken, documented);
}

TEST(MqttConfig, DefaultsAndTakenValues) {
    ConfigResult result = parseMqttConfig("broker = mqtt://10.0.0.2\n", "c", ENVIRONMENT);
    ASSERT_TRUE(result.config) << result.error;
    const MqttConfig defaults = *result.config;
    EXPECT_EQ(defaults.broker.pahoUri(), "tcp://10.0.0.2:1883");
    EXPECT_EQ(defaults.clientId, "car7");
    EXPECT_EQ(defaults.prefix, "ostrel");
    EXPECT_EQ(defaults.intervalSeconds, 10);
    EXPECT_TRUE(defaults.homeAssistant);
    EXPECT_EQ(defaults.homeAssistantPrefix, "homeassistant");
    EXPECT_EQ(defaults.discovery, DiscoveryForm::Device);
    EXPECT_EQ(defaults.bufferHours, 24);
    EXPECT_EQ(defaults.expiryHours, 24);
    EXPECT_FALSE(defaults.texts);

    result = parseMqttConfig(
        "  broker=mqtts://[::1]:8884   # the local one\r\n"
        "client_id = van-3.b_x\n"
        "prefix = fleet/ostrel\n"
        "interval = 2.5\n"
        "username = van3\n"
        "password_file = ostrel-mqtt-password\n"
        "cert_file = /etc/ostrel/van3.crt\n"
        "key_file = ostrel-mqtt-key\n"
        "homeassistant = no\n"
        "homeassistant_discovery = entity\n"
        "buffer_hours = 0.5\n"
        "expiry_hours = 0\n"
        "texts = yes\n",
        "c", ENVIRONMENT);
    ASSERT_TRUE(result.config) << result.error;
    const MqttConfig& config = *result.config;
    EXPECT_EQ(config.broker.pahoUri(), "ssl://[::1]:8884");
    EXPECT_EQ(config.clientId, "van-3.b_x");
    EXPECT_EQ(config.prefix, "fleet/ostrel");
    EXPECT_EQ(config.intervalSeconds, 2.5);
    EXPECT_EQ(config.username, "van3");
    // A name without '/' is a systemd credential.
    EXPECT_EQ(config.passwordFile, "/run/credentials/ostrel-mqtt.service/ostrel-mqtt-password");
    EXPECT_EQ(config.keyFile, "/run/credentials/ostrel-mqtt.service/ostrel-mqtt-key");
    EXPECT_EQ(config.certFile, "/etc/ostrel/van3.crt");
    EXPECT_FALSE(config.homeAssistant);
    EXPECT_EQ(config.discovery, DiscoveryForm::Entity);
    EXPECT_EQ(config.bufferHours, 0.5);
    EXPECT_EQ(config.expiryHours, 0);
    EXPECT_TRUE(config.texts);
}

TEST(MqttConfig, NamedFilesMustBeReadableAndSecretsPrivate) {
    rig::TempFolder folder;
    rig::writeFile(folder / "password", "secret\nignored\n", 0600);
    rig::writeFile(folder / "open-password", "secret\n", 0604);
    rig::writeFile(folder / "empty-password", "\n", 0600);
    rig::writeFile(folder / "key", "key\n", 0644);
    rig::writeFile(folder / "ca", "ca\n", 0644);
    const std::string head = "broker = mqtts://broker.example\n";
    struct Case {
        std::string text;  // "" for a configuration file that is not there
        std::string error;
    };
    const std::vector<Case> cases{
        {"", "cannot read the configuration " + (folder / "absent.conf")},
        {head + "password_file = " + (folder / "password") + "\nca_file = " + (folder / "ca") +
             "\n",
         ""},
        {head + "password_file = " + (folder / "open-password") + "\n",
         "password_file: " + (folder / "open-password") + " may be read or written by others"},
        {head + "password_file = " + (folder / "empty-password") + "\n", "holds no password"},
        {head + "password_file = " + (folder / "nowhere") + "\n",
         "password_file: cannot read " + (folder / "nowhere")},
        {head + "password_file = " + folder.path() + "\n", "is not a regular file"},
        {head + "cert_file = " + (folder / "ca") + "\nkey_file = " + (folder / "key") + "\n",
         "key_file: " + (folder / "key") + " may be read or written by others"},
        {head + "ca_file = " + (folder / "no-ca") + "\n", "ca_file: cannot read"},
    };
    for (const Case& c : cases) {
        const std::string path = folder / (c.text.empty() ? "absent.conf" : "mqtt.conf");
        if (!c.text.empty()) {
            rig::writeFile(path, c.text);
        }
        const ConfigResult result = loadMqttConfig(path, ENVIRONMENT);
        EXPECT_EQ(result.config.has_value(), c.error.empty()) << c.text << result.error;
        EXPECT_NE(result.error.find(c.error), std::string::npos) << c.text << "\n" << result.error;
    }
    std::string error;
    EXPECT_EQ(readPassword(folder / "password", error), "secret");

    // The command says it in one line and ends with status 1, before anything is connected.
    struct NoDevices final : ctl::PlatformSource {
        platform::HidPlatform& platform(const ctl::Simulation&) override { std::abort(); }
    } platforms;
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    const std::atomic<bool> interrupted{false};
    ctl::CommandContext context{{in, out, err, nullptr}, platforms, {}, interrupted};
    MqttOptions options;
    options.configPath = folder / "mqtt.conf";
    rig::writeFile(options.configPath,
                   head + "password_file = " + (folder / "open-password") + "\n");
    EXPECT_EQ(runMqtt(context, options), ctl::EXIT_USAGE);
    const std::string said = err.str();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_TRUE(said.starts_with("ostrelctl: " + options.configPath + ": password_file:")) << said;
}

TEST(MqttMessages, TheEntityFormIsOneRetainableConfigPerEntityWithTheSharedOptions) {
    ConfigResult result = parseMqttConfig(
        "broker = mqtt://h\nhomeassistant_discovery = entity\nhomeassistant_prefix = ha\n", "c",
        ENVIRONMENT);
    ASSERT_TRUE(result.config);
    const Topics topics(*result.config);
    const ControllerTopics controller = topics.controller("1-1.4.2");
    EXPECT_EQ(controller.state, "ostrel/car7/1-1.4.2/state");
    EXPECT_EQ(controller.status, "ostrel/car7/1-1.4.2/status");
    EXPECT_EQ(controller.id, "car7_1-1_4_2");
    // A location that is no topic level (a Windows one, say) becomes one.
    EXPECT_EQ(topics.controller("Port_#0002.Hub_#0003").level, "Port__0002.Hub__0003");

    StatusReport status;
    status.version = 0x12;
    const std::vector<Message> messages =
        discoveryMessages(*result.config, topics, "1-1.4.2", status);
    ASSERT_EQ(messages.size(), 57U);
    std::set<std::string> ids;
    for (const Message& message : messages) {
        const nlohmann::json payload = nlohmann::json::parse(message.payload);
        const bool binary = message.topic.starts_with("ha/binary_sensor/car7_1-1_4_2/");
        EXPECT_TRUE(binary || message.topic.starts_with("ha/sensor/car7_1-1_4_2/"))
            << message.topic;
        EXPECT_TRUE(message.topic.ends_with("/config"));
        EXPECT_FALSE(payload.contains("p")) << "the platform is in the topic";
        EXPECT_EQ(payload.at("dev").at("ids"), nlohmann::json::array({"car7_1-1_4_2"}));
        EXPECT_EQ(payload.at("dev").at("sw"), "1.2");
        EXPECT_EQ(payload.at("stat_t"), controller.state);
        EXPECT_EQ(payload.at("avty").size(), 2U);
        EXPECT_TRUE(ids.insert(payload.at("uniq_id").get<std::string>()).second);
        EXPECT_EQ(binary, payload.contains("pl_on")) << message.topic;
    }
}

}  // namespace
