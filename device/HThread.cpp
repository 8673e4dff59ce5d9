#include "device/HThread.h"

#include <chrono>
#include <system_error>

namespace {

constexpr std::uint32_t THREAD_POLL_MS = 10;
constexpr int THREAD_DESTROY_POLLS = 501;  // about 5 s: the destructor never waits forever

void pollPause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(THREAD_POLL_MS));
}

}  // namespace

HThread::HThread() : m_flags(std::make_shared<Flags>()) {}

HThread::~HThread() {
    m_flags->running = false;
    // A thread that stop() already gave up on is not waited for a second time: closing a
    // channel whose reader hangs takes one timeout, not two.
    const bool held = m_thread.joinable();
    for (int polls = 0; held && polls < THREAD_DESTROY_POLLS && !m_flags->finished; ++polls) {
        pollPause();
    }
    release();
}

bool HThread::start() {
    if (!m_flags->finished) {
        return true;
    }
    // A body that returned earlier leaves its thread to be collected before a new one.
    release();
    m_flags->running = true;
    m_flags->finished = false;
    try {
        // The entry keeps its own reference to the flags: after run() returns it touches
        // nothing of the object, which may be gone by then.
        m_thread = std::thread([this, flags = m_flags] {
            run();
            flags->running = false;
            flags->finished = true;
        });
    } catch (const std::system_error&) {
        m_flags->running = false;
        m_flags->finished = true;
        return false;
    }
    return true;
}

bool HThread::stop(std::uint32_t timeoutMs) {
    m_flags->running = false;
    const std::uint32_t polls = timeoutMs / THREAD_POLL_MS;
    for (std::uint32_t slept = 0; !m_flags->finished; ++slept) {
        if (timeoutMs != WAIT_FOREVER && slept > polls) {
            break;
        }
        pollPause();
    }
    release();
    return m_flags->finished;
}

bool HThread::running() const {
    return m_flags->running;
}

bool HThread::finished() const {
    return m_flags->finished;
}

void HThread::run() {}

void HThread::release() {
    if (!m_thread.joinable()) {
        return;
    }
    if (m_flags->finished) {
        // The body has returned; joining only waits for the thread to leave its entry.
        m_thread.join();
    } else {
        // The body is still executing and holds its own share of everything it uses.
        m_thread.detach();
    }
}
