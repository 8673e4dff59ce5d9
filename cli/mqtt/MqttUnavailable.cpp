// ostrelctl mqtt where no MQTT client is built: Paho is not built for Windows here, and an
// MQTT client of our own is not written. The figures reach a monitoring system through
// `metrics` instead.
#include "cli/mqtt/Mqtt.h"

namespace ctl::mqtt {

int runMqtt(CommandContext& context, const MqttOptions& /*options*/) {
#ifdef _WIN32
    context.console.err << "ostrelctl: mqtt is not available on Windows; \"ostrelctl metrics\" "
                           "gives the same figures to windows_exporter's textfile collector\n";
#else
    context.console.err << "ostrelctl: mqtt is not built into this ostrelctl (Eclipse Paho C was "
                           "missing when it was built); \"ostrelctl metrics\" gives the same "
                           "figures to Prometheus\n";
#endif
    return EXIT_USAGE;
}

}  // namespace ctl::mqtt
