// A listener that keeps everything the channel gives it, for tests of the channel.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "device/HIDDevice.h"
#include "device/HIDInterface.h"

class Recorder final : public HIDInterface {
public:
    explicit Recorder(HIDDevice* device) : HIDInterface(device) { attach(); }
    ~Recorder() override { detach(); }

    void onReport(const HArray& report) override {
        std::lock_guard lock(m_mutex);
        m_reports.emplace_back(report.bytes().begin(), report.bytes().end());
    }
    void onDisconnect() override { ++m_disconnects; }

    std::vector<std::vector<std::uint8_t>> reports() const {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }
    int disconnects() const { return m_disconnects; }

private:
    mutable std::mutex m_mutex;
    std::vector<std::vector<std::uint8_t>> m_reports;
    std::atomic<int> m_disconnects{0};
};
