// An in-memory HID system: any number of simulated devices behind the HidPlatform
// interface, with switches that make each of them misbehave the way real devices and
// drivers can. Used by the unit tests and the demo program. Thread-safe: the reader
// thread reads while the user-interface thread writes and the test drives the device.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/HidPlatform.h"

namespace platform {

// Error codes the simulated system reports through lastError() unless a test gives its own.
inline constexpr std::uint32_t SIM_ERROR_NO_DEVICE = 19;  // no such path, or unplugged
inline constexpr std::uint32_t SIM_ERROR_IO = 5;          // a failure the test asked for
inline constexpr std::uint32_t SIM_ERROR_BUFFER = 122;    // a path buffer too small for the path

struct SimIdentity {
    // Empty: the platform gives the device a unique path of its own.
    std::string path;
    // Where the device is plugged, as HidInterfaceSet::location() gives it; empty for a
    // device on no port.
    std::string location;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t version = 0;
    // Absent: reading that string fails.
    std::optional<std::u16string> manufacturer;
    std::optional<std::u16string> product;
    std::optional<std::u16string> serial;
    // Byte lengths as HidCaps counts them (report-id byte included).
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
};

// Ways a device can misbehave; all off by default.
struct SimBehaviour {
    bool openProbeFails = false;
    bool openWriteFails = false;
    bool openReadFails = false;
    bool attributesFail = false;
    bool capabilitiesFail = false;
    // Every write fails with WriteStatus::Failed and this error (the device stays plugged).
    bool writesFail = false;
    std::uint32_t writeError = SIM_ERROR_IO;
};

class SimHidPlatform;
class SimWatchHub;

class SimDevice {
public:
    explicit SimDevice(SimIdentity identity);
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    const SimIdentity& identity() const { return m_identity; }

    void setBehaviour(const SimBehaviour& behaviour);
    SimBehaviour behaviour() const;

    // Zero (the default): queued input is there for the next read at once. Otherwise each
    // chunk reaches a read no sooner than one interval after it was queued and one interval
    // after the chunk before it, as a host polling an interrupt endpoint takes one report
    // per interval.
    void setInputInterval(std::chrono::microseconds interval);

    // Queues one chunk for one read to return: a whole report, part of one, nothing (an
    // empty chunk), or more than the reader asked for. A chunk longer than the reader's
    // buffer is cut to fit, but the read still claims its whole length, as a misbehaving
    // driver might.
    void queueInput(std::span<const std::uint8_t> bytes);
    std::size_t pendingInput() const;

    // The device is gone: blocked and later reads return nothing at once, writes fail with
    // WriteStatus::NotConnected, opening fails, and new interface sets leave it out. The
    // platform's watches hear of it, with its path. For good: plugging in again is a new
    // device (SimHidPlatform::addDevice), as the system sees it.
    void unplug();
    bool plugged() const;

    // The output reports that reached the device, in order, as written: the last
    // DEFAULT_WRITE_LOG_LIMIT (or setWriteLogLimit's) of them, so that a long-running
    // program's memory stays bounded.
    std::vector<std::vector<std::uint8_t>> writes() const;
    // All output reports since the start or the last clearWrites(), kept or not.
    std::size_t writeCount() const;
    void clearWrites();
    // Zero keeps every report (DEFAULT_WRITE_LOG_LIMIT by default).
    static constexpr std::size_t DEFAULT_WRITE_LOG_LIMIT = 4096;
    void setWriteLogLimit(std::size_t limit);

    // Receives every output report that reached the device, on the writing thread, with
    // no lock of the device held (it may queue input). Replacing the hook waits for a call
    // in progress to end, so after setWriteHook({}) the old hook is never called again.
    using WriteHook = std::function<void(std::span<const std::uint8_t>)>;
    void setWriteHook(WriteHook hook);

    // Handles of this device currently open, reads currently blocked waiting for input, and
    // reads that have returned since the device was added.
    int openHandles() const;
    int blockedReads() const;
    std::uint64_t readsDone() const;

private:
    friend class SimHidHandle;
    friend class SimHidPlatform;

    const SimIdentity m_identity;
    mutable std::mutex m_mutex;
    std::condition_variable m_inputArrived;
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        std::chrono::steady_clock::time_point due;  // when a read may take it
    };
    std::deque<Chunk> m_input;
    std::chrono::microseconds m_inputInterval{0};
    std::chrono::steady_clock::time_point m_lastDue;
    std::deque<std::vector<std::uint8_t>> m_writes;
    std::size_t m_writeCount = 0;
    std::size_t m_writeLogLimit = DEFAULT_WRITE_LOG_LIMIT;
    SimBehaviour m_behaviour;
    bool m_plugged = true;
    int m_openHandles = 0;
    int m_blockedReads = 0;
    std::uint64_t m_readsDone = 0;

    std::recursive_mutex m_hookMutex;  // serialises hook calls with replacing the hook
    WriteHook m_hook;
    // Set by the platform before anyone else sees the device.
    std::shared_ptr<SimWatchHub> m_watches;
};

// The set-up steps of a scan, in the order a scan takes them.
enum class SimScanStep {
    PresentInterfaces,  // taking the set of present interfaces
    InterfaceAt,        // walking to an interface of the set
    PathSize,           // asking for the size of its path
    Path,               // fetching its path
};

class SimHidPlatform final : public HidPlatform {
public:
    SimHidPlatform();
    ~SimHidPlatform() override;
    SimHidPlatform(const SimHidPlatform&) = delete;
    SimHidPlatform& operator=(const SimHidPlatform&) = delete;

    // Plugs in a new device; interface sets list plugged devices in the order they were
    // added. The platform's watches hear of it. `prepare` runs first, before anyone can
    // find the device (to give it its hook, so that no frame can miss it).
    std::shared_ptr<SimDevice> addDevice(
        SimIdentity identity,
        const std::function<void(const std::shared_ptr<SimDevice>&)>& prepare = {});
    std::vector<std::shared_ptr<SimDevice>> devices() const;

    // Makes `step` fail with `error` for the interface at `index` of every later set (for
    // PresentInterfaces the index is ignored and taking the set fails).
    void failScanStep(SimScanStep step, std::uint32_t index, std::uint32_t error);
    // Makes the interface at `index` claim a path of `size` bytes (an absurd size makes
    // the allocation of the path buffer fail).
    void setPathSize(std::uint32_t index, std::size_t size);
    void clearScanFaults();

    // On (the default): sleepMs() sleeps for real. Off: it only yields, for stress tests.
    void setRealSleep(bool real);
    std::uint64_t sleepCalls() const;

    // Who holds the claim of `path` (an empty program: nobody). Claims live in this object,
    // so two programs on one simulated system exclude each other as two processes would.
    ClaimHolder claimHolder(const std::string& path) const;

    // On (the default): watch() gives a watch that hears of every addDevice and unplug.
    // Off: watch() gives none, as a system without notifications.
    void setNotifications(bool on);
    // Every watch made so far breaks down: its next wait returns WatchStatus::Failed.
    void failWatches();

    // HidPlatform
    std::unique_ptr<HidInterfaceSet> presentInterfaces() override;
    std::unique_ptr<HidHandle> open(const char* path, OpenMode mode) override;
    std::uint32_t lastError() const override;
    void sleepMs(std::uint32_t milliseconds) override;
    ClaimResult claim(const char* path, const char* program) override;
    std::unique_ptr<HidWatch> watch() override;

private:
    friend class SimClaim;

    struct ScanFault {
        SimScanStep step;
        std::uint32_t index;
        std::uint32_t error;
    };

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<SimDevice>> m_devices;
    std::vector<ScanFault> m_faults;
    std::vector<std::pair<std::uint32_t, std::size_t>> m_pathSizes;
    std::uint32_t m_nextPathNumber = 0;
    std::map<std::string, ClaimHolder> m_claims;
    std::atomic<bool> m_realSleep{true};
    std::atomic<std::uint64_t> m_sleepCalls{0};
    std::atomic<bool> m_notifications{true};
    const std::shared_ptr<SimWatchHub> m_watches;
};

}  // namespace platform
