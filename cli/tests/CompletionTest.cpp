// Locations in the program's own completion scripts: taken from "ostrelctl devices --plain",
// for the line's --simulated, when the completion runs, and nothing (no noise either) when
// that command fails or is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/commandline/CommandLine.h"
#include "cli/help/CompletionScript.h"

namespace {

namespace fs = std::filesystem;

TEST(Completion, LocationsComeFromTheDevicesCommandAndItsFailureGivesNone) {
#ifdef _WIN32
    GTEST_SKIP() << "the scripts are for the shells of Linux";
#else
    ctl::CommandLine commandLine;
    const fs::path folder =
        fs::temp_directory_path() /
        ("ostrel-completion-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(folder);
    std::ofstream(folder / "ostrelctl.bash")
        << ctl::completionScript(commandLine.everyOption(), "bash").value();
    struct Case {
        const char* devices;   // the stand-in program's body; null: no program at all
        const char* expected;  // each candidate and a blank
    };
    for (const Case& c : {Case{"printf 'sim-1\\nsim-12\\n'", "sim-1 sim-12 "},
                          Case{"printf '%s\\n' \"$@\"", "--simulated=2 devices --plain "},
                          Case{"echo 'unknown command' >&2; exit 1", " "}, Case{nullptr, " "}}) {
        SCOPED_TRACE(c.devices != nullptr ? c.devices : "missing");
        fs::remove(folder / "ostrelctl");
        if (c.devices != nullptr) {
            std::ofstream(folder / "ostrelctl") << "#!/bin/sh\n" << c.devices << '\n';
            fs::permissions(folder / "ostrelctl", fs::perms::owner_all);
        }
        const std::string command = "cd '" + folder.string() +
                                    "' && PATH=.:/usr/bin:/bin bash --norc -c '. ./ostrelctl.bash; "
                                    "COMP_WORDS=(ostrelctl --simulated = 2 status --device \"\"); "
                                    "COMP_CWORD=6; "
                                    "_ostrelctl; printf \"%s \" \"${COMPREPLY[@]}\"' 2>&1";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        EXPECT_EQ(::pclose(pipe), 0);
        EXPECT_EQ(output, c.expected);
    }
    fs::remove_all(folder);
#endif
}

}  // namespace
