// The publisher's configuration as a text, read strictly through the table of its keys, and
// README.md's table of them held to that one.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "services/mqtt/MqttConfig.h"
#include "services/mqtt/MqttSettings.h"

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
        // Texts that are no number of the configuration's form: params/tests/NumbersTest.cpp.
        {broker + "interval = 1e3\n", "interval: '1e3' is not"},
        {broker + "buffer_hours = 0\n", "buffer_hours: '0' is not a number of hours above 0"},
        {broker + "expiry_hours = 9000\n", "expiry_hours: '9000' is not"},
        {broker + "homeassistant = maybe\n", "homeassistant: 'maybe' is not yes or no"},
        {broker + "homeassistant_discovery = both\n", "'both' is not device or entity"},
        {broker + "client_id = car/7\n", "client_id: 'car/7' is not"},
        {broker + "client_id = car+\n", "client_id: 'car+' is not"},
        {broker + "prefix = fleet//cars\n", "prefix: 'fleet//cars' is not"},
        {broker + "prefix = /fleet\n", "prefix: '/fleet' is not"},
        // A '#' within a value is refused, never taken for a comment that cuts the value.
        {broker + "client_id = car#7\n",
         "mqtt.conf:2: client_id: '#' in a value: a comment takes a line of its own"},
        {broker + "prefix = fleet  # the cars\n", "mqtt.conf:2: prefix: '#' in a value"},
        {broker + "homeassistant_prefix = ha/#\n", "homeassistant_prefix: '#' in a value"},
        {broker + "interval = #\n", "interval: '#' in a value"},
        {"broker = mqtt://broker.example:1883 # ours\n", "mqtt.conf:1: broker: '#' in a value"},
        {broker + "password_file = secrets/mqtt\n",
         "give an absolute path, or the name of a systemd"},
        {broker + "ca_file = /etc/ssl/ca.pem\n", "ca_file: TLS files need an mqtts:// broker"},
        {"broker = mqtts://broker.example\nkey_file = /etc/ostrel/key.pem\n",
         "key_file: needs cert_file"},
        // Anyone who may publish could write the controllers.
        {broker + "parameters = yes\nwrites = yes\n", "writes: needs a login (username)"},
        {broker + "writes = yes\nusername = car7\n", "writes: needs parameters = yes"},
        {broker + "parameters = yes\nfactory_reset = yes\n", "factory_reset: needs writes = yes"},
        {broker + "profiles = yes\n", "profiles: needs a login (username)"},
        {broker + "groups = north\n", "groups: needs profiles = yes"},
        {broker + "groups = north, , south\n", "groups: '' is not a group"},
        {broker + "groups = north,\n", "groups: a ',' with no group after it"},
        {broker + "groups = north, north\n", "groups: 'north' is named twice"},
        {broker + "groups = a/b\n", "groups: 'a/b' is not a group"},
        {broker + "groups = a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q\n", "groups: more than 16 groups"},
        // A vehicle of that name could publish the groups' profiles.
        {broker + "client_id = groups\n", "client_id: 'groups' is the level of the groups'"},
        {broker + std::string("texts = y\0es\n", 13), "mqtt.conf: not a text file"},
    };
    for (const Case& c : cases) {
        const ConfigResult result = parseMqttConfig(c.text, "mqtt.conf", ENVIRONMENT);
        EXPECT_FALSE(result.config) << c.text;
        EXPECT_NE(result.error.find(c.error), std::string::npos) << c.text << "\n" << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << "one line: " << result.error;
    }
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
        "  # the local one\r\n"
        "\t#client_id = car8\n"
        "  broker=mqtts://[::1]:8884   \r\n"
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
        "texts = yes\n"
        "profiles = yes\n"
        "groups = north , buses-2\n",
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
    EXPECT_TRUE(config.profiles);
    EXPECT_EQ(config.groups, (std::vector<std::string>{"north", "buses-2"}));
}

// The reader takes each listed key, and nothing else; a default the manual page states as a
// value is the one the reader starts from.
TEST(MqttConfig, TakesEveryListedKeyAndStartsFromTheStatedDefaults) {
    const std::string broker = "broker = mqtt://h\n";
    const MqttConfig defaults = parseMqttConfig(broker, "c", ENVIRONMENT).config.value();
    for (const ctl::MqttSetting& setting : ctl::mqttSettings()) {
        const std::string key = setting.key;
        SCOPED_TRACE(key);
        EXPECT_EQ(parseMqttConfig(key + " =\n" + broker, "c", ENVIRONMENT).error,
                  "c:1: " + key + ": no value");
        if (setting.fallbackIsValue) {
            const ConfigResult given =
                parseMqttConfig(broker + key + " = " + setting.fallback + "\n", "c", ENVIRONMENT);
            ASSERT_TRUE(given.config) << given.error;
            EXPECT_TRUE(*given.config == defaults);
        }
    }
    EXPECT_EQ(parseMqttConfig("nokey = 1\n", "c", ENVIRONMENT).error,
              "c:1: unknown key 'nokey' (the keys are broker, buffer_hours, buffer_mb, ca_file, "
              "cert_file, client_id, deadband_celsius, deadband_rails, deadband_volts, "
              "expiry_hours, factory_reset, groups, heartbeat, homeassistant, "
              "homeassistant_discovery, "
              "homeassistant_prefix, interval, keep_alive, key_file, parameters, password_file, "
              "prefix, profiles, report, texts, username, writes)");
}

// The file the package installs: as shipped it lacks only the broker; it shows every key
// once, in the table's order, and with each key's line uncommented it reads as the defaults.
TEST(MqttConfig, ExampleFileShowsEveryKeyCommentedWithItsDefault) {
    const std::string example = ctl::mqttExampleConfig();
    EXPECT_EQ(parseMqttConfig(example, "mqtt.conf", ENVIRONMENT).error,
              "mqtt.conf: broker: missing (broker = mqtt://HOST:PORT or mqtts://HOST:PORT)");
    std::vector<std::string> keys;
    std::string uncommented;
    std::istringstream lines(example);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 78U) << line;
        EXPECT_TRUE(line.empty() || line.starts_with("#")) << line;
        if (line.starts_with("#") && !line.starts_with("# ")) {
            keys.push_back(line.substr(1, line.find(" =") - 1));
            line.erase(0, 1);
            if (keys.back() == "broker") {
                line += " mqtt://10.0.0.2";
            } else if (line.ends_with("=")) {
                continue;  // no default a value can state
            }
        }
        uncommented += line + '\n';
    }
    std::vector<std::string> table;
    for (const ctl::MqttSetting& setting : ctl::mqttSettings()) {
        table.emplace_back(setting.key);
    }
    EXPECT_EQ(keys, table);
    const ConfigResult read = parseMqttConfig(uncommented, "mqtt.conf", ENVIRONMENT);
    ASSERT_TRUE(read.config) << read.error;
    EXPECT_TRUE(*read.config ==
                parseMqttConfig("broker = mqtt://10.0.0.2\n", "c", ENVIRONMENT).config.value());
}

// README.md's table of the keys says what the manual page says: the same keys in the same
// order, what each takes and its default, its `code` marks and the table's 'x' quotes aside.
TEST(MqttConfig, ReadmeListsTheKeysAsTheManualPageDoes) {
    std::ifstream readme(OSTREL_README);
    ASSERT_TRUE(readme) << OSTREL_README;
    auto plain = [](std::string text) {
        std::erase(text, '`');
        std::erase(text, '\'');
        return text;
    };
    std::vector<std::vector<std::string>> rows;  // key, value, default
    bool inTable = false;
    for (std::string line; std::getline(readme, line);) {
        if (line == "| Key | Value | Default |") {
            inTable = true;
        } else if (inTable && !line.starts_with("|")) {
            break;
        } else if (inTable && !line.starts_with("|---")) {
            std::vector<std::string>& cells = rows.emplace_back();
            for (std::size_t at = 1, end = 0; (end = line.find('|', at)) != std::string::npos;
                 at = end + 1) {
                const std::string cell = line.substr(at, end - at);
                const auto first = cell.find_first_not_of(' ');
                cells.push_back(
                    first == std::string::npos
                        ? std::string()
                        : plain(cell.substr(first, cell.find_last_not_of(' ') - first + 1)));
            }
        }
    }
    const auto settings = ctl::mqttSettings();
    ASSERT_EQ(rows.size(), settings.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ctl::MqttSetting& setting = settings[i];
        SCOPED_TRACE(setting.key);
        ASSERT_EQ(rows[i].size(), 3U);
        EXPECT_EQ(rows[i][0], setting.key);
        EXPECT_EQ(rows[i][1], plain(setting.value));
        if (setting.fallback == nullptr) {
            EXPECT_TRUE(rows[i][2].starts_with("required")) << rows[i][2];
        } else {
            EXPECT_EQ(rows[i][2], plain(setting.fallback));
        }
    }
}
}  // namespace
