// A plug plan: simulated controllers plugged in and pulled out on a clock, so that a
// program that waits for controllers can be watched at work without hardware. Written as
// a comma list of plug:N@SECONDS and unplug:N@SECONDS, controller sim-N plugged in or
// pulled out so many seconds after the start: "plug:1@0.5,plug:2@1,unplug:1@3,plug:1@4". A
// plug may give the controller a USB serial number string: "plug:1@0.5=SN0001".
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/sim/SimHidPlatform.h"
#include "sim/SimulatedOstrel.h"

namespace sim {

// The most simulated controllers one program runs, numbered 1 to this.
inline constexpr int SIM_MAX_CONTROLLERS = 16;
// The latest time a plan may name: a day.
inline constexpr std::chrono::milliseconds PLUG_PLAN_MAX_TIME = std::chrono::hours(24);

// The longest serial number a plan gives, as a USB string descriptor can hold.
inline constexpr std::size_t PLUG_PLAN_MAX_SERIAL = 126;

enum class PlugAction { Plug, Unplug };

struct PlugStep {
    PlugAction action = PlugAction::Plug;
    int controller = 0;               // N of sim-N
    std::chrono::milliseconds at{0};  // after the start
    std::string serial;               // a plug's new serial number; empty: as it was

    bool operator==(const PlugStep&) const = default;
};

// The steps of `text` in the order they happen (steps at the same time in the order
// written), or nothing with `error` saying which item is wrong and why: an item that is
// not ACTION:N@SECONDS, an action other than plug and unplug, N outside 1 to
// SIM_MAX_CONTROLLERS, seconds that are not a plain decimal number with at most three
// decimals (no sign, exponent, hexadecimal, infinity or NaN) or later than a day, a serial
// (plug:N@SECONDS=SERIAL) that is not 1 to PLUG_PLAN_MAX_SERIAL letters, digits, '.', '-'
// and '_' or is given to an unplug, a plug of a controller already plugged in, an unplug of
// one that is not.
std::optional<std::vector<PlugStep>> parsePlugPlan(std::string_view text, std::string& error);

// Carries a plan out on `platform`: controller sim-N is made at its first plug (with the
// controller's real identity, at location "sim-N") and plugged in again with its memory
// kept at each later one (SimulatedOstrel::replug), with the serial number a plug gives. The
// controllers go, unplugged, with the runner, which must go before the platform.
class PlugPlanRunner {
public:
    // What becomes of each controller as it is made, before the plan goes on: the firmware
    // version a program was asked for, say.
    using Prepare = std::function<void(SimulatedOstrel&)>;

    // `busTiming`: the controllers answer at the bus's pace (SimulatedOstrel::setBusTiming).
    PlugPlanRunner(platform::SimHidPlatform& platform, std::vector<PlugStep> plan,
                   bool busTiming = false, Prepare prepare = {});
    ~PlugPlanRunner();
    PlugPlanRunner(const PlugPlanRunner&) = delete;
    PlugPlanRunner& operator=(const PlugPlanRunner&) = delete;

    // Carries out every step due by `elapsed` after the start that is not done yet; how
    // many that were. For a clock of the caller's own; do not mix with start().
    std::size_t applyUntil(std::chrono::milliseconds elapsed);
    // Starts the plan's clock now: a thread of its own carries each step out when due,
    // until the last one or stop().
    void start();
    // Ends the clock's thread; steps not yet due stay undone. The controllers stay as they are.
    void stop();
    // Every step carried out.
    bool finished() const;

    // Controller sim-N, once the plan has plugged it in; null before. Valid as long as the
    // runner.
    SimulatedOstrel* controller(int number) const;

private:
    void run(std::chrono::steady_clock::time_point start);

    platform::SimHidPlatform& m_platform;
    const std::vector<PlugStep> m_plan;
    const bool m_busTiming;
    const Prepare m_prepare;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stop = false;
    std::size_t m_next = 0;  // the first step not done
    std::map<int, std::unique_ptr<SimulatedOstrel>> m_controllers;
    std::thread m_thread;
};

}  // namespace sim
