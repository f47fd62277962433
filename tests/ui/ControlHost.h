#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>

// A visible top-level window that stands in for a dialog: it creates the
// control under test as its child and hands every message it receives to
// the test's handler first (WM_NOTIFY, WM_MEASUREITEM, WM_DRAWITEM ...).
// One window is shared by the tests; each host object destroys the
// children it made when it goes.
class ControlHost {
public:
    // Returns 1 when it handled the message and set *result.
    typedef std::function<int(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)> Handler;

    ControlHost(int width = 400, int height = 300);
    ~ControlHost();
    ControlHost(const ControlHost&) = delete;
    ControlHost& operator=(const ControlHost&) = delete;

    HWND Window() const { return window_; }
    // A child control of `className` filling most of the host.
    HWND CreateChild(const wchar_t* className, DWORD style, int id = 100);
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

    // Dispatches what is queued for this thread.
    static void Pump();

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    Handler handler_;
};

// The colour of one pixel of a window's client area as it is on the screen.
COLORREF ClientPixel(HWND window, int x, int y);
