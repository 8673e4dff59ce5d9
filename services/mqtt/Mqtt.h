// ostrelctl mqtt: a long-running publisher of every attached controller's status to an MQTT
// broker (--device picks one), for vehicles that are rarely online: what it cannot send is
// kept, on disk, until the broker is reachable again. Status only, no claim: it runs beside
// the window and the other commands. Ends on Ctrl-C (SIGINT).
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "core/context/Context.h"

namespace ctl::mqtt {

struct MqttOptions {
    std::string configPath = "/etc/ostrel/mqtt.conf";
    // Where the messages not yet delivered are kept across restarts. Empty: $STATE_DIRECTORY
    // (systemd's StateDirectory=), else $XDG_STATE_HOME/ostrelctl, else
    // ~/.local/state/ostrelctl.
    std::string stateDirectory;
    // Told every reading as it is queued and every retained message as it is sent, on the
    // publisher's thread (for tests and tools).
    std::function<void(const std::string& topic, const std::string& payload)> queued;
    // Told the wait before each next connection attempt as it is set, on the publisher's
    // thread (for tests and tools).
    std::function<void(std::chrono::steady_clock::duration wait)> waits;
    // A run on simulated controllers: as the client id with "-sim" after it, so that a
    // vehicle's own session and devices stay untouched, and emptying what it retained as it
    // ends, so that no device it announced stays behind in Home Assistant.
    bool demo = false;
    // Not a run: empties every retained topic of the controller at this location (its
    // discovery, status and parameters), so that Home Assistant removes its device, and ends.
    std::string forget;
};

// Runs until context.interrupted: EXIT_OK then. EXIT_USAGE at once, after one line, for a
// configuration it cannot take. With `forget`: EXIT_OK once the broker has acknowledged
// every emptied topic, EXIT_TIMEOUT when it cannot be reached or does not acknowledge them.
// In ostrel_mqtt, on Eclipse Paho C.
int runMqtt(CommandContext& context, const MqttOptions& options);

// What `ostrelctl mqtt` runs. The command line holds no MQTT client: a program that has one
// (ostrelctl's main, where Paho is built) hands runMqtt over before it parses anything.
// Until then the command says in one line that it is not built here, names `metrics`
// instead (on Windows, where Paho is not built, always), and ends with EXIT_USAGE.
using Runner = int (*)(CommandContext& context, const MqttOptions& options);
void useRunner(Runner runner);
Runner runner();

// ostrelctl itself does not link Paho and OpenSSL, whose loading would cost every other
// command's start more than its own work: it hands `mqtt` over to a program that does,
// `program` (a path relative to the folder ostrelctl runs from), by exec with the same
// arguments, in the same process, so that signals, the exit status and a service manager's
// view stay those of ostrelctl. `arguments` is main's argv, kept as it is until the exec.
// Not on Windows, where the command is not built.
void useProgram(const char* program, char** arguments);

}  // namespace ctl::mqtt
