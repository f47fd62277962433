#include "ui/MouseLeaveTracker.h"

namespace {

typedef BOOL(WINAPI* TrackMouseEventProc)(TRACKMOUSEEVENT* event);

TrackMouseEventProc SystemTrackMouseEvent()
{
    static TrackMouseEventProc function =
        (TrackMouseEventProc)GetProcAddress(GetModuleHandleW(L"user32.dll"), "TrackMouseEvent");
    return function;
}

} // namespace

int MouseLeaveTracker::Start(HWND window)
{
    if (window_)
        return window_ == window;
    if (!window)
        return 0;
    TrackMouseEventProc track = pollOnly_ ? nullptr : SystemTrackMouseEvent();
    if (track) {
        TRACKMOUSEEVENT event = {sizeof(event), TME_LEAVE, window, HOVER_DEFAULT};
        if (!track(&event))
            return 0;
        window_ = window;
        polling_ = false;
        return 1;
    }
    if (!GetWindowRect(window, &rectangle_) ||
        !SetTimer(window, (UINT_PTR)this, PollInterval, PollProcedure))
        return 0;
    window_ = window;
    polling_ = true;
    return 1;
}

void MouseLeaveTracker::Stop()
{
    if (!window_)
        return;
    if (polling_) {
        KillTimer(window_, (UINT_PTR)this);
    } else if (TrackMouseEventProc track = SystemTrackMouseEvent()) {
        TRACKMOUSEEVENT event = {sizeof(event), TME_LEAVE | TME_CANCEL, window_, HOVER_DEFAULT};
        track(&event);
    }
    window_ = nullptr;
    polling_ = false;
}

void CALLBACK MouseLeaveTracker::PollProcedure(HWND, UINT, UINT_PTR id, DWORD)
{
    reinterpret_cast<MouseLeaveTracker*>(id)->Poll();
}

void MouseLeaveTracker::Poll()
{
    POINT cursor;
    if (GetCursorPos(&cursor) && PtInRect(&rectangle_, cursor) && WindowFromPoint(cursor) == window_)
        return;
    HWND window = window_;
    Stop();
    PostMessageW(window, WM_MOUSELEAVE, 0, 0);
}
