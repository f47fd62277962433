#include "ui/WindowBase.h"

#include <commctrl.h>

namespace {

// The icon at exactly `cx` × `cy`: scaled down from a larger image where
// the file has no image of that size (LoadImageW would scale up a smaller one).
HICON LoadIconAtSize(OptionalApi& api, HINSTANCE instance, int iconId, int cx, int cy)
{
    HICON icon = nullptr;
    if (SUCCEEDED(api.LoadIconWithScaleDown(instance, MAKEINTRESOURCEW(iconId), cx, cy, &icon)) && icon)
        return icon;
    return (HICON)LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, cx, cy, 0);
}

} // namespace

WindowBase::~WindowBase()
{
    if (ownedHandle_)
        CloseHandle(ownedHandle_);
    if (smallIcon_)
        DestroyIcon(smallIcon_);
    if (largeIcon_)
        DestroyIcon(largeIcon_);
}

int WindowBase::StandardIconSize(int size)
{
    if (size > 48)
        return 256;
    if (size > 32)
        return 48;
    if (size > 16)
        return 32;
    return size;
}

int WindowBase::ReloadIcon()
{
    return iconId_ ? SetIcon(iconId_) : 0;
}

int WindowBase::SetIcon(int iconId)
{
    iconId_ = iconId;
    // The window's DPI, not the system's: on a monitor of another scale
    // the caption and the taskbar show the window's own sizes.
    UINT dpi = Api().WindowDpi(window_);
    HICON small = LoadIconAtSize(Api(), instance_, iconId, Api().SystemMetricForDpi(SM_CXSMICON, dpi),
                                 Api().SystemMetricForDpi(SM_CYSMICON, dpi));
    HICON large = LoadIconAtSize(Api(), instance_, iconId,
                                 StandardIconSize(Api().SystemMetricForDpi(SM_CXICON, dpi)),
                                 StandardIconSize(Api().SystemMetricForDpi(SM_CYICON, dpi)));
    // An icon that did not load leaves the window's current one in place.
    if (small) {
        SendMessageW(window_, WM_SETICON, ICON_SMALL, (LPARAM)small);
        if (smallIcon_)
            DestroyIcon(smallIcon_);
        smallIcon_ = small;
    }
    if (large) {
        SendMessageW(window_, WM_SETICON, ICON_BIG, (LPARAM)large);
        if (largeIcon_)
            DestroyIcon(largeIcon_);
        largeIcon_ = large;
    }
    return small && large ? 1 : 0;
}

void WindowBase::SetOwnedHandle(HANDLE handle)
{
    if (ownedHandle_ && ownedHandle_ != handle)
        CloseHandle(ownedHandle_);
    ownedHandle_ = handle;
}

void WindowBase::SetMinimumSize(int width, int height, int unit)
{
    minimumWidth_ = width;
    minimumHeight_ = height;
    minimumUnit_ = unit;
    if (window_)
        RecomputeMinimumSize();
}

void WindowBase::TrackMinimumSize(WINDOWPOS* position)
{
    if (!position || (position->flags & SWP_NOSIZE))
        return;
    UINT dpi = Api().GetDpiForWindow(window_);
    if (dpi != dpi_) {
        // Moved to a monitor of another DPI: the minimum in pixels is out
        // of date until WM_DPICHANGED has converted it.
        dpi_ = dpi;
        return;
    }
    if (minimumWidthPixels_ != -1 && position->cx < minimumWidthPixels_)
        position->cx = minimumWidthPixels_;
    if (minimumHeightPixels_ != -1 && position->cy < minimumHeightPixels_)
        position->cy = minimumHeightPixels_;
}

void WindowBase::RecomputeMinimumSize()
{
    if (!window_)
        return;
    dpi_ = Api().GetDpiForWindow(window_);
    if (minimumUnit_ == DialogUnits) {
        RECT rect = {0, 0, minimumWidth_, minimumHeight_};
        if (!MapDialogRect(window_, &rect))
            return;
        DWORD style = (DWORD)GetWindowLongPtrW(window_, GWL_STYLE);
        DWORD exStyle = (DWORD)GetWindowLongPtrW(window_, GWL_EXSTYLE);
        Api().AdjustWindowRectForDpi(&rect, style, FALSE, exStyle, Api().WindowDpi(window_));
        minimumWidthPixels_ = rect.right - rect.left;
        minimumHeightPixels_ = rect.bottom - rect.top;
        return;
    }
    UINT scale = Api().WindowDpi(window_);
    minimumWidthPixels_ = (int)((long long)minimumWidth_ * scale / 96);
    minimumHeightPixels_ = (int)((long long)minimumHeight_ * scale / 96);
}

int WindowBase::Show(int command)
{
    return ShowWindow(window_, command) ? 1 : 0;
}

int WindowBase::SetCaption(const wchar_t* text)
{
    return SetWindowTextW(window_, text) ? 1 : 0;
}

int WindowBase::SetItemText(int id, const wchar_t* text)
{
    return SetDlgItemTextW(window_, id, text) ? 1 : 0;
}

int WindowBase::GetItemText(int id, WideString& text) const
{
    text.Clear();
    if (!GetDlgItem(window_, id))
        return 0;
    int length = (int)SendDlgItemMessageW(window_, id, WM_GETTEXTLENGTH, 0, 0);
    if (length < 0 || !text.Reserve(length + 2))
        return 0;
    GetDlgItemTextW(window_, id, text.Buffer(), text.Capacity() - 1);
    text.Recompute();
    return 1;
}

HWND WindowBase::Item(int id) const
{
    return GetDlgItem(window_, id);
}

int WindowBase::CheckButton(int id, int checked)
{
    return CheckDlgButton(window_, id, checked == 1 ? BST_CHECKED : BST_UNCHECKED) ? 1 : 0;
}

int WindowBase::IsButtonChecked(int id) const
{
    return IsDlgButtonChecked(window_, id) == BST_CHECKED ? 1 : 0;
}

LRESULT WindowBase::SendItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendDlgItemMessageW(window_, id, message, wParam, lParam);
}

void WindowBase::SetWaitCursor(int wait)
{
    SetCursor(LoadCursorW(nullptr, wait == 1 ? IDC_WAIT : IDC_ARROW));
}
