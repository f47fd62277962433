#include "update/TaskbarProgress.h"

#include "services/ComInit.h"

int TaskbarProgress::Begin(HWND window)
{
    if (list_)
        return window == window_;
    if (unavailable_)
        return 0;
    HRESULT com = InitializeCom(COINIT_APARTMENTTHREADED);
    comStarted_ = SUCCEEDED(com);
    void* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ITaskbarList3, &list)) ||
        FAILED(((ITaskbarList3*)list)->HrInit())) {
        if (list)
            ((ITaskbarList3*)list)->Release();
        End();
        unavailable_ = true;
        return 0;
    }
    list_ = (ITaskbarList3*)list;
    window_ = window;
    list_->SetProgressState(window_, TBPF_NORMAL);
    return 1;
}

void TaskbarProgress::Show(HWND window, int permille)
{
    if (!Begin(window))
        return;
    if (permille < 0)
        permille = 0;
    list_->SetProgressValue(window_, (ULONGLONG)(permille > 1000 ? 1000 : permille), 1000);
}

void TaskbarProgress::End()
{
    if (list_) {
        list_->SetProgressState(window_, TBPF_NOPROGRESS);
        list_->Release();
    }
    list_ = nullptr;
    window_ = nullptr;
    if (comStarted_)
        CoUninitialize();
    comStarted_ = false;
    unavailable_ = false;
}
