#pragma once

#include "devices/DeviceApi.h"

// Owner of one device information set and the element found in it; the set
// is destroyed when the owner goes away, on every path.
class DeviceInfoSet {
public:
    DeviceInfoSet() { Forget(); }
    ~DeviceInfoSet() { Release(); }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    // Takes ownership of `set`, found through `api`, with its element.
    void Adopt(const DeviceApi* api, HDEVINFO set, const SP_DEVINFO_DATA& element);
    void Release();

    bool IsOpen() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO Handle() const { return set_; }
    SP_DEVINFO_DATA* Element() { return &element_; }
    const GUID& ClassGuid() const { return element_.ClassGuid; }

private:
    void Forget();

    const DeviceApi* api_;
    HDEVINFO set_;
    SP_DEVINFO_DATA element_;
};
