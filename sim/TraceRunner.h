// Plays a trace (sim/Trace.h) on simulated controllers: each line's values go into every
// controller's measurements when the line is due, on a clock of the caller's own
// (applyUntil) or on the runner's thread (start).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/OstrelFirmware.h"
#include "sim/Trace.h"

namespace sim {

class TraceRunner {
public:
    explicit TraceRunner(Trace trace);
    // Ends the clock's thread; the controllers keep the values they were given last.
    ~TraceRunner();
    TraceRunner(const TraceRunner&) = delete;
    TraceRunner& operator=(const TraceRunner&) = delete;

    // Plays the trace on `controller` too, from its next line on; what the trace has set
    // so far goes to it at once. The controller must outlive the runner. Any thread.
    void add(OstrelFirmware& controller);

    // Carries out every line due by `elapsed` after the start that is not done yet, round
    // after round of the loop, and gives the controllers the values then in force; how many
    // lines that were (rounds passed over whole count once: they leave the same values).
    // For a clock of the caller's own; do not mix with start().
    std::size_t applyUntil(std::chrono::milliseconds elapsed);
    // Starts the trace's clock now from its first line, whose values are in the controllers
    // when it returns; a thread of its own carries out each later line when due, until
    // stop().
    void start();
    void stop();

private:
    void run(std::chrono::steady_clock::time_point start);
    std::chrono::milliseconds nextDue() const;  // under m_mutex

    const Trace m_trace;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stop = false;
    std::vector<OstrelFirmware*> m_controllers;
    TraceStep m_now;                       // every field set so far, with its value in force
    std::chrono::milliseconds m_round{0};  // the start of the round being played
    std::size_t m_next = 0;                // its first line not done
    std::thread m_thread;
};

}  // namespace sim
