// A thread object driven by two flags: `running` asks the body to keep going (the body
// polls it), `finished` says no body is executing. Waiting is polling with 10 ms sleeps.
//
// The flags live in a block shared with the thread itself, so a body that outlives its
// object's wait (stop() timed out) never touches freed memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class HThread {
public:
    static constexpr std::uint32_t WAIT_FOREVER = 0xFFFFFFFFu;

    HThread();
    HThread(const HThread&) = delete;
    HThread& operator=(const HThread&) = delete;
    // Asks the body to end and waits about 5 s at most; a body still executing then is
    // left to finish on its own.
    virtual ~HThread();

    // Starts a thread executing run(); true without a second thread while a body executes;
    // false when no thread could be created.
    virtual bool start();
    // Asks the body to end and waits up to `timeoutMs` (WAIT_FOREVER: without limit);
    // returns whether the body has finished.
    virtual bool stop(std::uint32_t timeoutMs);

    bool running() const;
    bool finished() const;

protected:
    struct Flags {
        std::atomic<bool> running{false};
        std::atomic<bool> finished{true};
    };
    // The thread body; the base does nothing.
    virtual void run();
    // For a body that must keep polling `running` safely after its object is gone.
    std::shared_ptr<const Flags> flags() const { return m_flags; }

private:
    void release();

    std::shared_ptr<Flags> m_flags;
    std::thread m_thread;
};
