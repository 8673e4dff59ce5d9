// The open connection to the controller: a handle for writes, a handle for reads, and a
// reader thread that assembles input reports and hands each to the attached listener.
#pragma once

#include <cstdint>
#include <memory>

#include "device/HArray.h"
#include "device/HIDDescriptor.h"
#include "device/HThread.h"
#include "platform/HidPlatform.h"

class HIDInterface;

// How the reader paces itself. Either way it blocks in the platform's read while no report
// is there, and pauses after a read that brought nothing, so that a device that is gone
// (whose reads return at once) never makes it spin.
enum class ReaderPacing {
    // 10 ms after every read, and 10 ms more after a read that had to wait: the window's.
    Paused,
    // The next read at once after a read that brought bytes: answers come as fast as the
    // bus brings them. For the command line.
    BusSpeed,
};

class HIDDevice : public HThread {
public:
    // Takes the descriptor, opens the device and starts the reader. A device that does
    // not open still gives a channel: it delivers nothing and its writes fail.
    HIDDevice(platform::HidPlatform& platform, std::unique_ptr<HIDDescriptor> descriptor,
              ReaderPacing pacing = ReaderPacing::Paused);
    // Stops the reader (5000 ms at most) and closes the device.
    ~HIDDevice() override;

    // Sends `command` as one whole output report, zero-filled behind it. A command longer
    // than the output report is refused. The first failure because the device is gone
    // clears connected() and calls the listener's onDisconnect().
    bool write(const HArray& command);

    const HIDDescriptor& descriptor() const { return *m_descriptor; }
    bool connected() const;

    // The listener that receives reports, or null. Setting it waits for a delivery in
    // progress to the previous listener to end. Called by HIDInterface.
    void setDeviceInterface(HIDInterface* listener);
    HIDInterface* deviceInterface() const;

protected:
    void run() override;

private:
    struct Shared;  // what the reader thread and the channel both use
    void open();
    void close();

    platform::HidPlatform& m_platform;
    const ReaderPacing m_pacing;
    std::unique_ptr<HIDDescriptor> m_descriptor;
    std::unique_ptr<platform::HidHandle> m_writeHandle;
    std::shared_ptr<Shared> m_shared;
};
