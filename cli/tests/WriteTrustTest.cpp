// What ostrelctl must not take for success: a write the system refused, a late answer to an
// earlier request taken for the read-back, and a controller another program of ours is
// using.
#include <chrono>
#include <memory>
#include <thread>

#include "cli/tests/CtlFixture.h"

namespace {

constexpr std::uint8_t ADDR_DELAY = 0x03;  // "Delay before PSU startup", factory value 5 s

class Trust : public Ctl {
protected:
    // A backup of the factory values; the controller then holds a delay of 42 s.
    std::string backupThenChangeDelay(sim::SimulatedOstrel& controller) {
        const RunResult backup = run({"backup", "-"});
        EXPECT_EQ(backup.code, 0) << backup.err;
        controller.firmware().setParamByte(ADDR_DELAY, 42);
        return backup.out;
    }
};

TEST_F(Trust, AWriteTheSystemRefusesIsAnErrorAndNothingClaimsItWasSent) {
    for (const auto& [args, mustNotSay] : {std::pair<std::vector<std::string>, const char*>{
                                               {"factory-reset", "--yes"}, "Factory reset sent"},
                                           {{"set", "delay-before-psu-startup", "9"}, "read back"},
                                           {{"restore", "-"}, "written, not read back"}}) {
        SCOPED_TRACE(args.front());
        m_controllers.clear();
        sim::SimulatedOstrel& controller = plug();
        std::string input;
        std::size_t before = 1;  // the status request; for a restore, what a dry run sends
        if (args.front() == "restore") {
            input = backupThenChangeDelay(controller);
            controller.device().clearWrites();
            ASSERT_EQ(run({"restore", "--dry-run", "-"}, input).code, 0);
            before = controller.device().writeCount();
            controller.device().clearWrites();
        }
        const std::uint8_t held = controller.firmware().paramByte(ADDR_DELAY);
        // Once the frames before the write are through, the system refuses every write
        // with the device still there.
        controller.device().setWriteHook([&controller, before](auto frame) {
            controller.firmware().receive(frame);
            if (controller.device().writeCount() == before) {
                platform::SimBehaviour refusing;
                refusing.writesFail = true;
                controller.device().setBehaviour(refusing);
            }
        });
        const RunResult result = run(args, input);
        EXPECT_EQ(result.code, 4) << result.err;
        EXPECT_NE(result.err.find("(error 5): it did not reach the controller"), std::string::npos)
            << result.err;
        EXPECT_EQ(result.out.find(mustNotSay), std::string::npos) << result.out;
        EXPECT_EQ(controller.firmware().paramByte(ADDR_DELAY), held);
        EXPECT_EQ(controller.device().writeCount(), before);
    }
}

// A controller being pulled out refuses the write a moment before its channel hears that it
// went: that is the controller lost (3), not a refusal (4).
TEST_F(Trust, AWriteRefusedAsTheControllerGoesIsALoss) {
    sim::SimulatedOstrel& controller = plug();
    std::jthread unplugging;
    // The status request goes through; the write after it is refused, and 200 ms later the
    // device is gone.
    controller.device().setWriteHook([&](auto frame) {
        controller.firmware().receive(frame);
        platform::SimBehaviour refusing;
        refusing.writesFail = true;
        controller.device().setBehaviour(refusing);
        unplugging = std::jthread([&controller] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            controller.device().unplug();
        });
    });
    const RunResult result = run({"--timeout", "5000", "set", "delay-before-psu-startup", "9"});
    EXPECT_EQ(result.code, 3) << result.err;
    EXPECT_NE(result.err.find("the controller was lost"), std::string::npos) << result.err;
}

TEST_F(Trust, ALateAnswerToAnEarlierReadIsNotTakenForTheReadBack) {
    for (const bool restore : {false, true}) {
        SCOPED_TRACE(restore ? "restore" : "set");
        m_controllers.clear();
        sim::SimulatedOstrel& controller = plug();
        const std::string input = restore ? backupThenChangeDelay(controller) : "";
        const std::uint8_t before = controller.firmware().paramByte(ADDR_DELAY);
        // Between the read-back request and its answer comes the duplicate of an answer
        // from before the write: the old value.
        auto written = std::make_shared<bool>(false);
        auto late = std::make_shared<bool>(false);
        controller.device().setWriteHook([&controller, written, late, before](auto frame) {
            if (frame[0] == CMD_PARAM && frame[2] == ADDR_DELAY && frame[1] == PARAM_READ &&
                *written && !*late) {
                *late = true;
                controller.device().queueInput(encodeParamReport({ADDR_DELAY, before, 0}));
            }
            *written = *written || (frame[1] == PARAM_WRITE && frame[2] == ADDR_DELAY);
            controller.firmware().receive(frame);
        });
        const RunResult result =
            restore ? run({"restore", "-"}, input) : run({"set", "delay-before-psu-startup", "9"});
        ASSERT_TRUE(*late) << "the late answer was never sent";
        EXPECT_EQ(result.code, 0) << result.err;
        EXPECT_NE(result.out.find(restore ? "written Delay before PSU startup: 42 [s] -> 5 [s]"
                                          : "9 [s] (written and read back)"),
                  std::string::npos)
            << result.out;
    }
}

TEST_F(Trust, CommandsOnParametersKeepOffAControllerAnotherProgramOfOursHolds) {
    sim::SimulatedOstrel& controller = plug();
    const std::string backup = backupThenChangeDelay(controller);
    platform::ClaimResult window = m_platform.claim(controller.path().c_str(), "ostrel");
    ASSERT_EQ(window.status, platform::ClaimStatus::Held);
    const std::string holder =
        "ostrel (pid " + std::to_string(m_platform.claimHolder(controller.path()).pid) + ")";
    for (const auto& [args, input] :
         std::initializer_list<std::pair<std::vector<std::string>, std::string>>{
             {{"get", "0x03"}, ""},
             {{"get", "--all"}, ""},
             {{"set", "0x03", "9"}, ""},
             {{"backup", "-"}, ""},
             {{"restore", "-"}, backup},
             {{"diff", "-"}, backup},
             {{"factory-reset", "--yes"}, ""}}) {
        SCOPED_TRACE(args.front());
        controller.device().clearWrites();
        const RunResult result = run(args, input);
        EXPECT_EQ(result.code, 5);
        // The first line says why; restore adds that nothing was written.
        EXPECT_EQ(
            result.err.substr(0, result.err.find('\n') + 1),
            "ostrelctl: the controller is in use by " + holder + "; close it or use --wait\n");
        EXPECT_EQ(controller.device().writeCount(), 0u) << "a frame went to a claimed controller";
    }
    EXPECT_EQ(run({"status"}).code, 0) << "status reports are harmless beside the window";
    EXPECT_EQ(run({"--wait", "0.2", "get", "0x03"}).err,
              "ostrelctl: the controller is still in use by " + holder + " after waiting 0.2 s\n");

    // Released while the command waits: it goes on, holding the claim itself meanwhile.
    std::string heldBy;
    controller.device().setWriteHook([&](auto frame) {
        heldBy = m_platform.claimHolder(controller.path()).program;
        controller.firmware().receive(frame);
    });
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        window.claim.reset();
    });
    const RunResult waited = run({"--wait", "30", "set", "0x03", "9"});
    closer.join();
    EXPECT_EQ(waited.code, 0) << waited.err;
    EXPECT_EQ(heldBy, "ostrelctl");
    EXPECT_EQ(m_platform.claimHolder(controller.path()).program, "") << "released at the end";
    EXPECT_EQ(run({"--wait", "-1", "get", "0x03"}).code, 1);
}

}  // namespace
