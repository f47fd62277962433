#include "ui/AccessibleNames.h"

#include <objbase.h>
#include <oleacc.h>

#include "services/ComInit.h"

namespace {

// Spelt out here: the import library's symbols for some of these are not
// the GUIDs themselves.
const CLSID AccPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const IID AccPropServicesInterface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const MSAAPROPID NameProperty = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}}; // PROPID_ACC_NAME

} // namespace

IAccPropServices* AccessibleNames::Services()
{
    if (triedServices_)
        return services_;
    triedServices_ = true;
    comStarted_ = SUCCEEDED(InitializeCom(COINIT_APARTMENTTHREADED));
    void* services = nullptr;
    if (SUCCEEDED(CoCreateInstance(AccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                                   AccPropServicesInterface, &services)))
        services_ = (IAccPropServices*)services;
    return services_;
}

int AccessibleNames::Set(HWND control, const wchar_t* name)
{
    IAccPropServices* services = control && name ? Services() : nullptr;
    if (!services ||
        FAILED(services->SetHwndPropStr(control, (DWORD)OBJID_CLIENT, CHILDID_SELF, NameProperty, name)))
        return 0;
    named_.push_back(control);
    return 1;
}

void AccessibleNames::ClearAll()
{
    // The service keeps what it was given per window handle: left behind,
    // it would name whatever window gets the handle next.
    if (services_) {
        for (HWND control : named_)
            services_->ClearHwndProps(control, (DWORD)OBJID_CLIENT, CHILDID_SELF, &NameProperty, 1);
        services_->Release();
    }
    named_.clear();
    services_ = nullptr;
    if (comStarted_)
        CoUninitialize();
    comStarted_ = false;
    triedServices_ = false;
}
