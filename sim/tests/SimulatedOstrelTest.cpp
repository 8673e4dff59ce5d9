// The controller end to end through the device library on the simulated platform.
#include <gtest/gtest.h>

#include "device/HIDDevice.h"
#include "device/HIDDevices.h"
#include "device/HIDOstrel.h"
#include "sim/SimulatedOstrel.h"
#include "tests/support/WaitFor.h"

namespace {

std::unique_ptr<HArray> nextReport(HIDOstrel& ostrel) {
    std::unique_ptr<HArray> report;
    waitFor([&] { return (report = ostrel.popReport()) != nullptr; });
    return report;
}

TEST(SimulatedOstrel, AnswersTheProgrammerLikeTheRealController) {
    platform::SimHidPlatform platform;
    platform.setRealSleep(false);
    sim::SimulatedOstrel controller(platform, OSTREL_PRODUCT_ID_ALT);
    controller.firmware().setFirmwareVersion(0x21);

    std::FILE* quiet = std::tmpfile();
    auto descriptor = HIDDevices(platform, quiet).find("TAVREN INC", "Ostrel PSU", 0xD001);
    std::fclose(quiet);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->path, controller.path());

    HIDDevice channel(platform, std::move(descriptor));
    {
        HIDOstrel ostrel(&channel);
        ostrel.sendCommand(CMD_STATUS);
        auto status = nextReport(ostrel);
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(classifyReport(status->bytes()), ReportKind::Status);
        EXPECT_EQ(decodeStatusReport(status->bytes()).version, 0x21);

        ostrel.sendParam(2, 0x24, true, 0x01, 0x02);
        ostrel.sendParam(2, 0x24, false, 0, 0);
        auto param = nextReport(ostrel);
        ASSERT_NE(param, nullptr);
        const ParamReport value = decodeParamReport(param->bytes());
        EXPECT_EQ(value.address, 0x24);
        EXPECT_EQ(joinRaw16(value.first, value.second), 0x0102);

        controller.firmware().sendHistory(2);
        auto history = nextReport(ostrel);
        ASSERT_NE(history, nullptr);
        EXPECT_EQ(classifyReport(history->bytes()), ReportKind::History);

        controller.unplug();
        ostrel.sendCommand(CMD_STATUS);
        auto event = nextReport(ostrel);
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(classifyReport(event->bytes()), ReportKind::Event);
    }
    EXPECT_EQ(controller.firmware().log().size(), 3u);  // the write after the loss never arrived
}

TEST(SimulatedOstrel, GoingAwayWhileAChannelIsOpenLooksLikeUnplugging) {
    platform::SimHidPlatform platform;
    platform.setRealSleep(false);
    auto controller = std::make_unique<sim::SimulatedOstrel>(platform);
    auto descriptor = std::make_unique<HIDDescriptor>();
    descriptor->path = controller->path();
    descriptor->caps = {24, 24, 0};
    HIDDevice channel(platform, std::move(descriptor));
    EXPECT_TRUE(channel.write(HArray(1)));
    controller.reset();
    EXPECT_FALSE(channel.write(HArray(1)));
    EXPECT_FALSE(channel.connected());
}

TEST(SimulatedOstrel, BothFrameLogsKeepOnlyTheLastFramesUnlessToldOtherwise) {
    platform::SimHidPlatform platform;
    sim::SimulatedOstrel controller(platform);
    const auto handle = platform.open(controller.path().c_str(), platform::OpenMode::Write);
    std::uint16_t sent = 0;
    auto send = [&](std::size_t count) {
        for (std::vector<std::uint8_t> frame(REPORT_SIZE, 0x42); count-- > 0; ++sent) {
            frame[1] = static_cast<std::uint8_t>(sent >> 8);  // 0x42: no command, not answered
            frame[2] = static_cast<std::uint8_t>(sent);
            ASSERT_EQ(handle->write(frame.data(), frame.size()), platform::WriteStatus::Ok);
        }
    };
    constexpr std::size_t LIMIT = platform::SimDevice::DEFAULT_WRITE_LOG_LIMIT;
    static_assert(LIMIT == sim::OstrelFirmware::DEFAULT_LOG_LIMIT);
    send(LIMIT + 10);
    for (const auto& log : {controller.device().writes(), controller.firmware().log()}) {
        ASSERT_EQ(log.size(), LIMIT);
        EXPECT_EQ(joinRaw16(log.front()[1], log.front()[2]), 10);
    }
    EXPECT_EQ(controller.device().writeCount(), LIMIT + 10);  // counted, kept or not
    controller.device().setWriteLogLimit(0);
    controller.firmware().setLogLimit(0);
    send(10);
    EXPECT_EQ(controller.device().writes().size(), LIMIT + 10);
    EXPECT_EQ(controller.firmware().log().size(), LIMIT + 10);
}

}  // namespace
