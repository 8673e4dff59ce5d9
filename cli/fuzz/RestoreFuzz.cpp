// libFuzzer: any bytes as the backup file of "ostrelctl restore -", through the whole program
// but its main, against a simulated controller. Besides what the sanitizers catch, it stops on
// an outcome the program must never have:
// - an exit status other than 0 (restored) or 1 (refused), or a failure without a word;
// - a refused file that wrote anything (a restore writes all of a file or nothing);
// - a restore that succeeded without converting, after which diff still finds a difference.
// The input's length picks the controller's firmware family and --convert, so that every
// input also meets the other family.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "cli/Ostrelctl.h"
#include "cli/tests/RunOstrelctl.h"
#include "device/Wire.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"

namespace {

class Fixture final : public ctl::PlatformSource {
public:
    Fixture() : m_controller(m_platform) { m_platform.setRealSleep(false); }

    platform::HidPlatform& platform(const ctl::Simulation&) override { return m_platform; }
    sim::SimulatedOstrel& controller() { return m_controller; }

    RunResult run(std::vector<std::string> args, const std::string& input) {
        return runOstrelctlLine(std::move(args), *this, m_interrupted, input);
    }

private:
    platform::SimHidPlatform m_platform;
    sim::SimulatedOstrel m_controller;
    std::atomic<bool> m_interrupted{false};
};

bool wroteParameters(sim::SimulatedOstrel& controller) {
    for (const auto& frame : controller.device().writes()) {
        if (frame.size() > 1 && frame[0] == CMD_PARAM && frame[1] == PARAM_WRITE) {
            return true;
        }
    }
    return false;
}

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    sim::SimulatedOstrel& controller = fixture.controller();
    controller.firmware().restoreFactoryDefaults();
    controller.firmware().setFirmwareVersion(size % 2 == 0 ? 0x12 : 0x21);
    controller.firmware().clearLog();
    controller.device().clearWrites();

    const std::string file(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args{"--timeout", "2000", "restore", "-"};
    if ((size & 2) != 0) {
        args.insert(args.end() - 1, "--convert");
    }
    const RunResult restore = fixture.run(args, file);
    require(restore.code == 0 || restore.code == 1);
    require(restore.code == 0 || !restore.err.empty());
    require(restore.code == 0 || !wroteParameters(controller));
    if (restore.code == 0 && restore.out.find("converted ") == std::string::npos) {
        const RunResult diff = fixture.run({"diff", "--exit-code", "-"}, file);
        require(diff.code == 0);
    }
    return 0;
}
