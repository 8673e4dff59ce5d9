// One controller as ostrelctl talks to it: found as the window finds it, opened through the
// channel and the device interface, and asked one question at a time. Every answer is
// waited for with a deadline and a bounded number of attempts, so a silent controller is an
// outcome, not a hang.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "device/HIDDescriptor.h"
#include "device/HIDDevice.h"
#include "device/HIDOstrel.h"
#include "device/Wire.h"
#include "params/ParamTable.h"
#include "params/ValueCodec.h"
#include "platform/HidPlatform.h"

namespace ctl {

enum class Outcome {
    Ok,
    Lost,     // the device is gone
    Timeout,  // no answer within the deadline, all attempts spent
    Refused,  // the system refused to write a frame, with the device still there
};

// The device interface with a wake-up for whoever waits for its next report.
class WaitingInterface final : public HIDOstrel {
public:
    explicit WaitingInterface(HIDDevice* device);
    ~WaitingInterface() override;

    void onReport(const HArray& report) override;
    void onDisconnect() override;

    // The oldest queued report; waits for one until `deadline`. Null when none came.
    std::unique_ptr<HArray> nextReport(std::chrono::steady_clock::time_point deadline);

private:
    void arrived();

    std::mutex m_mutex;
    std::condition_variable m_arrival;
    std::uint64_t m_arrivals = 0;
};

class Controller {
public:
    struct Options {
        // The longest one answer may take, all attempts together.
        std::chrono::milliseconds timeout{1000};
        int attempts = 3;
    };

    enum class Found {
        One,
        Unopened,  // the system would not open it
        Moved,     // once open, its path no longer named a controller at its location
    };

    Controller(platform::HidPlatform& platform, ParamTable& table, const Options& options);
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    // Opens exactly the chosen controller (see selectControllers) and nothing else.
    Found open(const HIDDescriptor& chosen);
    // Claims the opened controller for this program (named `program` to others) until
    // this object goes: waits up to `wait` for another holder to let go, ending early
    // when `interrupted` turns true.
    platform::ClaimResult claim(const char* program, std::chrono::milliseconds wait,
                                const std::atomic<bool>& interrupted);

    // A status report; applies its firmware version to the table before returning it.
    Outcome status(StatusReport& status);
    // The parameter report of the row's address.
    Outcome read(const ParamDef& row, ParamReport& value);
    // The write frame; Lost when the device turned out to be gone.
    Outcome write(const ParamDef& row, const EncodedValue& value);
    // The read after a write of `wanted`. Answers carry no request number: one that
    // disagrees may be a late answer to a request from before the write, so the value is
    // read once more, after the controller has been quiet, before it counts.
    Outcome readBack(const ParamDef& row, const EncodedValue& wanted, ParamReport& value);

    // The error of the last refused write, as the system gave it.
    std::uint32_t refusal() const { return m_refusal; }
    // The system's error of this thread's last failed platform call.
    std::uint32_t lastError() const { return m_platform.lastError(); }

private:
    enum class Want { Status, Param };
    Outcome ask(Want want, std::uint8_t address, int size, HArray& answer);
    bool drain();  // false when a disconnect event was queued
    // Outcome of a send: Ok, Refused (keeping the system's error) or Lost.
    Outcome sent(bool written);
    // Takes reports until none came for one attempt's time (at most the whole timeout).
    void settle();

    platform::HidPlatform& m_platform;
    ParamTable& m_table;
    Options m_options;
    std::unique_ptr<HIDDevice> m_channel;
    std::unique_ptr<WaitingInterface> m_interface;
    bool m_lost = false;
    std::uint32_t m_refusal = 0;
    // Released after the channel has closed.
    std::unique_ptr<platform::HidClaim> m_claim;
};

}  // namespace ctl
