// The listener of a channel: receives its complete input reports (on the reader thread)
// and its signal that the device is gone (on the writing thread).
#pragma once

#include "device/HArray.h"

class HIDDevice;

class HIDInterface {
public:
    // Remembers `device` (may be null) but does not attach yet: the reader thread is
    // already running, and a report delivered before the derived object is complete would
    // reach a half-built queue and vtable. The most-derived class calls attach() at the end
    // of its constructor.
    explicit HIDInterface(HIDDevice* device);
    HIDInterface(const HIDInterface&) = delete;
    HIDInterface& operator=(const HIDInterface&) = delete;
    virtual ~HIDInterface();

    // One complete input report, valid only during the call; copy what you keep.
    virtual void onReport(const HArray& report) = 0;
    virtual void onDisconnect() = 0;

    HIDDevice* device() const { return m_device; }

protected:
    // From now on the channel delivers to this object. Reports the channel completed
    // before are dropped.
    void attach();
    // Stops deliveries to this object; returns once a delivery in progress has ended.
    // A derived destructor calls it before tearing down what onReport() touches.
    void detach();

private:
    HIDDevice* m_device;
};
