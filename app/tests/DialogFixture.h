// The main window on the recording window, connected to simulated controllers on the
// simulated HID system, with a watch on the device interface's life.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "app/COstrelDlg.h"
#include "app/Resource.h"
#include "app/StringTable.h"
#include "app/tests/RecordingWindow.h"
#include "device/Wire.h"
#include "params/ParamTable.h"
#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"
#include "tests/support/Reports.h"

using Report = ReportBytes;

// What the tests learn about the device interface the dialog made.
struct InterfaceWatch {
    std::atomic<int> delivered{0};  // reports the channel handed over
    bool deleted = false;
    int channelHandlesAtDeletion = -1;  // device handles still open when it went
    std::function<int()> openHandles;
};

class WatchedOstrel : public HIDOstrel {
public:
    WatchedOstrel(HIDDevice* channel, InterfaceWatch& watch)
        : HIDOstrel(channel, DeferAttach{}), m_watch(watch) {
        attach();
    }
    ~WatchedOstrel() override {
        // Detached first, so that no delivery reaches this object while it goes.
        detach();
        m_watch.deleted = true;
        m_watch.channelHandlesAtDeletion = m_watch.openHandles ? m_watch.openHandles() : -1;
    }
    void onReport(const HArray& report) override {
        HIDOstrel::onReport(report);
        ++m_watch.delivered;
    }

private:
    InterfaceWatch& m_watch;
};

class WatchedDlg : public COstrelDlg {
public:
    WatchedDlg(const Environment& environment, InterfaceWatch& watch)
        : COstrelDlg(environment), m_watch(watch) {}

protected:
    std::unique_ptr<HIDOstrel> createDeviceInterface(HIDDevice& channel) override {
        return std::make_unique<WatchedOstrel>(&channel, m_watch);
    }

private:
    InterfaceWatch& m_watch;
};

class DialogFixture : public ::testing::Test {
protected:
    DialogFixture() : m_diagnostics(std::tmpfile()) {}
    ~DialogFixture() override {
        if (m_window.shown() && !m_window.destroyed()) {
            m_window.destroy();
        }
        m_dialog.reset();
        if (m_diagnostics != nullptr) {
            std::fclose(m_diagnostics);
        }
    }

    sim::SimulatedOstrel& plugController(std::uint16_t productId = OSTREL_PRODUCT_ID) {
        m_controllers.push_back(std::make_unique<sim::SimulatedOstrel>(m_platform, productId));
        return *m_controllers.back();
    }

    // Makes the dialog and runs its initialisation, as the window does when it opens.
    void openWindow(COstrelDlg::StringLoader strings = &loadStringResource) {
        m_watch.openHandles = [this] {
            int handles = 0;
            for (const auto& device : m_platform.devices()) {
                handles += device->openHandles();
            }
            return handles;
        };
        m_dialog = std::make_unique<WatchedDlg>(
            COstrelDlg::Environment{m_platform, m_table, m_window, m_diagnostics, strings},
            m_watch);
        ASSERT_TRUE(m_window.open(*m_dialog));
    }

    // Lets the pump run until `done` holds; false after five seconds.
    bool pumpUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            m_window.tick(TIMER_PUMP);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Waits until `count` reports in all have reached the device interface's queue.
    bool waitDelivered(int count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_watch.delivered.load() < count) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    bool waitFirstStatus() {
        return pumpUntil([this] { return m_window.caption() != TEXT_INITIAL_CAPTION; });
    }

    // The list item that carries row `row`, or -1.
    int itemOfRow(int row) const {
        const auto& data = m_window.control(IDC_PARAM_LIST).itemData;
        for (std::size_t i = 1; i < data.size(); ++i) {
            if (data[i] == row) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    platform::SimHidPlatform m_platform;
    std::vector<std::unique_ptr<sim::SimulatedOstrel>> m_controllers;
    RecordingWindow m_window;
    ParamTable m_table;
    InterfaceWatch m_watch;
    std::FILE* m_diagnostics;
    std::unique_ptr<WatchedDlg> m_dialog;
};
