#include "sim/TraceRunner.h"

#include <utility>

namespace sim {

TraceRunner::TraceRunner(Trace trace) : m_trace(std::move(trace)) {}

TraceRunner::~TraceRunner() {
    stop();
}

void TraceRunner::add(OstrelFirmware& controller) {
    std::lock_guard lock(m_mutex);
    m_controllers.push_back(&controller);
    if (m_now.fields != 0) {
        controller.setMeasurements(applyStep(m_now, controller.measurements()));
    }
}

std::chrono::milliseconds TraceRunner::nextDue() const {
    return m_round + m_trace.steps[m_next].at;
}

std::size_t TraceRunner::applyUntil(std::chrono::milliseconds elapsed) {
    std::lock_guard lock(m_mutex);
    const std::chrono::milliseconds length = m_trace.length;
    // A trace put together by hand may have no loop to play: nothing is due in it.
    if (m_trace.steps.empty() || length <= std::chrono::milliseconds(0)) {
        return 0;
    }
    std::size_t done = 0;
    while (nextDue() <= elapsed) {
        if (m_next == 0 && elapsed - m_round >= 2 * length) {
            // A round leaves every field it names at its last value in it, whatever came
            // before: of the rounds wholly past, the last alone is played.
            m_round += (elapsed - m_round) / length * length - length;
        }
        const TraceStep& step = m_trace.steps[m_next];
        for (std::size_t i = 0; i < TRACE_FIELD_COUNT; ++i) {
            const auto field = static_cast<TraceField>(i);
            if (step.sets(field)) {
                m_now.set(field, step.value(field));
            }
        }
        ++done;
        if (++m_next == m_trace.steps.size()) {
            m_next = 0;
            m_round += length;
        }
    }
    if (done != 0) {
        for (OstrelFirmware* controller : m_controllers) {
            controller->setMeasurements(applyStep(m_now, controller->measurements()));
        }
    }
    return done;
}

void TraceRunner::start() {
    stop();
    {
        std::lock_guard lock(m_mutex);
        m_stop = false;
        m_round = std::chrono::milliseconds(0);
        m_next = 0;
    }
    const auto begin = std::chrono::steady_clock::now();
    applyUntil(std::chrono::milliseconds(0));
    m_thread = std::thread([this, begin] { run(begin); });
}

void TraceRunner::run(std::chrono::steady_clock::time_point start) {
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_trace.steps.empty() || m_trace.length <= std::chrono::milliseconds(0)) {
                return;
            }
            if (m_stopped.wait_until(lock, start + nextDue(), [this] { return m_stop; })) {
                return;
            }
        }
        applyUntil(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start));
    }
}

void TraceRunner::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_stopped.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

}  // namespace sim
