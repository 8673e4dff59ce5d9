// ostrelctl through a real /dev/hidrawN: backup, a changed restore and diff against the
// gadget, checked against what the firmware behind it stored.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "cli/Ostrelctl.h"
#include "cli/tests/RunOstrelctl.h"
#include "platform/linux/LinuxHidPlatform.h"
#include "sim/OstrelFirmware.h"
#include "tests/kernel/GadgetBridge.h"
#include "tests/kernel/OstrelGadget.h"
#include "tests/kernel/PluggedController.h"

namespace kernel_harness {
namespace {

using nlohmann::json;

class KernelCtl : public ::testing::Test, public ctl::PlatformSource {
protected:
    void SetUp() override {
        m_gadget = std::make_unique<UsbGadget>(ostrelGadgetConfig("ostrelctl", 0));
        m_bridge = plugController(*m_gadget, m_firmware).bridge;
    }

    void TearDown() override {
        m_firmware.setSink({});
        m_bridge.reset();
        m_gadget.reset();
    }

    platform::HidPlatform& platform(const ctl::Simulation& simulated) override {
        EXPECT_FALSE(simulated.on());
        return m_platform;
    }

    RunResult run(std::vector<std::string> args) {
        return runOstrelctlLine(std::move(args), *this, m_interrupted);
    }

    sim::OstrelFirmware m_firmware;
    std::unique_ptr<UsbGadget> m_gadget;
    std::unique_ptr<GadgetBridge> m_bridge;
    platform::LinuxHidPlatform m_platform;
    std::atomic<bool> m_interrupted{false};
};

TEST_F(KernelCtl, BackupChangedRestoreAndDiffThroughHidraw) {
    const std::string file = "/tmp/ostrelctl-backup.json";
    RunResult ran = run({"backup", file});
    ASSERT_EQ(ran.code, 0) << ran.err;
    json backup;
    {
        std::ifstream in(file);
        backup = json::parse(in);
    }
    ASSERT_EQ(backup["parameters"].size(), 37u);
    EXPECT_EQ(backup["firmware"]["version"], "1.2");
    EXPECT_EQ(backup["parameters"][2]["text"], "5");  // Delay before PSU startup

    // Another unit's settings: three values changed in the file, by hand, as texts alone
    // (a text that disagrees with the raw value beside it is a fault of the file).
    for (const auto& [index, text] : {std::pair{2, "9"}, {22, "-25"}, {23, "00:02:30"}}) {
        backup["parameters"][index]["text"] = text;  // delay, minimum temperature, off-delay
        backup["parameters"][index].erase("raw");
    }
    std::ofstream(file) << backup.dump(2);

    ran = run({"diff", file});
    ASSERT_EQ(ran.code, 0) << ran.err;
    EXPECT_NE(ran.out.find("3 of 37 parameters differ"), std::string::npos) << ran.out;

    m_firmware.clearLog();
    ran = run({"restore", file});
    ASSERT_EQ(ran.code, 0) << ran.err;
    EXPECT_NE(ran.out.find("Restore: 34 unchanged, 3 written and verified, 0 failed"),
              std::string::npos)
        << ran.out;
    EXPECT_EQ(m_firmware.paramByte(0x03), 9);
    EXPECT_EQ(m_firmware.paramByte(0x1D), 0xE7);  // -25
    EXPECT_EQ(m_firmware.paramByte(0x24), 0x00);  // 150 s
    EXPECT_EQ(m_firmware.paramByte(0x25), 150);
    // Exactly the three writes went out, whole reports of the defined frames.
    int writes = 0;
    for (const auto& frame : m_firmware.log()) {
        ASSERT_EQ(frame.size(), static_cast<std::size_t>(REPORT_SIZE));
        writes += frame[0] == CMD_PARAM && frame[1] == PARAM_WRITE ? 1 : 0;
    }
    EXPECT_EQ(writes, 3);

    ran = run({"diff", file});
    ASSERT_EQ(ran.code, 0) << ran.err;
    EXPECT_EQ(ran.out, "0 of 37 parameters differ\n");
    std::remove(file.c_str());
}

}  // namespace
}  // namespace kernel_harness
