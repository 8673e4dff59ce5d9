// ostrelctl's choice of controller on a real Windows HID stack: Wine's, which has a mouse and
// a keyboard and no controller. Nothing may be taken for one, and a selector that names one
// of those devices must be refused as naming no controller.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "cli/Ostrelctl.h"
#include "cli/tests/RunOstrelctl.h"
#include "platform/windows/WindowsHidPlatform.h"

namespace {

class WineDevices : public ::testing::Test, public ctl::PlatformSource {
protected:
    platform::HidPlatform& platform(const ctl::Simulation&) override { return m_platform; }

    RunResult run(std::vector<std::string> args) {
        return runOstrelctlLine(std::move(args), *this, m_interrupted);
    }

    // The path of the first HID device Wine has (its mouse or its keyboard).
    std::string firstPath() {
        const auto set = m_platform.presentInterfaces();
        if (!set || set->interfaceAt(0) != platform::Status::Ok) {
            return {};
        }
        std::size_t size = 0;
        if (set->pathSize(0, size) != platform::Status::Ok || size == 0) {
            return {};
        }
        std::string path(size, '\0');
        if (set->path(0, path.data(), size) != platform::Status::Ok) {
            return {};
        }
        path.resize(path.find('\0') == std::string::npos ? size : path.find('\0'));
        return path;
    }

    platform::WindowsHidPlatform m_platform;
    std::atomic<bool> m_interrupted{false};
};

TEST_F(WineDevices, NoneOfWinesDevicesIsTakenForAController) {
    const std::string wineDevice = firstPath();
    ASSERT_FALSE(wineDevice.empty()) << "Wine shows no HID device";
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string said;  // in the output or the error line
    };
    const Case cases[] = {
        {{"devices"}, 0, "no controller found"},
        {{"devices", "--json"}, 0, "[]"},
        {{"status"}, 2, "no controller found"},
        {{"--device", wineDevice, "status"}, 2, "is not a controller"},
        {{"--device", wineDevice, "set", "0x03", "5"}, 2, "is not a controller"},
        {{"--device", "Port_#0009.Hub_#0009", "get", "0x03"}, 2, "no controller there"},
        {{"--all", "backup", "."}, 2, "--all needs one"},
        {{"--all", "--device", wineDevice, "status"}, 1, "--device excludes --all"},
    };
    for (const Case& c : cases) {
        const RunResult result = run(c.args);
        const std::string where = c.args.front() + " " + c.args.back();
        EXPECT_EQ(result.code, c.code) << where << "\n" << result.out << result.err;
        EXPECT_NE((result.out + result.err).find(c.said), std::string::npos)
            << where << "\n"
            << result.out << result.err;
    }
}

}  // namespace
