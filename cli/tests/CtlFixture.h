// ostrelctl's logic against simulated controllers: runs command lines and keeps what they
// printed, and checks after every test that only the four defined frames reached a device.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cli/Ostrelctl.h"
#include "cli/tests/RunOstrelctl.h"
#include "device/Wire.h"
#include "params/ParamTable.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"

using Bytes = std::vector<std::uint8_t>;

// A status request, a parameter read or write of an offered row (the factory reset is the
// write of the action row), each zero-filled to 24 bytes.
inline bool definedFrame(const Bytes& frame) {
    auto zeroFrom = [&](std::size_t start) {
        for (std::size_t i = start; i < frame.size(); ++i) {
            if (frame[i] != 0) {
                return false;
            }
        }
        return true;
    };
    if (frame.size() != REPORT_SIZE) {
        return false;
    }
    if (frame[0] == CMD_STATUS) {
        return zeroFrom(1);
    }
    if (frame[0] != CMD_PARAM) {
        return false;
    }
    const ParamTable table;
    const int index = table.findOffered(frame[2]);
    if (index < 0 || table.row(index).size != frame[3]) {
        return false;
    }
    if (frame[1] == PARAM_READ) {
        return zeroFrom(4);
    }
    return frame[1] == PARAM_WRITE && (frame[3] == 2 || frame[5] == 0) && zeroFrom(6);
}

inline bool isParamWrite(std::span<const std::uint8_t> frame) {
    return frame.size() > 1 && frame[0] == CMD_PARAM && frame[1] == PARAM_WRITE;
}

class Ctl : public ::testing::Test, public ctl::PlatformSource {
protected:
    platform::HidPlatform& platform(const ctl::Simulation&) override { return m_platform; }

    void TearDown() override {
        for (const auto& device : m_platform.devices()) {
            for (const Bytes& frame : device->writes()) {
                EXPECT_TRUE(definedFrame(frame)) << "an undefined frame reached the device";
            }
            EXPECT_EQ(device->openHandles(), 0) << "the channel was left open";
        }
    }

    // `out`: where the program's output goes instead of the result (a stream that fails).
    RunResult run(std::vector<std::string> args, const std::string& input = "",
                  std::ostream* out = nullptr) {
        return runOstrelctlLine(std::move(args), *this, m_interrupted, input, out);
    }

    sim::SimulatedOstrel& plug() {
        m_controllers.push_back(std::make_unique<sim::SimulatedOstrel>(m_platform));
        return *m_controllers.back();
    }

    // The frames the controller got, each cut after its defined bytes (1, 4 or 6).
    static std::vector<Bytes> frames(sim::SimulatedOstrel& controller) {
        std::vector<Bytes> result;
        for (Bytes frame : controller.device().writes()) {
            frame.resize(frame[0] == CMD_STATUS ? 1 : frame[1] == PARAM_READ ? 4 : 6);
            result.push_back(frame);
        }
        return result;
    }

    // Lets through to the firmware only the frames `pass` accepts.
    static void filterFrames(sim::SimulatedOstrel& controller,
                             std::function<bool(std::span<const std::uint8_t>)> pass) {
        controller.device().setWriteHook(
            [&firmware = controller.firmware(),
             pass = std::move(pass)](std::span<const std::uint8_t> frame) {
                if (pass(frame)) {
                    firmware.receive(frame);
                }
            });
    }

    platform::SimHidPlatform m_platform;
    std::vector<std::unique_ptr<sim::SimulatedOstrel>> m_controllers;
    std::atomic<bool> m_interrupted{false};
};
