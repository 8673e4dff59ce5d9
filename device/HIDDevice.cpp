#include "device/HIDDevice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "device/HIDInterface.h"

namespace {

constexpr std::uint32_t READER_PAUSE_MS = 10;
constexpr std::uint32_t READER_STOP_TIMEOUT_MS = 5000;
// A read claiming this many bytes or more is no report of this device: it is dropped whole.
constexpr std::size_t READ_DISCARD_BYTES = 100;
// How often close() at bus speed yields to a reader that has left its loop but not yet
// marked its thread finished.
constexpr int READER_END_YIELDS = 10000;

}  // namespace

// Everything the reader thread uses lives here, owned jointly by the channel and the
// reader. If the reader has not ended within the time close() waits for it, the handle,
// buffer and listener slot stay alive until the reader lets go of them.
struct HIDDevice::Shared {
    std::unique_ptr<platform::HidHandle> readHandle;
    std::vector<std::uint8_t> readBuffer;
    std::int32_t inputLength = 0;
    std::atomic<bool> reading{false};
    std::atomic<bool> connected{false};
    // The reader has taken its own copies of what it needs and no longer touches the
    // channel object. A mutex and condition variable rather than std::atomic::wait, which
    // can miss its wake-up in libstdc++ builds without a futex (mingw-w64).
    std::mutex startMutex;
    std::condition_variable startSignal;
    bool readerStarted = false;
    // The reader has left its loop (guarded by startMutex, signalled on startSignal).
    bool readerEnded = false;

    // Delivery to the listener and changing the listener exclude each other, so a
    // listener that detaches gets no call during or after its detachment. Re-entrant so
    // that a listener may detach itself from inside onReport().
    std::recursive_mutex deliveryMutex;
    HIDInterface* listener = nullptr;
};

HIDDevice::HIDDevice(platform::HidPlatform& platform, std::unique_ptr<HIDDescriptor> descriptor,
                     ReaderPacing pacing)
    : m_platform(platform), m_pacing(pacing), m_descriptor(std::move(descriptor)) {
    if (!m_descriptor) {
        m_descriptor = std::make_unique<HIDDescriptor>();
    }
    open();
}

HIDDevice::~HIDDevice() {
    close();
}

void HIDDevice::open() {
    auto shared = std::make_shared<Shared>();
    shared->inputLength = m_descriptor->caps.inputReportByteLength;
    shared->readBuffer.assign(static_cast<std::size_t>(shared->inputLength), 0);

    const char* path = m_descriptor->path.c_str();
    m_writeHandle = m_platform.open(path, platform::OpenMode::Write);
    shared->readHandle = m_platform.open(path, platform::OpenMode::Read);
    shared->connected = m_writeHandle != nullptr && shared->readHandle != nullptr;
    shared->reading = true;
    m_shared = std::move(shared);

    // The reader starts whether or not the device opened: an unopened channel simply
    // delivers nothing and its writes fail.
    if (start()) {
        std::unique_lock lock(m_shared->startMutex);
        m_shared->startSignal.wait(lock, [this] { return m_shared->readerStarted; });
    }
}

void HIDDevice::close() {
    m_writeHandle.reset();
    m_shared->reading = false;
    if (m_shared->readHandle) {
        m_shared->readHandle->cancelRead();
    }
    // The read handle is not closed under a reader that may still be inside read(): it
    // closes with the shared state, here when the reader has ended, or when a reader that
    // outlived the wait below finally returns.
    std::uint32_t stopTimeoutMs = READER_STOP_TIMEOUT_MS;
    if (m_pacing == ReaderPacing::BusSpeed) {
        // Woken by the reader itself rather than found by the 10 ms polls of stop(), which
        // then finds it ended; one that did not end in time is not waited for twice. A
        // reader that never started has nothing to signal.
        std::unique_lock lock(m_shared->startMutex);
        const bool ended = m_shared->startSignal.wait_for(
            lock, std::chrono::milliseconds(READER_STOP_TIMEOUT_MS),
            [this] { return !m_shared->readerStarted || m_shared->readerEnded; });
        lock.unlock();
        // Between the end of its loop and the flag stop() reads the thread runs a few
        // instructions only.
        for (int i = 0; ended && !finished() && i < READER_END_YIELDS; ++i) {
            std::this_thread::yield();
        }
        stopTimeoutMs = ended ? READER_STOP_TIMEOUT_MS : 0;
    }
    stop(stopTimeoutMs);
    m_shared->connected = false;
    m_shared.reset();
}

bool HIDDevice::connected() const {
    return m_shared->connected;
}

void HIDDevice::setDeviceInterface(HIDInterface* listener) {
    std::lock_guard lock(m_shared->deliveryMutex);
    m_shared->listener = listener;
}

HIDInterface* HIDDevice::deviceInterface() const {
    std::lock_guard lock(m_shared->deliveryMutex);
    return m_shared->listener;
}

bool HIDDevice::write(const HArray& command) {
    const std::int32_t outputLength = m_descriptor->caps.outputReportByteLength;
    // A command that does not fit one output report is refused, never cut or overrun.
    if (outputLength <= 0 || command.length() > outputLength || !m_writeHandle) {
        return false;
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(outputLength), 0);
    std::copy(command.bytes().begin(), command.bytes().end(), buffer.begin());

    const platform::WriteStatus status = m_writeHandle->write(buffer.data(), buffer.size());
    if (status == platform::WriteStatus::Ok) {
        return true;
    }
    // The loss is reported once: the first failing write clears connected.
    if (status == platform::WriteStatus::NotConnected && m_shared->connected.exchange(false)) {
        std::lock_guard lock(m_shared->deliveryMutex);
        if (m_shared->listener != nullptr) {
            m_shared->listener->onDisconnect();
        }
    }
    return false;
}

void HIDDevice::run() {
    // The reader's own shares. Nothing of `this` is touched after these lines, so a
    // channel that gave up waiting for its reader can be freed under it.
    const std::shared_ptr<Shared> shared = m_shared;
    const std::shared_ptr<const Flags> flags = this->flags();
    platform::HidPlatform& platform = m_platform;
    const bool paused = m_pacing == ReaderPacing::Paused;
    {
        std::lock_guard lock(shared->startMutex);
        shared->readerStarted = true;
    }
    shared->startSignal.notify_all();

    Shared& state = *shared;
    HArray report(state.inputLength);
    const auto reportLength = static_cast<std::size_t>(report.length());
    std::size_t fill = 0;  // carries over, so a short read is completed by the next one

    while (flags->running && state.reading) {
        std::size_t bytesRead = 0;
        if (state.readHandle) {
            const platform::ReadResult result =
                state.readHandle->read(state.readBuffer.data(), state.readBuffer.size());
            if (result.waited && paused) {
                platform.sleepMs(READER_PAUSE_MS);
            }
            bytesRead = result.bytes;
        }
        // A count beyond the buffer can only come from a broken driver: the bytes are not
        // there to copy, so the read is dropped like an oversized one.
        if (bytesRead >= READ_DISCARD_BYTES || bytesRead > state.readBuffer.size() ||
            !state.reading) {
            bytesRead = 0;
        }

        for (std::size_t i = 0; i < bytesRead; ++i) {
            report.data()[fill++] = state.readBuffer[i];
            if (fill == reportLength) {
                fill = 0;
                std::lock_guard lock(state.deliveryMutex);
                if (state.listener != nullptr) {
                    state.listener->onReport(report);
                }
            }
        }
        // At bus speed only a read that brought nothing pauses, and not one that a close
        // ended.
        if (paused || (bytesRead == 0 && state.reading)) {
            platform.sleepMs(READER_PAUSE_MS);
        }
    }
    {
        std::lock_guard lock(state.startMutex);
        state.readerEnded = true;
    }
    state.startSignal.notify_all();
}
