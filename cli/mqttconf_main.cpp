// ostrelctl-mqtt-conf OUTPUT: writes the commented configuration file the package installs as
// /etc/ostrel/mqtt.conf, from the table of keys, for the build only.
#include <fstream>
#include <iostream>

#include "services/mqtt/MqttSettings.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: ostrelctl-mqtt-conf OUTPUT\n";
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << ctl::mqttExampleConfig();
    out.close();
    if (!out) {
        std::cerr << "ostrelctl-mqtt-conf: cannot write " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
