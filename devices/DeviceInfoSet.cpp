#include "devices/DeviceInfoSet.h"

#include <string.h>

void DeviceInfoSet::Forget()
{
    api_ = nullptr;
    set_ = INVALID_HANDLE_VALUE;
    memset(&element_, 0, sizeof(element_));
}

void DeviceInfoSet::Adopt(const DeviceApi* api, HDEVINFO set, const SP_DEVINFO_DATA& element)
{
    Release();
    api_ = api;
    set_ = set;
    element_ = element;
}

void DeviceInfoSet::Release()
{
    if (set_ != INVALID_HANDLE_VALUE && api_ && api_->SetupDiDestroyDeviceInfoList())
        api_->SetupDiDestroyDeviceInfoList()(set_);
    Forget();
}
