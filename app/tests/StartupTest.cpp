// Opening the main window: which controller is used, the parameter list, the timers, the
// first status request, the shortened window, and the No device state.
#include <set>

#include "app/COstrelApp.h"
#include "app/tests/DialogFixture.h"

namespace {

class Startup : public DialogFixture {};

TEST_F(Startup, ControllerWithFirstIdIsOpenedAndAskedForStatus) {
    sim::SimulatedOstrel& controller = plugController(OSTREL_PRODUCT_ID);
    openWindow();

    EXPECT_TRUE(m_dialog->hasDevice());
    EXPECT_EQ(controller.device().writes(), std::vector<Bytes>{padded({0x81})});
    EXPECT_EQ(m_window.timers(), (std::map<unsigned, unsigned>{{1, 200}, {2, 1000}}));
    EXPECT_EQ(m_dialog->pumpTimerId(), 1u);
    EXPECT_EQ(m_dialog->pollTimerId(), 2u);
    EXPECT_TRUE(m_window.enabled(IDC_PARAM_LIST));
    EXPECT_FALSE(m_window.enabled(IDC_VALUE_EDIT));
    EXPECT_TRUE(m_window.messageBoxes().empty());
    // The caption waits for the first status report.
    EXPECT_EQ(m_window.caption(), "Ostrel ver: --");
}

TEST_F(Startup, SecondIdIsSearchedOnlyWhenTheFirstFindsNothing) {
    struct Case {
        const char* name;
        bool first;
        bool second;
        int expectedWritesFirst;
        int expectedWritesSecond;
    };
    const Case cases[] = {
        {"only 0x0002", true, false, 1, 0},
        {"only 0xD001", false, true, 0, 1},
        {"both", true, true, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::SimHidPlatform platform;
        std::unique_ptr<sim::SimulatedOstrel> first;
        std::unique_ptr<sim::SimulatedOstrel> second;
        // The 0xD001 controller is plugged first so that list order cannot explain the choice.
        if (c.second) {
            second = std::make_unique<sim::SimulatedOstrel>(platform, OSTREL_PRODUCT_ID_ALT);
        }
        if (c.first) {
            first = std::make_unique<sim::SimulatedOstrel>(platform, OSTREL_PRODUCT_ID);
        }
        RecordingWindow window;
        ParamTable table;
        COstrelDlg dialog({platform, table, window, m_diagnostics, &loadStringResource});
        window.open(dialog);
        EXPECT_TRUE(dialog.hasDevice());
        if (first) {
            EXPECT_EQ(static_cast<int>(first->device().writeCount()), c.expectedWritesFirst);
        }
        if (second) {
            EXPECT_EQ(static_cast<int>(second->device().writeCount()), c.expectedWritesSecond);
        }
        window.destroy();
        EXPECT_EQ(first ? first->device().openHandles() : 0, 0);
        EXPECT_EQ(second ? second->device().openHandles() : 0, 0);
    }
}

TEST_F(Startup, WithoutControllerTheWindowStaysIdle) {
    // Something else with the vendor's id is present and must never be written to.
    platform::SimIdentity other = sim::SimulatedOstrel::identity(0x0003);
    std::shared_ptr<platform::SimDevice> stranger = m_platform.addDevice(other);
    openWindow();

    ASSERT_EQ(m_window.messageBoxes().size(), 1u);
    EXPECT_EQ(m_window.messageBoxes()[0].text, "Device not found");
    EXPECT_FALSE(m_window.messageBoxes()[0].windowShown);
    EXPECT_FALSE(m_dialog->hasDevice());
    EXPECT_TRUE(m_window.timers().empty());
    EXPECT_FALSE(m_window.enabled(IDC_PARAM_LIST));
    EXPECT_FALSE(m_window.enabled(IDC_VALUE_EDIT));
    EXPECT_EQ(m_window.caption(), "Ostrel ver: --");

    // Send and Enter do nothing: the placeholder is selected.
    EXPECT_TRUE(m_window.userClicksSend());
    EXPECT_TRUE(m_window.userPressesEnter());
    // Ticks that a broken window might still deliver find no device.
    m_dialog->OnTimer(TIMER_PUMP);
    m_dialog->OnTimer(TIMER_POLL);
    EXPECT_EQ(m_window.messageBoxes().size(), 1u);
    EXPECT_EQ(m_window.caption(), "Ostrel ver: --");
    EXPECT_EQ(stranger->writeCount(), 0u);
    m_window.destroy();
    EXPECT_TRUE(m_window.killedTimers().empty());
}

TEST_F(Startup, UnopenableControllerStillGetsChannelAndTimers) {
    sim::SimulatedOstrel& controller = plugController();
    platform::SimBehaviour behaviour;
    behaviour.openWriteFails = true;
    behaviour.openReadFails = true;
    controller.device().setBehaviour(behaviour);
    openWindow();

    EXPECT_TRUE(m_dialog->hasDevice());
    EXPECT_EQ(m_window.timers().size(), 2u);
    EXPECT_TRUE(m_window.enabled(IDC_PARAM_LIST));
    m_window.tick(TIMER_POLL);
    m_window.tick(TIMER_PUMP);
    EXPECT_TRUE(m_window.messageBoxes().empty());
    EXPECT_EQ(controller.device().writeCount(), 0u);
}

TEST_F(Startup, TheWindowClaimsTheControllerForItsLifeAndRunsEvenWhenItCannotYet) {
    sim::SimulatedOstrel& controller = plugController();
    auto holder = [&] { return m_platform.claimHolder(controller.path()).program; };
    // A command line holds it as the window opens: the window runs all the same.
    platform::ClaimResult command = m_platform.claim(controller.path().c_str(), "ostrelctl");
    openWindow();
    ASSERT_TRUE(waitFirstStatus());
    EXPECT_TRUE(m_window.messageBoxes().empty());
    ASSERT_TRUE(m_window.tick(TIMER_POLL));
    EXPECT_EQ(holder(), "ostrelctl");
    // Free again: the window takes it at its next poll, with Auto refresh off too.
    command.claim.reset();
    ASSERT_TRUE(m_window.userClicksAutoRefresh());
    ASSERT_TRUE(m_window.tick(TIMER_POLL));
    EXPECT_EQ(holder(), "ostrel");
    EXPECT_EQ(m_platform.claim(controller.path().c_str(), "ostrelctl").status,
              platform::ClaimStatus::Busy);
    ASSERT_TRUE(m_window.userPressesEscape());
    m_window.destroy();
    EXPECT_EQ(holder(), "") << "the claim ends with the window";
}

TEST_F(Startup, ListHoldsPlaceholderAndEveryOfferedRowWithItsIndex) {
    plugController();
    openWindow();

    const RecordingWindow::Control& list = m_window.control(IDC_PARAM_LIST);
    ASSERT_EQ(list.items.size(), 39u);
    EXPECT_EQ(list.items[0], "Select a message ...");
    EXPECT_EQ(list.itemData[0], -1);
    EXPECT_EQ(list.selection, 0);

    // Every row but the unlisted ones, in table order, each carrying its row index.
    const std::set<int> unlisted{2, 7, 21, 23, 24, 28, 29, 30, 31};
    std::size_t item = 1;
    for (int row = 0; row < PARAM_ROW_COUNT; ++row) {
        if (unlisted.count(row) != 0) {
            continue;
        }
        ASSERT_LT(item, list.items.size());
        EXPECT_EQ(list.itemData[item], row);
        EXPECT_EQ(list.items[item], m_table.row(row).name);
        ++item;
    }
    EXPECT_EQ(list.items[1], "Ignition HIGH limit");
    EXPECT_EQ(list.items[38], "Reset to factory defaults");
    EXPECT_EQ(list.itemData[38], 46);
}

TEST_F(Startup, WindowIsCut204PixelsAtTheBottomWithOrWithoutDevice) {
    for (bool withDevice : {true, false}) {
        SCOPED_TRACE(withDevice ? "with device" : "without device");
        platform::SimHidPlatform platform;
        std::unique_ptr<sim::SimulatedOstrel> controller;
        if (withDevice) {
            controller = std::make_unique<sim::SimulatedOstrel>(platform);
        }
        RecordingWindow window;
        window.setInitialRect({40, 30, 570, 520});
        ParamTable table;
        COstrelDlg dialog({platform, table, window, m_diagnostics, &loadStringResource});
        window.open(dialog);
        EXPECT_EQ(window.moves(), (std::vector<Rect>{Rect{40, 30, 570, 316}}));
        window.destroy();
    }
}

TEST_F(Startup, InitialisationSetsMenuIconAndTicksAutoRefresh) {
    plugController();
    openWindow();

    ASSERT_EQ(m_window.systemMenu().size(), 2u);
    EXPECT_TRUE(m_window.systemMenu()[0].separator);
    EXPECT_FALSE(m_window.systemMenu()[1].separator);
    EXPECT_EQ(m_window.systemMenu()[1].id, 0x0010u);
    EXPECT_EQ(m_window.systemMenu()[1].text, "&About Ostrel...");
    EXPECT_EQ(m_window.icon(), 128);
    EXPECT_TRUE(m_window.control(IDC_AUTO_REFRESH).checked);
    EXPECT_EQ(m_dialog->autoRefresh(), 1);
    EXPECT_EQ(m_window.text(IDC_UNIT_LABEL), "[---]");
}

TEST_F(Startup, NoAboutItemWithoutSystemMenuOrWithEmptyString) {
    {
        m_window.setHasSystemMenu(false);
        openWindow();
        EXPECT_TRUE(m_window.systemMenu().empty());
    }
    RecordingWindow window;
    ParamTable table;
    COstrelDlg dialog(
        {m_platform, table, window, m_diagnostics, [](int) { return std::string(); }});
    window.open(dialog);
    EXPECT_TRUE(window.systemMenu().empty());
    window.destroy();
}

TEST_F(Startup, ApplicationRunsTheWindowToItsEndAndReleasesTheDevice) {
    sim::SimulatedOstrel& controller = plugController();
    controller.firmware().setFirmwareVersion(0x21);
    sim::Measurements measurements = controller.firmware().measurements();
    measurements.mode = 4;
    controller.firmware().setMeasurements(measurements);
    RecordingWindow window;
    std::string captionSeen;
    window.setSession([&](RecordingWindow& w) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (w.caption() == TEXT_INITIAL_CAPTION && std::chrono::steady_clock::now() < deadline) {
            w.tick(TIMER_PUMP);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        captionSeen = w.caption();
        w.userPressesEscape();
    });
    COstrelApp app(m_platform, window, m_diagnostics);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(captionSeen, "Ostrel ver: 2.1 mode: 04");
    EXPECT_TRUE(window.destroyed());
    EXPECT_EQ(window.endCode(), DIALOG_CANCEL);
    EXPECT_EQ(controller.device().openHandles(), 0);
}

TEST_F(Startup, ClosingKillsThePollAndDeletesInterfaceBeforeChannel) {
    sim::SimulatedOstrel& controller = plugController();
    openWindow();
    // Three reports wait in the queue, never pumped.
    controller.firmware().sendHistory(2);
    controller.firmware().sendHistory(3);
    ASSERT_TRUE(waitDelivered(3));  // with the answer to the first status request

    ASSERT_TRUE(m_window.userPressesEscape());
    EXPECT_FALSE(m_window.tick(TIMER_PUMP));  // an ended dialog gets no more messages
    m_window.destroy();

    EXPECT_EQ(m_window.killedTimers(), std::vector<unsigned>{TIMER_POLL});
    EXPECT_TRUE(m_watch.deleted);
    EXPECT_GT(m_watch.channelHandlesAtDeletion, 0);  // the channel was still open
    EXPECT_EQ(controller.device().openHandles(), 0);
    EXPECT_FALSE(m_dialog->hasDevice());
    // The queued reports were dropped, never shown.
    EXPECT_EQ(m_window.text(IDC_STATUS_HISTORY), "");
    EXPECT_EQ(m_window.caption(), "Ostrel ver: --");
}

TEST_F(Startup, PlatformStartsItsControlsThenSocketsAndEndsBeforeAnyWindowWhenSocketsFail) {
    struct RecordingStartup : AppStartup {
        bool socketsWork = true;
        std::vector<std::string> calls;
        void initCommonControls() override { calls.emplace_back("controls"); }
        bool initSockets() override {
            calls.emplace_back("sockets");
            return socketsWork;
        }
    };
    sim::SimulatedOstrel& controller = plugController();
    for (const bool socketsWork : {true, false}) {
        SCOPED_TRACE(socketsWork ? "sockets start" : "sockets fail");
        RecordingStartup startup;
        startup.socketsWork = socketsWork;
        RecordingWindow window;
        bool sessionRan = false;
        window.setSession([&](RecordingWindow&) { sessionRan = true; });
        COstrelApp app(m_platform, window, m_diagnostics, &startup);
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(startup.calls, (std::vector<std::string>{"controls", "sockets"}));
        EXPECT_EQ(sessionRan, socketsWork);
        EXPECT_EQ(window.messageBoxTexts(),
                  socketsWork ? std::vector<std::string>{}
                              : std::vector<std::string>{"Windows sockets initialization failed."});
    }
    // Only the run that opened a window talked to the controller.
    EXPECT_EQ(controller.device().writes().size(), 1u);
    EXPECT_EQ(controller.device().openHandles(), 0);
}

}  // namespace
