#include "cli/commands/Verbs.h"

namespace ctl {

// Each row is defined in its command's own file of this folder.
extern const Verb STATUS, LIST, DEVICES, GET, SET, BACKUP, RESTORE, DIFF, FACTORY_RESET, STATION,
    METRICS, MQTT, COMPLETION;

namespace {

constexpr const Verb* VERBS[] = {
    &STATUS, &LIST,          &DEVICES, &GET,     &SET,  &BACKUP,     &RESTORE,
    &DIFF,   &FACTORY_RESET, &STATION, &METRICS, &MQTT, &COMPLETION,
};

}  // namespace

std::span<const Verb* const> verbs() {
    return VERBS;
}

int Command::beforeAll(CommandContext&, std::string&) {
    return EXIT_OK;
}

int Command::runOnEach(CommandContext& context) {
    return run(context);
}

bool Command::json() const {
    return false;
}

bool Command::csv() const {
    return false;
}

bool Command::endsWithItsReader() const {
    return false;
}

}  // namespace ctl
