#pragma once

#include <windows.h>

// Delivers one WM_MOUSELEAVE to a window once the cursor has left it:
// through TrackMouseEvent where user32 has it, otherwise by looking at the
// cursor every 100 ms from a timer of the window whose id is the tracker's
// address.
class MouseLeaveTracker {
public:
    static const UINT PollInterval = 100;

    // `pollOnly` skips TrackMouseEvent (the path of systems without it).
    explicit MouseLeaveTracker(bool pollOnly = false) : pollOnly_(pollOnly) {}
    ~MouseLeaveTracker() { Stop(); }
    MouseLeaveTracker(const MouseLeaveTracker&) = delete;
    MouseLeaveTracker& operator=(const MouseLeaveTracker&) = delete;

    // Starts watching `window` unless it is watched already. 1 when it is.
    int Start(HWND window);
    // Stops watching; the owner also calls it when WM_MOUSELEAVE arrives.
    void Stop();
    bool IsTracking() const { return window_ != nullptr; }
    bool IsPolling() const { return polling_; }

private:
    static void CALLBACK PollProcedure(HWND window, UINT message, UINT_PTR id, DWORD time);
    void Poll();

    const bool pollOnly_;
    HWND window_ = nullptr;
    bool polling_ = false;
    RECT rectangle_ = {};
};
