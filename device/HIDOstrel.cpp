#include "device/HIDOstrel.h"

#include <cstddef>

#include "device/HIDDevice.h"
#include "device/Wire.h"

HIDOstrel::HIDOstrel(HIDDevice* device) : HIDInterface(device) {
    attach();
}

HIDOstrel::HIDOstrel(HIDDevice* device, DeferAttach) : HIDInterface(device) {}

HIDOstrel::~HIDOstrel() {
    // Detach first: once it returns no delivery is in progress or can start, so the queue
    // can go.
    detach();
    if (m_reports.lock().enter()) {
        for (HArray* report = m_reports.first(); report != nullptr; report = m_reports.next()) {
            delete report;
        }
        m_reports.removeAll();
        m_reports.lock().leave();
    }
}

void HIDOstrel::onReport(const HArray& report) {
    auto copy = std::make_unique<HArray>(report);
    if (m_reports.add(copy.get())) {
        copy.release();
    }
}

void HIDOstrel::onDisconnect() {
    auto event = std::make_unique<HArray>(disconnectEventReport());
    if (m_reports.add(event.get())) {
        event.release();
    }
}

std::unique_ptr<HArray> HIDOstrel::popReport() {
    if (!m_reports.lock().enter()) {
        return nullptr;
    }
    HArray* report = m_reports.first();
    if (report != nullptr) {
        m_reports.remove(report);
    }
    m_reports.lock().leave();
    return std::unique_ptr<HArray>(report);
}

void HIDOstrel::sendCommand(std::uint8_t command, std::initializer_list<int> arguments) {
    trySendCommand(command, arguments);  // a lost device comes back as the event report
}

void HIDOstrel::sendParam(int size, std::uint8_t address, bool write, std::uint8_t high,
                          std::uint8_t low) {
    trySendParam(size, address, write, high, low);
}

bool HIDOstrel::trySendCommand(std::uint8_t command, std::initializer_list<int> arguments) {
    HArray frame(static_cast<std::int32_t>(arguments.size() + 1));
    std::uint8_t* bytes = frame.data();
    bytes[0] = command;
    std::size_t i = 1;
    for (int argument : arguments) {
        bytes[i++] = static_cast<std::uint8_t>(argument & 0xFF);
    }
    return send(frame);
}

bool HIDOstrel::trySendParam(int size, std::uint8_t address, bool write, std::uint8_t high,
                             std::uint8_t low) {
    const auto sizeByte = static_cast<std::uint8_t>(size & 0xFF);
    const Frame frame =
        write ? paramWriteFrame(address, sizeByte, high, low) : paramReadFrame(address, sizeByte);
    return send(HArray(frame.view()));
}

bool HIDOstrel::send(const HArray& frame) {
    HIDDevice* channel = device();
    if (channel == nullptr || !m_writeLock.enter()) {
        return false;
    }
    const bool written = channel->write(frame);
    m_writeLock.leave();
    return written;
}
