// The controller's device interface: queues a copy of every report the channel delivers,
// turns the loss of the device into an event report in the same queue, and sends command
// frames one at a time under its write lock.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>

#include "device/HArray.h"
#include "device/HIDInterface.h"
#include "device/HList.h"
#include "device/HLock.h"

class HIDOstrel : public HIDInterface {
public:
    // Attaches to `device` once the queue and the lock exist.
    explicit HIDOstrel(HIDDevice* device);
    // Detaches from the channel first, then deletes the reports still queued.
    ~HIDOstrel() override;

    void onReport(const HArray& report) override;
    void onDisconnect() override;

    // The oldest queued report, or null when the queue is empty.
    std::unique_ptr<HArray> popReport();

    // Sends the command byte followed by the low 8 bits of each argument.
    void sendCommand(std::uint8_t command, std::initializer_list<int> arguments = {});
    // A parameter write frame when `write` is set, otherwise a parameter read frame.
    void sendParam(int size, std::uint8_t address, bool write, std::uint8_t high, std::uint8_t low);
    // The same two, telling whether the channel wrote the frame: the window never asks,
    // the command line must tell a refused write from a written one.
    bool trySendCommand(std::uint8_t command, std::initializer_list<int> arguments = {});
    bool trySendParam(int size, std::uint8_t address, bool write, std::uint8_t high,
                      std::uint8_t low);

protected:
    // For a derived class: attaches nothing, so that the derived constructor can call
    // attach() once its own members exist. Attaching earlier would let the reader call
    // into an object whose vtable is still being switched.
    struct DeferAttach {};
    HIDOstrel(HIDDevice* device, DeferAttach);

private:
    bool send(const HArray& frame);

    HList<HArray> m_reports;
    HLock m_writeLock;
};
