#include "cli/context/Context.h"

#include <chrono>
#include <ctime>
#include <ostream>

#include "app/OutsideText.h"

namespace ctl {

void say(CommandContext& context, const std::string& message) {
    context.console.err << "ostrelctl: " << escapeControls(message) << '\n';
}

int fail(CommandContext& context, int code, const std::string& message) {
    say(context, message);
    return code;
}

std::string utcNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    char text[32] = "";
    // Not std::gmtime: its one shared result would race between the threads of --all.
    std::tm utc{};
#ifdef _WIN32
    const bool converted = gmtime_s(&utc, &now) == 0;
#else
    const bool converted = gmtime_r(&now, &utc) != nullptr;
#endif
    if (converted) {
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    }
    return text;
}

}  // namespace ctl
