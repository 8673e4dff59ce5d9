// The listener of a channel: receives its complete input reports (on the reader thread)
// and its signal that the device is gone (on the writing thread).
#pragma once

#include "device/HArray.h"

class HIDDevice;

class HIDInterface {
public:
    // Attaches to `device` (may be null): from then on the channel delivers to this object.
    explicit HIDInterface(HIDDevice* device);
    HIDInterface(const HIDInterface&) = delete;
    HIDInterface& operator=(const HIDInterface&) = delete;
    virtual ~HIDInterface();

    // One complete input report, valid only during the call; copy what you keep.
    virtual void onReport(const HArray& report) = 0;
    virtual void onDisconnect() = 0;

    HIDDevice* device() const { return m_device; }

protected:
    // Stops deliveries to this object; returns once a delivery in progress has ended.
    // A derived destructor calls it before tearing down what onReport() touches.
    void detach();

private:
    HIDDevice* m_device;
};
