// A re-entrant lock.
#pragma once

#include <mutex>

class HLock {
public:
    HLock() = default;
    HLock(const HLock&) = delete;
    HLock& operator=(const HLock&) = delete;

    // False when the lock could not be taken (the platform refused it).
    bool enter();
    void leave();

private:
    std::recursive_mutex m_mutex;
};
