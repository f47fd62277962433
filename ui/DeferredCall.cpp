#include "ui/DeferredCall.h"

int DeferredCall::Start(HWND window, Call call, void* userData, UINT delay)
{
    if (window_ && window_ != window)
        Cancel();
    // WM_TIMER is the last message a queue hands out: by then whatever the
    // system sent and posted along with the current message is done.
    if (!window || !SetTimer(window, (UINT_PTR)this, delay, &TimerProcedure))
        return 0;
    window_ = window;
    call_ = call;
    userData_ = userData;
    return 1;
}

void DeferredCall::Cancel()
{
    if (window_)
        KillTimer(window_, (UINT_PTR)this);
    window_ = nullptr;
}

void CALLBACK DeferredCall::TimerProcedure(HWND window, UINT, UINT_PTR id, DWORD)
{
    // The id is the object; a cancelled call killed its timer, so an id
    // that arrives here belongs to a live object.
    KillTimer(window, id);
    DeferredCall* deferred = (DeferredCall*)id;
    deferred->window_ = nullptr;
    if (deferred->call_)
        deferred->call_(deferred->userData_);
}
