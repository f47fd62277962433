#pragma once

#include <windows.h>

#include "services/WideString.h"
#include "services/OptionalApi.h"

// The base of every toolkit window object: one window handle, the module
// whose resources it uses, its icons and a minimum tracking size that keeps
// up with DPI changes.
class WindowBase {
public:
    // Units of SetMinimumSize.
    static const int DialogUnits = 1;
    static const int Pixels96 = 0;

    WindowBase() = default;
    virtual ~WindowBase();
    WindowBase(const WindowBase&) = delete;
    WindowBase& operator=(const WindowBase&) = delete;

    HWND Window() const { return window_; }
    HINSTANCE Instance() const { return instance_; }

    // Small and large icon from icon resource `iconId` of the instance at
    // the sizes of the window's DPI, sent with WM_SETICON; the icons they
    // replace are destroyed. 1 when both were set.
    int SetIcon(int iconId);
    // The icons of SetIcon loaded again for the window's current DPI
    // (WM_DPICHANGED); nothing before SetIcon.
    int ReloadIcon();
    // SM_CXICON-like sizes raised to the next size icon files carry.
    static int StandardIconSize(int size);
    // The icons SetIcon set, owned by this object (nullptr before).
    HICON SmallIcon() const { return smallIcon_; }
    HICON LargeIcon() const { return largeIcon_; }

    // The smallest size the user may drag the window to, in dialog units or
    // in pixels at 96 DPI; applied at once when the window exists and
    // recomputed at every DPI change.
    void SetMinimumSize(int width, int height, int unit);
    int MinimumWidth() const { return minimumWidthPixels_; }
    int MinimumHeight() const { return minimumHeightPixels_; }

    // A kernel handle closed with the object.
    void SetOwnedHandle(HANDLE handle);

    // The optional system functions this window calls (the process's table
    // unless replaced).
    void UseOptionalApi(OptionalApi& api) { api_ = &api; }
    OptionalApi& Api() const { return *api_; }

    // Thin wrappers, one platform call each.
    int Show(int command);
    int SetCaption(const wchar_t* text);
    int SetItemText(int id, const wchar_t* text);
    int GetItemText(int id, WideString& text) const;
    HWND Item(int id) const;
    int CheckButton(int id, int checked);
    int IsButtonChecked(int id) const;
    LRESULT SendItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam);
    // IDC_WAIT for 1, IDC_ARROW otherwise.
    void SetWaitCursor(int wait);

protected:
    // The WM_WINDOWPOSCHANGING rule: at an unchanged DPI the size is raised
    // to the minimum; the first message at a new DPI only notes the DPI.
    void TrackMinimumSize(WINDOWPOS* position);
    // Converts the minimum for the window's current DPI (WM_DPICHANGED).
    void RecomputeMinimumSize();

    HWND window_ = nullptr;
    HINSTANCE instance_ = nullptr;

private:
    OptionalApi* api_ = &OptionalApi::Shared();
    HANDLE ownedHandle_ = nullptr;
    HICON smallIcon_ = nullptr;
    HICON largeIcon_ = nullptr;
    int iconId_ = 0;
    int minimumWidth_ = 0;
    int minimumHeight_ = 0;
    int minimumUnit_ = Pixels96;
    UINT dpi_ = 0;
    int minimumWidthPixels_ = -1;
    int minimumHeightPixels_ = -1;
};
