// Polls a condition another thread makes true; false when it did not within the limit.
#pragma once

#include <chrono>
#include <thread>

template <typename Predicate>
bool waitFor(Predicate condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
