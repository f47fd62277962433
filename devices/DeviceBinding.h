#pragma once

struct DeviceApi;

// A source of the device entry points other than the system's libraries (a
// saved machine, say): DeviceApi::Bind asks it to fill the slots instead of
// loading anything, so the model above works on it unchanged.
class DeviceBinding {
public:
    virtual ~DeviceBinding() = default;
    // Puts its entry points into the slots of `api` (DeviceApi::SetSlot);
    // 1 on success, 0 when it has none to give (the slots stay empty).
    virtual int FillSlots(DeviceApi& api) = 0;
};
