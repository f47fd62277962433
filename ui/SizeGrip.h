#pragma once

#include <windows.h>

#include "services/OptionalApi.h"
#include "ui/ThemeHandle.h"

// The resize corner of a dialog that has no status bar: a square at the
// bottom right of the client area, drawn with the status bar's gripper and
// answering the hit test as the bottom-right sizing border. A maximised
// window has none.
class SizeGrip {
public:
    // The gripper of the "status" theme class.
    static const int GripperPart = 3; // SP_GRIPPER

    explicit SizeGrip(OptionalApi& api = OptionalApi::Shared()) : api_(&api), theme_(api) {}
    SizeGrip(const SizeGrip&) = delete;
    SizeGrip& operator=(const SizeGrip&) = delete;

    int Attach(HWND dialog);
    void Detach();

    // WM_SIZE: the corner moved, so both the old and the new square repaint.
    void OnSize();
    // WM_PAINT: 1 when it painted the dialog (nothing is painted while the
    // window is maximised: 0, and the dialog paints as usual).
    int OnPaint();
    // WM_NCHITTEST: the system's answer, made HTBOTTOMRIGHT over the square.
    LRESULT HitTest(LPARAM lParam);
    // WM_DPICHANGED and WM_THEMECHANGED: the theme is opened again for the
    // window's DPI and the current visual style (or none, in high
    // contrast), and the square measured and painted anew.
    void OnDpiChanged() { Reopen(); }
    void OnThemeChanged() { Reopen(); }

    // The square's size, measured once: the theme's gripper, or the scroll
    // bar sizes for the window's DPI without a theme.
    SIZE GripSize();
    // The square in client coordinates.
    RECT Square();
    HWND Window() const { return dialog_; }

private:
    void Reopen();
    bool IsMaximised() const;
    void Draw(HDC dc, const RECT& square);

    OptionalApi* api_;
    ThemeHandle theme_;
    HWND dialog_ = nullptr;
    bool measured_ = false;
    SIZE size_ = {};
    RECT last_ = {};
};
