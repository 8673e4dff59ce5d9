#include "device/HIDInterface.h"

#include "device/HIDDevice.h"

HIDInterface::HIDInterface(HIDDevice* device) : m_device(device) {}

void HIDInterface::attach() {
    // Under the channel's delivery lock, like detach().
    if (m_device != nullptr) {
        m_device->setDeviceInterface(this);
    }
}

HIDInterface::~HIDInterface() {
    detach();
}

void HIDInterface::detach() {
    // Only our own attachment is undone: a listener attached after us stays in place.
    if (m_device != nullptr && m_device->deviceInterface() == this) {
        m_device->setDeviceInterface(nullptr);
    }
}
