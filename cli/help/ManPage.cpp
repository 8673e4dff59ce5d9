#include "cli/help/ManPage.h"

#include <cctype>
#include <sstream>
#include <vector>

#include "cli/help/HelpText.h"
#include "core/context/ExitStatus.h"
#include "core/files/BackupFile.h"
#include "services/mqtt/MqttSettings.h"

namespace ctl {
namespace {

struct Example {
    const char* command;
    const char* meaning;
};

constexpr Example EXAMPLES[] = {
    {"ostrelctl metrics", "The status of every controller found, in the Prometheus text format."},
    {"ostrelctl metrics --output /var/lib/prometheus/node-exporter/ostrel.prom",
     "The same into node_exporter's textfile folder, replaced whole, as the timer writes it."},
    {"ostrelctl --all diff unit1.json",
     "What differs on each attached controller, then a table of how many values differ."},
    {"ostrelctl --simulated --simulated-firmware 2.1 restore --convert unit1.json",
     "A 1.x backup onto a simulated 2.x controller, without hardware; each --simulated run "
     "starts from fresh controllers."},
    {"ostrelctl status", "The controller's status, with the texts the window shows."},
    {"ostrelctl status --watch 1 --csv > log.csv", "One status line a second until Ctrl-C."},
    {"ostrelctl get delay-before-psu-startup 0x1c",
     "Two parameters, by short name and by address."},
    {"ostrelctl set min-temp -20",
     "Writes a value, reads it back and says whether the controller holds it."},
    {"ostrelctl backup unit1.json", "Every parameter into a JSON file."},
    {"ostrelctl restore --dry-run unit1.json",
     "What a restore would write to this controller; then without --dry-run to write it."},
    {"ostrelctl diff --exit-code unit1.json",
     "What differs between the file and the controller; exit status 6 when anything does."},
    {"ostrelctl restore --convert unit1.json",
     "A backup of the other firmware family, written as the nearest values this controller "
     "holds."},
    {"ostrelctl --wait 30 backup unit1.json",
     "Waits up to 30 seconds while the window or another ostrelctl holds the controller, "
     "instead of ending at once with exit status 5."},
    {"ostrelctl --simulated get --all", "Everything on a simulated controller, without hardware."},
    {"ostrelctl devices",
     "Every attached controller: where it is plugged, its device path, "
     "product id, firmware and mode."},
    {"ostrelctl --device 1-1.4.2 set min-temp -20",
     "Writes to the controller plugged in at 1-1.4.2, and to no other."},
    {"ostrelctl --all backup bench/",
     "Every attached controller at once, each into its own file "
     "bench/ostrel-LOCATION.json, then a summary table."},
    {"ostrelctl --all restore unit1.json",
     "One file to every attached controller at once; the exit status is the worst of theirs."},
    {"ostrelctl --simulated=4 --all status", "Four simulated controllers, without hardware."},
    {"ostrelctl station --log box.jsonl unit1.json",
     "Programs every controller plugged in from unit1.json, one PASS or FAIL line a unit and "
     "one JSON line of box.jsonl (a start line, one a unit, an end line), until Ctrl-C or a "
     "closed output. Each unit's line has seq, time (UTC, milliseconds), station, host, "
     "profile, profileSha256, location, serial (the USB serial number string, null where the "
     "unit gives none), product, firmware, label, result, written, verified, "
     "failed, failedParameters (names only), failedReasons (why, by name), reason, seconds and "
     "readbackSha256: the SHA-256 of, for each parameter in the profile's order, its address "
     "byte and the value bytes the verify read back (one, or two high byte first). A line is "
     "on the disk whole, or not at all. The exit status is 0 when the last unit on every port "
     "passed."},
    {"ostrelctl station --count 16 --station-id bench-2 --label box12 --log box.jsonl "
     "unit1.json",
     "Ends once 16 units have ended, each line of the log naming the station and the box."},
    {"ostrelctl --simulated=plug:1@0.5,plug:2@1,unplug:1@3,plug:1@4 station unit1.json",
     "The station on simulated controllers plugged in and pulled out on a clock."},
};

bool isHelp(const CLI::App& app, const CLI::Option* option) {
    return option == app.get_help_ptr() || option == app.get_help_all_ptr();
}

// " \fISECONDS\fR" after an option that takes a value, else nothing.
std::string valueName(const CLI::Option& option) {
    if (option.get_expected_max() <= 0) {
        return {};
    }
    const std::string& text = option.get_option_text();
    return " \\fI" + roffEscape(text.empty() ? option.get_type_name() : text) + "\\fR";
}

// "\fB\-\-watch\fR \fISECONDS\fR", "\fIPARAM\fR ...", "\fB\-h\fR, \fB\-\-help\fR".
std::string optionSyntax(const CLI::Option& option) {
    if (option.get_positional()) {
        std::string syntax = "\\fI" + roffEscape(option.get_name(true)) + "\\fR";
        if (option.get_items_expected_max() > 1) {
            syntax += " .\\|.\\|.";
        }
        return syntax;
    }
    std::string syntax;
    for (const std::string& name : option.get_snames()) {
        syntax += (syntax.empty() ? "" : ", ") + ("\\fB" + roffEscape("-" + name) + "\\fR");
    }
    for (const std::string& name : option.get_lnames()) {
        syntax += (syntax.empty() ? "" : ", ") + ("\\fB" + roffEscape("--" + name) + "\\fR");
    }
    return syntax + valueName(option);
}

// One word of a synopsis: the first name only, optional ones in brackets.
std::string synopsisWord(const CLI::Option& option) {
    std::string word;
    if (option.get_positional()) {
        word = optionSyntax(option);
    } else {
        const std::string name = option.get_lnames().empty() ? "-" + option.get_snames().front()
                                                             : "--" + option.get_lnames().front();
        word = "\\fB" + roffEscape(name) + "\\fR" + valueName(option);
    }
    return option.get_required() ? word : "[" + word + "]";
}

// The options of `app` that a page lists, without the help flags: options first, then the
// positionals in their order.
std::vector<const CLI::Option*> pageOptions(const CLI::App& app) {
    std::vector<const CLI::Option*> options;
    for (const CLI::Option* option : app.get_options()) {
        if (!isHelp(app, option) && option->nonpositional()) {
            options.push_back(option);
        }
    }
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional()) {
            options.push_back(option);
        }
    }
    return options;
}

std::string sentence(std::string text) {
    if (!text.empty()) {
        text.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(text.front())));
    }
    return roffEscape(text) + ".";
}

void listOptions(std::ostream& page, const std::vector<const CLI::Option*>& options) {
    for (const CLI::Option* option : options) {
        page << ".TP\n" << optionSyntax(*option) << '\n';
        page << sentence(option->get_description()) << '\n';
    }
}

}  // namespace

std::string roffEscape(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '\\') {
            escaped += "\\e";
        } else if (c == '-') {
            escaped += "\\-";
        } else {
            if ((c == '.' || c == '\'') && (escaped.empty() || escaped.back() == '\n')) {
                escaped += "\\&";
            }
            escaped += c;
        }
    }
    return escaped;
}

std::string ostrelctlManPage(const CLI::App& app, std::string_view version, std::string_view date) {
    // A hidden command (no group) is for the build, not for the reader.
    const std::vector<const CLI::App*> commands =
        app.get_subcommands([](const CLI::App* command) { return !command->get_group().empty(); });
    std::ostringstream page;
    page << ".\\\" Written by ostrelctl-manpage from the program's own command definitions.\n"
         << ".TH OSTRELCTL 1 \"" << date << "\" \"Ostrel programmer " << version
         << "\" \"User Commands\"\n";

    page << ".SH NAME\nostrelctl \\- the Ostrel power\\-supply controller from the command line\n";

    page << ".SH SYNOPSIS\n";
    for (const CLI::App* command : commands) {
        page << ".SY ostrelctl\n[\\fIOPTIONS\\fR]\n\\fB" << roffEscape(command->get_name())
             << "\\fR\n";
        for (const CLI::Option* option : pageOptions(*command)) {
            page << synopsisWord(*option) << '\n';
        }
        page << ".YS\n";
    }
    page << ".SY ostrelctl\n\\fB\\-\\-help\\fR | \\fB\\-\\-help\\-all\\fR | "
            "\\fB\\-\\-version\\fR\n.YS\n";

    page << ".SH DESCRIPTION\n"
         << roffEscape(app.get_description()) << '\n'
         << ".PP\n"
         << "It finds the controller as the window, \\fBostrel\\fR(1), does, prints the window's "
            "texts (UTF\\-8), and runs one command a call. \\fBlist\\fR talks to no "
            "controller; \\fBdevices\\fR and \\fBmetrics\\fR to every one attached; any "
            "other command to the one attached, the one \\fB\\-\\-device\\fR names, or with "
            "\\fB\\-\\-all\\fR to every one at once. The window may stay open meanwhile.\n";

    page << ".SH OPTIONS\nThese go before the command.\n";
    listOptions(page, app.get_options());

    page << ".SH COMMANDS\n";
    for (const CLI::App* command : commands) {
        page << ".SS " << roffEscape(command->get_name()) << '\n'
             << sentence(command->get_description()) << '\n';
        listOptions(page, pageOptions(*command));
    }

    page << ".SH PARAMETERS\n"
         << roffEscape(PARAM_SYNTAX) << "\n.PP\n"
         << roffEscape(VALUE_SYNTAX) << '\n';

    page
        << ".SH MONITORING\n"
        << "The package brings \\fBostrel\\-metrics.timer\\fR, disabled; enabled (\\fBsystemctl "
           "enable \\-\\-now ostrel\\-metrics.timer\\fR), it runs \\fBostrel\\-metrics.service\\fR "
           "every 15 seconds: \\fBostrelctl metrics \\-\\-output "
           "/var/lib/prometheus/node\\-exporter/ostrel.prom\\fR, as root with no capabilities, "
           "no network, only hidraw devices and only that folder writable. The folder is "
           "\\fBprometheus\\-node\\-exporter\\fR's, whose textfile collector reads the file; "
           "until it is installed each run fails. "
           "\\fI/usr/share/doc/ostrelctl/prometheus/ostrel.rules.yml\\fR holds alert rules "
           "for the Prometheus server: a controller that stops answering, a host whose file "
           "never appeared or went stale. On Windows, a scheduled task writes the file into "
           "windows_exporter's \\fItextfile_inputs\\fR folder (by default "
           "C:\\eProgram Files\\ewindows_exporter\\etextfile_inputs\\eostrel.prom).\n"
        << ".PP\n"
           "For machines a server cannot reach (vehicles behind a mobile operator's NAT, often "
           "out of coverage, switched off with the ignition), \\fBostrelctl mqtt\\fR publishes "
           "to an MQTT broker instead, and through it to Home Assistant: MQTT 5, QoS 1, a "
           "persistent session, a reconnection after 1 s doubling to 60 s plus a random part. "
           "Each reading published is committed to a SQLite store, \\fIreadings.sqlite\\fR in "
           "\\fI$STATE_DIRECTORY\\fR, else \\fI$XDG_STATE_HOME/ostrelctl\\fR or "
           "\\fI~/.local/state/ostrelctl\\fR, before it counts as kept: it survives a power "
           "cut, and leaves the store when the broker has acknowledged it. A store it cannot "
           "read is set aside under a new name; one it cannot write (a full or read-only disk) "
           "is said once, and the readings wait in memory. By default a reading is published "
           "by exception: at a change of the state, the mode, the firmware or a flag bit, when "
           "a measurement leaves its deadband, and otherwise every heartbeat (the keys below "
           "give the reasons of their defaults). After a dead zone the readings taken "
           "meanwhile come as batches on \\fIPREFIX/CLIENTID/LOCATION/history\\fR, the newest "
           "on the state topic. On Linux a new address or default route makes it try the "
           "broker again at once, after a random part of 3 s, and says so once until it is "
           "connected. It asks for status only, so it runs "
           "beside the window and "
           "the other commands, until SIGINT. The package brings "
           "\\fBostrel\\-mqtt.service\\fR, disabled, which runs \\fBostrelctl mqtt "
           "\\-\\-config /etc/ostrel/mqtt.conf\\fR as a user of its own in the group plugdev, "
           "restarts it on failure but for status 1 (a configuration it cannot take, such as "
           "the package's \\fI/etc/ostrel/mqtt.conf\\fR before its broker is set) and stops "
           "it with SIGINT, so that it leaves with its last "
           "will; its buffer is \\fI/var/lib/ostrel\\-mqtt\\fR, and the password and the "
           "client key are the credentials \\fBostrel\\-mqtt\\-password\\fR and "
           "\\fBostrel\\-mqtt\\-key\\fR from \\fI/etc/credstore\\fR. Where Eclipse Paho "
           "was not there to build it (and on Windows) the command says so.\n"
        << ".PP\n"
           "Its configuration file holds \\fIkey\\fR = \\fIvalue\\fR lines; a line whose "
           "first character other than a blank is # is a comment, and a # within a value is "
           "refused rather than taken for one. A key it does not know, a value it cannot take, a "
           "file it cannot read, or "
           "a password or key file others may read ends it with status 1, naming the file and "
           "the key. A file name without a slash names a systemd credential: the file of that "
           "name in \\fI$CREDENTIALS_DIRECTORY\\fR, else in \\fI/etc/credstore\\fR.\n";
    for (const MqttSetting& setting : mqttSettings()) {
        page << ".TP\n.B " << roffEscape(setting.key) << '\n'
             << roffEscape(setting.value)
             << (setting.fallback == nullptr ? std::string("; required")
                                             : "; by default " + roffEscape(setting.fallback))
             << ".\n";
    }
    page << ".PP\n"
            "Its topics, where LOCATION is the controller's location as \\fBdevices\\fR shows it "
            "(characters a topic level cannot hold become _) and HAPREFIX is "
            "homeassistant_prefix:\n";
    for (const MqttTopic& topic : mqttTopics()) {
        page << ".TP\n.B " << roffEscape(topic.topic) << '\n' << roffEscape(topic.meaning) << '\n';
    }

    page << ".SH FILES\n"
         << ".TP\n.I /dev/hidraw*\n"
            "The controller's node; the udev rule of the package lets the user at the seat "
            "open it.\n"
         << ".TP\n.I backup files\n"
         << roffEscape(std::string("A backup is a JSON object (UTF-8): \"format\": \"") +
                       BACKUP_FORMAT +
                       "\", \"formatVersion\": " + std::to_string(BACKUP_FORMAT_VERSION) +
                       ", \"firmware\" with the \"version\" and its \"major\" and \"minor\" "
                       "numbers, the \"mode\", \"takenAt\" (UTC, ISO 8601), \"durationMs\", and "
                       "\"parameters\": one object a parameter, with its \"row\", \"address\", "
                       "\"name\" as list shows it, the \"raw\" number stored, the \"text\" the "
                       "window shows and the \"unit\". restore and diff go by \"name\" and "
                       "\"text\", so a file from one firmware family fits the other; \"row\" "
                       "and \"address\", when there, must be the named parameter's. A file over "
                       "1 MiB is refused.")
         << '\n';

    page << ".SH \"EXIT STATUS\"\n";
    for (const ExitStatus& status : exitStatuses()) {
        page << ".TP\n.B " << status.code << '\n' << sentence(status.meaning) << '\n';
    }
    page << ".PP\n" << roffEscape(allExitText()) << '\n';

    page << ".SH EXAMPLES\n";
    for (const Example& example : EXAMPLES) {
        page << ".TP\n.B " << roffEscape(example.command) << '\n'
             << roffEscape(example.meaning) << '\n';
    }

    page << ".SH \"SEE ALSO\"\n.BR ostrel (1),\n.BR ostrel\\-sim (1)\n";
    return page.str();
}

}  // namespace ctl
