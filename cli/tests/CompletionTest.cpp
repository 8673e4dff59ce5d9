// Locations in the completion scripts: taken from "ostrelctl devices" when the completion
// runs, and nothing (no noise either) when that command fails or is missing.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/help/CompletionScript.h"

namespace {

namespace fs = std::filesystem;

TEST(Completion, LocationsComeFromTheDevicesCommandAndItsFailureGivesNone) {
#ifdef _WIN32
    GTEST_SKIP() << "the scripts are for the shells of Linux";
#else
    CLI::App app{"test", "ostrelctl"};
    std::string device;
    app.add_option("--device", device, "the controller")->option_text("LOCATION");
    app.add_subcommand("status", "status");
    const fs::path folder =
        fs::temp_directory_path() /
        ("ostrel-completion-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(folder);
    std::ofstream(folder / "ostrelctl.bash") << ctl::completionScript(app, "bash").value();
    struct Case {
        const char* devices;   // the stand-in program's body; null: no program at all
        const char* expected;  // each candidate and a blank
    };
    for (const Case& c :
         {Case{"printf 'sim-1  Ostrel 1.2\\n\\nsim-12  Ostrel 2.0\\n'", "sim-1 sim-12 "},
          Case{"echo 'unknown command' >&2; exit 1", " "}, Case{nullptr, " "}}) {
        SCOPED_TRACE(c.devices != nullptr ? c.devices : "missing");
        fs::remove(folder / "ostrelctl");
        if (c.devices != nullptr) {
            std::ofstream(folder / "ostrelctl") << "#!/bin/sh\n" << c.devices << '\n';
            fs::permissions(folder / "ostrelctl", fs::perms::owner_all);
        }
        const std::string command = "cd '" + folder.string() +
                                    "' && PATH=.:/usr/bin:/bin bash --norc -c '. ./ostrelctl.bash; "
                                    "COMP_WORDS=(ostrelctl status --device sim-1); COMP_CWORD=3; "
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
