#include "platform/sim/SimHidPlatform.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace platform {

namespace {

// Like the OS's own, the last error belongs to the calling thread.
thread_local std::uint32_t t_lastError = 0;

void setLastError(std::uint32_t error) {
    t_lastError = error;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Watches

// The platform's watches, shared with its devices, which tell of their own unplugging.
// Lock order: the hub's mutex, then a watch's.
class SimWatchHub {
public:
    class Watch final : public HidWatch {
    public:
        explicit Watch(std::shared_ptr<SimWatchHub> hub) : m_hub(std::move(hub)) {}
        ~Watch() override { m_hub->remove(this); }
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

        WatchStatus wait(std::uint32_t timeoutMs, std::vector<std::string>& departed) override {
            std::unique_lock lock(m_mutex);
            m_woken.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this] { return m_cancelled || m_failed || m_changed; });
            if (m_cancelled) {
                return WatchStatus::Cancelled;
            }
            if (m_failed) {
                setLastError(SIM_ERROR_IO);
                return WatchStatus::Failed;
            }
            if (!m_changed) {
                return WatchStatus::TimedOut;
            }
            m_changed = false;
            departed.insert(departed.end(), m_departed.begin(), m_departed.end());
            m_departed.clear();
            return WatchStatus::Changed;
        }

        void cancel() override {
            std::lock_guard lock(m_mutex);
            m_cancelled = true;
            m_woken.notify_all();
        }

        // A device came (no path) or went (its path).
        void post(const std::string* departed) {
            std::lock_guard lock(m_mutex);
            m_changed = true;
            if (departed != nullptr) {
                m_departed.push_back(*departed);
            }
            m_woken.notify_all();
        }

        void fail() {
            std::lock_guard lock(m_mutex);
            m_failed = true;
            m_woken.notify_all();
        }

    private:
        const std::shared_ptr<SimWatchHub> m_hub;
        std::mutex m_mutex;
        std::condition_variable m_woken;
        bool m_changed = false;
        bool m_cancelled = false;
        bool m_failed = false;
        std::vector<std::string> m_departed;
    };

    void add(Watch* watch) {
        std::lock_guard lock(m_mutex);
        m_list.push_back(watch);
    }

    void remove(Watch* watch) {
        std::lock_guard lock(m_mutex);
        m_list.erase(std::remove(m_list.begin(), m_list.end(), watch), m_list.end());
    }

    void post(const std::string* departed) {
        std::lock_guard lock(m_mutex);
        for (Watch* watch : m_list) {
            watch->post(departed);
        }
    }

    void fail() {
        std::lock_guard lock(m_mutex);
        for (Watch* watch : m_list) {
            watch->fail();
        }
    }

private:
    std::mutex m_mutex;
    std::vector<Watch*> m_list;
};

// ---------------------------------------------------------------------------------------
// SimDevice

SimDevice::SimDevice(SimIdentity identity) : m_identity(std::move(identity)) {}

void SimDevice::setBehaviour(const SimBehaviour& behaviour) {
    std::lock_guard lock(m_mutex);
    m_behaviour = behaviour;
}

SimBehaviour SimDevice::behaviour() const {
    std::lock_guard lock(m_mutex);
    return m_behaviour;
}

void SimDevice::setInputInterval(std::chrono::microseconds interval) {
    std::lock_guard lock(m_mutex);
    m_inputInterval = interval;
}

void SimDevice::queueInput(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(m_mutex);
    if (!m_plugged) {
        return;  // nothing arrives from a device that is gone
    }
    std::chrono::steady_clock::time_point due{};
    if (m_inputInterval.count() > 0) {
        due = std::max(std::chrono::steady_clock::now(), m_lastDue) + m_inputInterval;
        m_lastDue = due;
    }
    m_input.push_back({std::vector<std::uint8_t>(bytes.begin(), bytes.end()), due});
    m_inputArrived.notify_all();
}

std::size_t SimDevice::pendingInput() const {
    std::lock_guard lock(m_mutex);
    return m_input.size();
}

void SimDevice::unplug() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_plugged) {
            return;
        }
        m_plugged = false;
        m_input.clear();
        m_inputArrived.notify_all();
    }
    if (m_watches) {
        m_watches->post(&m_identity.path);
    }
}

bool SimDevice::plugged() const {
    std::lock_guard lock(m_mutex);
    return m_plugged;
}

std::vector<std::vector<std::uint8_t>> SimDevice::writes() const {
    std::lock_guard lock(m_mutex);
    return {m_writes.begin(), m_writes.end()};
}

std::size_t SimDevice::writeCount() const {
    std::lock_guard lock(m_mutex);
    return m_writeCount;
}

void SimDevice::clearWrites() {
    std::lock_guard lock(m_mutex);
    m_writes.clear();
    m_writeCount = 0;
}

void SimDevice::setWriteLogLimit(std::size_t limit) {
    std::lock_guard lock(m_mutex);
    m_writeLogLimit = limit;
    while (m_writeLogLimit != 0 && m_writes.size() > m_writeLogLimit) {
        m_writes.pop_front();
    }
}

void SimDevice::setWriteHook(WriteHook hook) {
    std::lock_guard lock(m_hookMutex);
    m_hook = std::move(hook);
}

int SimDevice::openHandles() const {
    std::lock_guard lock(m_mutex);
    return m_openHandles;
}

int SimDevice::blockedReads() const {
    std::lock_guard lock(m_mutex);
    return m_blockedReads;
}

std::uint64_t SimDevice::readsDone() const {
    std::lock_guard lock(m_mutex);
    return m_readsDone;
}

// ---------------------------------------------------------------------------------------
// Handles

class SimHidHandle final : public HidHandle {
public:
    SimHidHandle(std::shared_ptr<SimDevice> device, OpenMode mode)
        : m_device(std::move(device)), m_mode(mode) {
        std::lock_guard lock(m_device->m_mutex);
        ++m_device->m_openHandles;
    }

    ~SimHidHandle() override {
        std::lock_guard lock(m_device->m_mutex);
        --m_device->m_openHandles;
    }

    SimHidHandle(const SimHidHandle&) = delete;
    SimHidHandle& operator=(const SimHidHandle&) = delete;

    bool attributes(HidAttributes& attributes) override {
        std::lock_guard lock(m_device->m_mutex);
        if (!m_device->m_plugged || m_device->m_behaviour.attributesFail) {
            setLastError(m_device->m_plugged ? SIM_ERROR_IO : SIM_ERROR_NO_DEVICE);
            return false;
        }
        const SimIdentity& id = m_device->m_identity;
        attributes = {id.vendorId, id.productId, id.version};
        return true;
    }

    bool manufacturerString(char16_t* buffer, std::size_t units) override {
        return copyString(m_device->m_identity.manufacturer, buffer, units);
    }

    bool productString(char16_t* buffer, std::size_t units) override {
        return copyString(m_device->m_identity.product, buffer, units);
    }

    bool serialNumberString(char16_t* buffer, std::size_t units) override {
        return copyString(m_device->m_identity.serial, buffer, units);
    }

    bool capabilities(HidCaps& caps) override {
        std::lock_guard lock(m_device->m_mutex);
        if (!m_device->m_plugged || m_device->m_behaviour.capabilitiesFail) {
            setLastError(m_device->m_plugged ? SIM_ERROR_IO : SIM_ERROR_NO_DEVICE);
            return false;
        }
        const SimIdentity& id = m_device->m_identity;
        caps = {id.inputReportByteLength, id.outputReportByteLength, 0};
        return true;
    }

    ReadResult read(std::uint8_t* buffer, std::size_t length) override {
        ReadResult result;
        if (m_mode == OpenMode::Write) {
            setLastError(SIM_ERROR_IO);
            return result;
        }
        std::unique_lock lock(m_device->m_mutex);
        for (;;) {
            if (m_cancelled || !m_device->m_plugged) {
                break;
            }
            const bool queued = !m_device->m_input.empty();
            const auto due =
                queued ? m_device->m_input.front().due : std::chrono::steady_clock::time_point{};
            if (queued && due <= std::chrono::steady_clock::now()) {
                break;
            }
            result.waited = true;
            ++m_device->m_blockedReads;
            if (queued) {
                m_device->m_inputArrived.wait_until(lock, due);
            } else {
                m_device->m_inputArrived.wait(lock);
            }
            --m_device->m_blockedReads;
        }
        ++m_device->m_readsDone;
        if (m_cancelled || !m_device->m_plugged) {
            setLastError(m_cancelled ? SIM_ERROR_IO : SIM_ERROR_NO_DEVICE);
            return result;
        }
        const std::vector<std::uint8_t> chunk = std::move(m_device->m_input.front().bytes);
        m_device->m_input.pop_front();
        // Only what fits is copied; the count is the chunk's own, as a broken driver
        // might claim.
        if (buffer != nullptr) {
            std::copy_n(chunk.begin(), std::min(chunk.size(), length), buffer);
        }
        result.bytes = chunk.size();
        return result;
    }

    void cancelRead() override {
        std::lock_guard lock(m_device->m_mutex);
        m_cancelled = true;
        m_device->m_inputArrived.notify_all();
    }

    WriteStatus write(const std::uint8_t* data, std::size_t length) override {
        {
            std::lock_guard lock(m_device->m_mutex);
            if (!m_device->m_plugged) {
                setLastError(SIM_ERROR_NO_DEVICE);
                return WriteStatus::NotConnected;
            }
            // Like the OS, only a whole output report goes out, and only on a handle
            // opened for writing.
            if (m_mode == OpenMode::Read || m_device->m_behaviour.writesFail ||
                length != m_device->m_identity.outputReportByteLength || data == nullptr) {
                setLastError(m_device->m_behaviour.writesFail ? m_device->m_behaviour.writeError
                                                              : SIM_ERROR_IO);
                return WriteStatus::Failed;
            }
            m_device->m_writes.emplace_back(data, data + length);
            ++m_device->m_writeCount;
            if (m_device->m_writeLogLimit != 0 &&
                m_device->m_writes.size() > m_device->m_writeLogLimit) {
                m_device->m_writes.pop_front();
            }
        }
        std::lock_guard hookLock(m_device->m_hookMutex);
        if (m_device->m_hook) {
            // A copy, so that a hook replacing itself does not destroy what is executing.
            const SimDevice::WriteHook hook = m_device->m_hook;
            hook(std::span<const std::uint8_t>(data, length));
        }
        return WriteStatus::Ok;
    }

private:
    bool copyString(const std::optional<std::u16string>& text, char16_t* buffer,
                    std::size_t units) {
        {
            std::lock_guard lock(m_device->m_mutex);
            if (!m_device->m_plugged) {
                setLastError(SIM_ERROR_NO_DEVICE);
                return false;
            }
        }
        if (!text || buffer == nullptr || units == 0) {
            setLastError(SIM_ERROR_IO);
            return false;
        }
        // Cut to fit; the terminator goes in only when there is room for it.
        const std::size_t count = std::min(text->size(), units);
        std::copy_n(text->begin(), count, buffer);
        if (count < units) {
            buffer[count] = u'\0';
        }
        return true;
    }

    const std::shared_ptr<SimDevice> m_device;
    const OpenMode m_mode;
    bool m_cancelled = false;  // guarded by the device's mutex
};

// ---------------------------------------------------------------------------------------
// Interface sets

namespace {

struct ScanFaultCopy {
    SimScanStep step;
    std::uint32_t index;
    std::uint32_t error;
};

class SimInterfaceSet final : public HidInterfaceSet {
public:
    SimInterfaceSet(std::vector<std::string> paths, std::vector<std::string> locations,
                    std::vector<ScanFaultCopy> faults,
                    std::vector<std::pair<std::uint32_t, std::size_t>> pathSizes)
        : m_paths(std::move(paths)),
          m_locations(std::move(locations)),
          m_faults(std::move(faults)),
          m_pathSizes(std::move(pathSizes)) {}

    Status interfaceAt(std::uint32_t index) override {
        if (failed(SimScanStep::InterfaceAt, index)) {
            return Status::Failed;
        }
        return index < m_paths.size() ? Status::Ok : Status::NoMoreItems;
    }

    Status pathSize(std::uint32_t index, std::size_t& size) override {
        if (failed(SimScanStep::PathSize, index)) {
            return Status::Failed;
        }
        if (index >= m_paths.size()) {
            return Status::NoMoreItems;
        }
        size = m_paths[index].size() + 1;
        for (const auto& [at, claimed] : m_pathSizes) {
            if (at == index) {
                size = claimed;
            }
        }
        return Status::Ok;
    }

    Status path(std::uint32_t index, char* buffer, std::size_t size) override {
        if (failed(SimScanStep::Path, index)) {
            return Status::Failed;
        }
        if (index >= m_paths.size()) {
            return Status::NoMoreItems;
        }
        const std::string& text = m_paths[index];
        if (buffer == nullptr || size < text.size() + 1) {
            setLastError(SIM_ERROR_BUFFER);
            return Status::Failed;
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return Status::Ok;
    }

    std::string location(std::uint32_t index) override {
        return index < m_locations.size() ? m_locations[index] : std::string();
    }

private:
    bool failed(SimScanStep step, std::uint32_t index) const {
        for (const ScanFaultCopy& fault : m_faults) {
            if (fault.step == step && fault.index == index) {
                setLastError(fault.error);
                return true;
            }
        }
        return false;
    }

    std::vector<std::string> m_paths;
    std::vector<std::string> m_locations;
    std::vector<ScanFaultCopy> m_faults;
    std::vector<std::pair<std::uint32_t, std::size_t>> m_pathSizes;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Claims

class SimClaim final : public HidClaim {
public:
    SimClaim(SimHidPlatform& platform, std::string path)
        : m_platform(platform), m_path(std::move(path)) {}
    ~SimClaim() override {
        std::lock_guard lock(m_platform.m_mutex);
        m_platform.m_claims.erase(m_path);
    }
    SimClaim(const SimClaim&) = delete;
    SimClaim& operator=(const SimClaim&) = delete;

private:
    SimHidPlatform& m_platform;
    const std::string m_path;
};

ClaimResult SimHidPlatform::claim(const char* path, const char* program) {
    ClaimResult result;
    if (path == nullptr) {
        setLastError(SIM_ERROR_NO_DEVICE);
        return result;
    }
    std::lock_guard lock(m_mutex);
    if (const auto held = m_claims.find(path); held != m_claims.end()) {
        result.status = ClaimStatus::Busy;
        result.holder = held->second;
        return result;
    }
#ifdef _WIN32
    const auto pid = static_cast<std::uint32_t>(_getpid());
#else
    const auto pid = static_cast<std::uint32_t>(::getpid());
#endif
    m_claims[path] = {program != nullptr ? program : "", pid};
    result.status = ClaimStatus::Held;
    result.claim = std::make_unique<SimClaim>(*this, path);
    return result;
}

ClaimHolder SimHidPlatform::claimHolder(const std::string& path) const {
    std::lock_guard lock(m_mutex);
    const auto held = m_claims.find(path);
    return held != m_claims.end() ? held->second : ClaimHolder{};
}

// ---------------------------------------------------------------------------------------
// SimHidPlatform

SimHidPlatform::SimHidPlatform() : m_watches(std::make_shared<SimWatchHub>()) {}

SimHidPlatform::~SimHidPlatform() = default;

std::shared_ptr<SimDevice> SimHidPlatform::addDevice(
    SimIdentity identity, const std::function<void(const std::shared_ptr<SimDevice>&)>& prepare) {
    if (identity.path.empty()) {
        std::lock_guard lock(m_mutex);
        identity.path = "/dev/sim-hidraw" + std::to_string(m_nextPathNumber++);
    }
    auto device = std::make_shared<SimDevice>(std::move(identity));
    device->m_watches = m_watches;
    if (prepare) {
        prepare(device);
    }
    {
        std::lock_guard lock(m_mutex);
        m_devices.push_back(device);
    }
    m_watches->post(nullptr);
    return device;
}

std::vector<std::shared_ptr<SimDevice>> SimHidPlatform::devices() const {
    std::lock_guard lock(m_mutex);
    return m_devices;
}

void SimHidPlatform::failScanStep(SimScanStep step, std::uint32_t index, std::uint32_t error) {
    std::lock_guard lock(m_mutex);
    m_faults.push_back({step, index, error});
}

void SimHidPlatform::setPathSize(std::uint32_t index, std::size_t size) {
    std::lock_guard lock(m_mutex);
    m_pathSizes.emplace_back(index, size);
}

void SimHidPlatform::clearScanFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.clear();
    m_pathSizes.clear();
}

void SimHidPlatform::setRealSleep(bool real) {
    m_realSleep = real;
}

std::uint64_t SimHidPlatform::sleepCalls() const {
    return m_sleepCalls;
}

std::unique_ptr<HidInterfaceSet> SimHidPlatform::presentInterfaces() {
    std::lock_guard lock(m_mutex);
    std::vector<ScanFaultCopy> faults;
    for (const ScanFault& fault : m_faults) {
        if (fault.step == SimScanStep::PresentInterfaces) {
            setLastError(fault.error);
            return nullptr;
        }
        faults.push_back({fault.step, fault.index, fault.error});
    }
    std::vector<std::string> paths;
    std::vector<std::string> locations;
    for (const auto& device : m_devices) {
        if (device->plugged()) {
            paths.push_back(device->identity().path);
            locations.push_back(device->identity().location);
        }
    }
    return std::make_unique<SimInterfaceSet>(std::move(paths), std::move(locations),
                                             std::move(faults), m_pathSizes);
}

std::unique_ptr<HidHandle> SimHidPlatform::open(const char* path, OpenMode mode) {
    std::shared_ptr<SimDevice> device;
    {
        std::lock_guard lock(m_mutex);
        if (path != nullptr) {
            for (const auto& candidate : m_devices) {
                if (candidate->identity().path == path && candidate->plugged()) {
                    device = candidate;
                    break;
                }
            }
        }
    }
    if (!device) {
        setLastError(SIM_ERROR_NO_DEVICE);
        return nullptr;
    }
    const SimBehaviour behaviour = device->behaviour();
    const bool fails = (mode == OpenMode::Probe && behaviour.openProbeFails) ||
                       (mode == OpenMode::Write && behaviour.openWriteFails) ||
                       (mode == OpenMode::Read && behaviour.openReadFails);
    if (fails) {
        setLastError(SIM_ERROR_IO);
        return nullptr;
    }
    return std::make_unique<SimHidHandle>(std::move(device), mode);
}

void SimHidPlatform::setNotifications(bool on) {
    m_notifications = on;
}

void SimHidPlatform::failWatches() {
    m_watches->fail();
}

std::unique_ptr<HidWatch> SimHidPlatform::watch() {
    if (!m_notifications) {
        setLastError(SIM_ERROR_IO);
        return nullptr;
    }
    auto watch = std::make_unique<SimWatchHub::Watch>(m_watches);
    m_watches->add(watch.get());
    return watch;
}

std::uint32_t SimHidPlatform::lastError() const {
    return t_lastError;
}

void SimHidPlatform::sleepMs(std::uint32_t milliseconds) {
    ++m_sleepCalls;
    if (m_realSleep) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    } else {
        std::this_thread::yield();
    }
}

}  // namespace platform
