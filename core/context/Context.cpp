#include "core/context/Context.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <ostream>

#include "core/texts/OutsideText.h"

namespace ctl {

void say(CommandContext& context, const std::string& message) {
    context.console.err << "ostrelctl: " << escapeControls(message) << '\n';
}

int fail(CommandContext& context, int code, const std::string& message) {
    say(context, message);
    return code;
}

std::string utcText(std::chrono::system_clock::time_point when, bool milliseconds) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(when);
    const std::time_t whole = std::chrono::system_clock::to_time_t(seconds);
    char text[40] = "";
    // Not std::gmtime: its one shared result would race between the threads of --all.
    std::tm utc{};
#ifdef _WIN32
    const bool converted = gmtime_s(&utc, &whole) == 0;
#else
    const bool converted = gmtime_r(&whole, &utc) != nullptr;
#endif
    if (!converted) {
        return text;
    }
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::string result = text;
    if (milliseconds) {
        const auto part =
            std::chrono::duration_cast<std::chrono::milliseconds>(when - seconds).count();
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(part));
        result += fraction;
    }
    return result + "Z";
}

std::string utcNow() {
    return utcText(std::chrono::system_clock::now(), false);
}

}  // namespace ctl
