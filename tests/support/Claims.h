// What every platform's claims must do: one program's claim excludes another's on the same
// path only, names its holder, and ends with its owner. Each claim is taken and released on
// a thread of its own, as in two programs (a Windows mutex belongs to its thread).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <future>
#include <string>
#include <thread>

#include "platform/HidPlatform.h"

class ClaimingThread {
public:
    ClaimingThread(platform::HidPlatform& hid, std::string path, std::string program)
        : m_thread([this, &hid, path = std::move(path), program = std::move(program),
                    release = m_release.get_future()] {
              platform::ClaimResult result = hid.claim(path.c_str(), program.c_str());
              m_taken.set_value({result.status, nullptr, result.holder});
              release.wait();
          }),
          m_result(m_taken.get_future().get()) {}
    ~ClaimingThread() { release(); }
    ClaimingThread(const ClaimingThread&) = delete;
    ClaimingThread& operator=(const ClaimingThread&) = delete;

    const platform::ClaimResult& operator*() const { return m_result; }
    void release() {
        if (m_thread.joinable()) {
            m_release.set_value();
            m_thread.join();
        }
    }

private:
    std::promise<platform::ClaimResult> m_taken;
    std::promise<void> m_release;
    std::thread m_thread;  // its claim ends with the thread's local result
    platform::ClaimResult m_result;
};

inline void expectClaimsExclude(platform::HidPlatform& hid, const std::string& path,
                                const std::string& other, std::uint32_t pid,
                                const std::string& holderProgram) {
    ClaimingThread window(hid, path, "ostrel");
    ASSERT_EQ((*window).status, platform::ClaimStatus::Held);
    {
        ClaimingThread command(hid, path, "ostrelctl");
        EXPECT_EQ((*command).status, platform::ClaimStatus::Busy);
        EXPECT_EQ((*command).holder.program, holderProgram);
        EXPECT_EQ((*command).holder.pid, pid);
        EXPECT_EQ((*ClaimingThread(hid, other, "ostrelctl")).status, platform::ClaimStatus::Held);
    }
    window.release();
    EXPECT_EQ((*ClaimingThread(hid, path, "ostrelctl")).status, platform::ClaimStatus::Held);
}
