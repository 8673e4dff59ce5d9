// What ostrelctl must not take for success: a write the system refused, and a late answer
// to an earlier request taken for the read-back.
#include <functional>
#include <memory>

#include "cli/tests/CtlFixture.h"

namespace {

constexpr std::uint8_t ADDR_DELAY = 0x03;  // "Delay before PSU startup", factory value 5 s

// The backup of a controller that holds its factory values, with the delay then set to 42.
std::string backupThenChangeDelay(sim::SimulatedOstrel& controller,
                                  const std::function<RunResult(std::vector<std::string>)>& run) {
    const RunResult backup = run({"backup", "-"});
    EXPECT_EQ(backup.code, 0) << backup.err;
    controller.firmware().setParamByte(ADDR_DELAY, 42);
    return backup.out;
}

TEST_F(Ctl, AWriteTheSystemRefusesIsAnErrorAndNothingClaimsItWasSent) {
    struct Case {
        std::vector<std::string> args;
        bool restore;  // the input is a backup, and a dry run counts the frames before
        const char* mustNotSay;
    };
    for (const Case& c : {Case{{"factory-reset", "--yes"}, false, "Factory reset sent"},
                          Case{{"set", "delay-before-psu-startup", "9"}, false, "read back"},
                          Case{{"restore", "-"}, true, "written, not read back"}}) {
        SCOPED_TRACE(c.args.front());
        m_controllers.clear();
        sim::SimulatedOstrel& controller = plug();
        std::string input;
        std::size_t before = 1;  // the status request
        if (c.restore) {
            input = backupThenChangeDelay(controller, [this](auto args) { return run(args); });
            controller.device().clearWrites();
            ASSERT_EQ(run({"restore", "--dry-run", "-"}, input).code, 0);
            before = controller.device().writeCount();
            controller.device().clearWrites();
        }
        const std::uint8_t held = controller.firmware().paramByte(ADDR_DELAY);
        // The switch goes on once the frames before the write are through: the write is
        // the first the system refuses, with the device still there.
        auto passed = std::make_shared<std::size_t>(0);
        controller.device().setWriteHook([&controller, passed, before](auto frame) {
            controller.firmware().receive(frame);
            if (++*passed == before) {
                platform::SimBehaviour refusing;
                refusing.writesFail = true;
                controller.device().setBehaviour(refusing);
            }
        });
        const RunResult result = run(c.args, input);
        EXPECT_EQ(result.code, 4) << result.err;
        EXPECT_NE(result.err.find("the controller refused the write"), std::string::npos)
            << result.err;
        EXPECT_EQ(result.out.find(c.mustNotSay), std::string::npos) << result.out;
        EXPECT_EQ(controller.firmware().paramByte(ADDR_DELAY), held);
        EXPECT_EQ(controller.device().writeCount(), before);
    }
}

TEST_F(Ctl, ALateAnswerToAnEarlierReadIsNotTakenForTheReadBack) {
    for (const bool restore : {false, true}) {
        SCOPED_TRACE(restore ? "restore" : "set");
        m_controllers.clear();
        sim::SimulatedOstrel& controller = plug();
        const std::string input =
            restore ? backupThenChangeDelay(controller, [this](auto args) { return run(args); })
                    : "";
        const std::uint8_t before = controller.firmware().paramByte(ADDR_DELAY);
        // Right after the read-back request, and before its answer, comes the duplicate
        // of an answer from before the write: the old value.
        auto written = std::make_shared<bool>(false);
        auto late = std::make_shared<bool>(false);
        controller.device().setWriteHook([&controller, written, late, before](auto frame) {
            if (frame[0] == CMD_PARAM && frame[2] == ADDR_DELAY) {
                if (frame[1] == PARAM_WRITE) {
                    *written = true;
                } else if (*written && !*late) {
                    *late = true;
                    controller.device().queueInput(encodeParamReport({ADDR_DELAY, before, 0}));
                }
            }
            controller.firmware().receive(frame);
        });
        const RunResult result =
            run(restore ? std::vector<std::string>{"restore", "-"}
                        : std::vector<std::string>{"set", "delay-before-psu-startup", "9"},
                input);
        ASSERT_TRUE(*late) << "the late answer was never sent";
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_NE(
            result.out.find(restore ? "written Delay before PSU startup: 42 [s] -> 5 [s]"
                                    : "Delay before PSU startup: 9 [s] (written and read back)"),
            std::string::npos)
            << result.out;
    }
}

}  // namespace
