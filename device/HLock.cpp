#include "device/HLock.h"

#include <system_error>

bool HLock::enter() {
    try {
        m_mutex.lock();
        return true;
    } catch (const std::system_error&) {
        // The mutex refused (e.g. its recursion count is exhausted): the caller goes
        // without the lock and must not touch what it guards.
        return false;
    }
}

void HLock::leave() {
    m_mutex.unlock();
}
