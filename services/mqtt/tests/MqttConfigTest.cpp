// The publisher's configuration files, and the per-entity discovery form, without a broker.
// The reading of the text is services_mqtt_config_test's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "core/names/ParamNames.h"
#include "params/StrictValue.h"
#include "services/mqtt/Mqtt.h"
#include "services/mqtt/MqttConfig.h"
#include "services/mqtt/MqttMessages.h"
#include "services/mqtt/tests/MqttRig.h"

namespace {

using namespace ctl::mqtt;

const ConfigEnvironment ENVIRONMENT{"/run/credentials/ostrel-mqtt.service", "car7"};

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
    // Five voltages, the temperature, state, mode, firmware and the last reading's time; six
    // flag registers, each a text and 8 bits.
    ASSERT_EQ(messages.size(), 64U);
    std::set<std::string> ids, entityIds;
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
        // Home Assistant's entity id: the platform, then short lowercase words of the ids.
        const std::string entityId = payload.at("def_ent_id");
        EXPECT_TRUE(
            std::regex_match(entityId, std::regex("(binary_)?sensor\\.car7_1_1_4_2_[a-z0-9_]+")))
            << entityId;
        EXPECT_EQ(entityId.starts_with("binary_sensor."), binary) << entityId;
        EXPECT_TRUE(entityIds.insert(entityId).second) << entityId;
        EXPECT_EQ(binary, payload.contains("pl_on")) << message.topic;
        // The 48 bits wait to be enabled; the rest shows at once.
        EXPECT_EQ(payload.value("en", true), !binary) << message.topic;
        EXPECT_EQ(payload.at("qos"), 1) << message.topic;
        EXPECT_FALSE(payload.at("name").get<std::string>().starts_with("Ostrel")) << message.topic;
        const std::string deviceClass = payload.value("dev_cla", "");
        if (deviceClass == "voltage" || deviceClass == "temperature") {
            EXPECT_EQ(payload.at("sug_dsp_prc"), deviceClass == "voltage" ? 2 : 0);
        }
        if (message.topic == "ha/sensor/car7_1-1_4_2/time/config") {
            EXPECT_EQ(payload.at("dev_cla"), "timestamp");
            EXPECT_EQ(payload.at("val_tpl"), "{{ value_json.time }}");
        }
        if (message.topic == "ha/sensor/car7_1-1_4_2/inputVoltage/config") {
            EXPECT_EQ(entityId, "sensor.car7_1_1_4_2_input_voltage");
        }
        // Each flag register's eight bits as one text, bit 7 first.
        if (message.topic == "ha/sensor/car7_1-1_4_2/voltageFlags/config") {
            EXPECT_EQ(payload.at("val_tpl"),
                      "{% for b in range(7, -1, -1) %}{{ value_json.voltageFlags // 2 ** b % 2 "
                      "}}{% endfor %}");
        }
    }
}

// Every parameter the list offers is an entity of the controller's device; with writes, one
// whose every value Home Assistant may send the strict reader takes, and whose command topic
// is the parameter's set topic.
TEST(MqttMessages, EveryOfferedParameterIsAnEntityWhoseRangeTheStrictReaderTakes) {
    const std::map<std::string, std::set<std::string>> keys{
        {"sensor",
         {"p", "name", "uniq_id", "def_ent_id", "qos", "stat_t", "val_tpl", "ent_cat",
          "unit_of_meas"}},
        {"number",
         {"p", "name", "uniq_id", "def_ent_id", "qos", "stat_t", "val_tpl", "ent_cat", "cmd_t",
          "min", "max", "step", "mode", "dev_cla", "unit_of_meas"}},
        {"text",
         {"p", "name", "uniq_id", "def_ent_id", "qos", "stat_t", "val_tpl", "ent_cat", "cmd_t",
          "min", "max", "pattern"}},
        {"button", {"p", "name", "uniq_id", "def_ent_id", "qos", "ent_cat", "cmd_t", "pl_prs"}},
    };
    for (const char* extra : {"", "writes = yes\nusername = u\n",
                              "writes = yes\nusername = u\nfactory_reset = yes\n"}) {
        for (const std::uint8_t firmware : {0x12, 0x21}) {
            SCOPED_TRACE(std::string(extra) + std::to_string(firmware));
            const ConfigResult result = parseMqttConfig(
                "broker = mqtt://h\nparameters = yes\n" + std::string(extra), "c", ENVIRONMENT);
            ASSERT_TRUE(result.config) << result.error;
            const bool writes = result.config->writes;
            const Topics topics(*result.config);
            StatusReport status;
            status.version = firmware;
            const auto messages = discoveryMessages(*result.config, topics, "sim-1", status);
            ASSERT_EQ(messages.size(), 1U);
            const nlohmann::json cmps = nlohmann::json::parse(messages[0].payload).at("cmps");
            ParamTable table;
            table.applyFirmwareVersion(firmware);
            std::set<std::string> offered, found;
            for (const int index : table.offeredRows()) {
                if (table.row(index).kind != PK_ACTION || result.config->factoryReset) {
                    offered.insert(ctl::shortName(table.row(index).name));
                }
            }
            for (const auto& [id, entity] : cmps.items()) {
                if (!id.starts_with("param_")) {
                    continue;
                }
                const std::string name = id.substr(6);
                found.insert(name);
                const std::string platform = entity.at("p");
                ASSERT_TRUE(keys.contains(platform)) << id;
                for (const auto& [key, value] : entity.items()) {
                    EXPECT_TRUE(keys.at(platform).contains(key)) << id << ": " << key;
                }
                EXPECT_EQ(entity.at("ent_cat"), writes ? "config" : "diagnostic") << id;
                EXPECT_EQ(entity.contains("cmd_t"), writes) << id;
                if (!writes) {
                    continue;
                }
                const auto set = topics.parseSet(entity.at("cmd_t"));
                ASSERT_TRUE(set) << id;
                EXPECT_EQ(set->name, name);
                if (entity.contains("stat_t")) {
                    EXPECT_EQ(entity.at("cmd_t"), entity.at("stat_t").get<std::string>() + "/set");
                }
                int index = -1;
                for (const int i : table.offeredRows()) {
                    index = ctl::shortName(table.row(i).name) == name ? i : index;
                }
                ASSERT_GE(index, 0) << id;
                const ParamDef& def = table.row(index);
                auto takes = [&](const std::string& text) {
                    return parseStrictValue(def, text).value.has_value();
                };
                if (platform == "number") {
                    const double step = entity.at("step");
                    EXPECT_TRUE(takes(entity.at("min").dump())) << id;
                    EXPECT_TRUE(takes(entity.at("max").dump())) << id;
                    EXPECT_FALSE(
                        takes(nlohmann::json(entity.at("max").get<double>() + step).dump()))
                        << id;
                } else if (platform == "text") {
                    const std::regex pattern(entity.at("pattern").get<std::string>());
                    for (const char* value : {"Never", "00:00:00", "17:59:59"}) {
                        EXPECT_TRUE(std::regex_match(value, pattern) && takes(value)) << value;
                    }
                } else {
                    EXPECT_EQ(entity.at("pl_prs"), FACTORY_RESET_PAYLOAD);
                }
            }
            EXPECT_EQ(found, offered);
        }
    }
}

}  // namespace
