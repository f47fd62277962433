#pragma once

#include <windows.h>

// One call made later on the window's thread, once the messages queued now
// have been handled: a one-shot timer of the window with a timer procedure
// of its own, so the owner's WM_TIMER handler never sees it. Starting it
// again before it ran makes one call.
class DeferredCall {
public:
    typedef void (*Call)(void* userData);

    DeferredCall() = default;
    ~DeferredCall() { Cancel(); }
    DeferredCall(const DeferredCall&) = delete;
    DeferredCall& operator=(const DeferredCall&) = delete;

    // After `delay` milliseconds (by default as soon as the queue allows).
    // 0 when the window has no timer to give.
    int Start(HWND window, Call call, void* userData, UINT delay = 1);
    void Cancel();
    bool IsPending() const { return window_ != nullptr; }

private:
    static void CALLBACK TimerProcedure(HWND window, UINT message, UINT_PTR id, DWORD time);

    HWND window_ = nullptr;
    Call call_ = nullptr;
    void* userData_ = nullptr;
};
