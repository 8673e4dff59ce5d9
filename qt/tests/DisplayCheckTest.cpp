// The display check that runs before Qt: which environments and options count as a display.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "qt/Application.h"

namespace {

TEST(DisplayCheck, SaysWhatIsMissingOnlyWithoutAnyDisplayOrChosenPlatform) {
    const struct {
        std::map<std::string, std::string> environment;
        std::vector<const char*> arguments;
        bool missing;
    } cases[] = {
        {{}, {}, true},
        {{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, {}, true},
        {{{"HOME", "/root"}}, {"--help-me"}, true},
        {{}, {"-platform"}, true},  // Qt's option without its value
        {{{"DISPLAY", ":0"}}, {}, false},
        {{{"WAYLAND_DISPLAY", "wayland-0"}}, {}, false},
        {{{"QT_QPA_PLATFORM", "offscreen"}}, {}, false},
        {{}, {"-platform", "offscreen"}, false},
        {{}, {"--platform", "vnc"}, false},
        {{}, {"-display", "host:0"}, false},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"ostrel"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const std::string line = qtui::missingDisplay(
            "ostrel", static_cast<int>(argv.size()), argv.data(), [&](const char* name) {
                const auto it = c.environment.find(name);
                return it == c.environment.end() ? nullptr : it->second.c_str();
            });
        EXPECT_EQ(!line.empty(), c.missing) << ::testing::PrintToString(c.arguments) << ' '
                                            << ::testing::PrintToString(c.environment);
        if (c.missing) {
            EXPECT_EQ(
                line.rfind("ostrel: no graphical display (DISPLAY and WAYLAND_DISPLAY are unset); ",
                           0),
                0u)
                << line;
        }
    }
}

}  // namespace
