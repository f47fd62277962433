#include "ui/IconEdit.h"

#include <commctrl.h>
#include <windowsx.h>

#include "ui/DarkMode.h"

namespace {

const UINT FrameChanged = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED;

int WindowHeight(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect.bottom - rect.top;
}

} // namespace

int IconEdit::IconSizeFor(int editHeight)
{
    return ((4 + (int)(0.7 * editHeight)) / 8) * 8;
}

int IconEdit::DarkModeWanted()
{
    return IsDarkModeWanted(*api_);
}

int IconEdit::Init(HWND edit, HINSTANCE instance, int iconId, DWORD options)
{
    if (!edit || hook_.IsAttached())
        return 0;
    edit_ = edit;
    instance_ = instance;
    iconId_ = iconId;
    options_ = options & ~DarkModeActive;
    pressed_ = false;
    ApplyTheme();
    CreateIcon();
    if (!hook_.Attach(edit_, &EditMessage, this)) {
        edit_ = nullptr;
        icon_.Destroy();
        return 0;
    }
    RecalculateFrame();
    return 1;
}

void IconEdit::Detach()
{
    if (hook_.Detach() && edit_ && IsWindow(edit_))
        RecalculateFrame(); // gives the edit its own frame back
    icon_.Destroy();
    theme_.Close();
    edit_ = nullptr;
    pressed_ = false;
}

int IconEdit::SetCueBanner(const wchar_t* text, bool whileFocused)
{
    return edit_ && SendMessageW(edit_, EM_SETCUEBANNER, whileFocused ? TRUE : FALSE, (LPARAM)text) ? 1 : 0;
}

void IconEdit::ApplyTheme()
{
    if ((options_ & FollowDarkMode) && DarkModeWanted())
        options_ |= DarkModeActive;
    else
        options_ &= ~DarkModeActive;
    theme_.SetWindowTheme(edit_, (options_ & DarkModeActive) ? L"DarkMode_Explorer" : L"Explorer");
}

void IconEdit::CreateIcon()
{
    iconSize_ = IconSizeFor(WindowHeight(edit_));
    if (icon_.Create(iconSize_, iconSize_, 1, 1) && iconId_)
        icon_.AddIconResource(instance_, iconId_);
}

void IconEdit::RecalculateFrame()
{
    SetWindowPos(edit_, nullptr, 0, 0, 0, 0, FrameChanged);
}

LRESULT IconEdit::CallEdit(UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC previous = hook_.PreviousProcedure();
    return previous ? CallWindowProcW(previous, edit_, message, wParam, lParam) : 0;
}

int IconEdit::EditMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                          void* self)
{
    return static_cast<IconEdit*>(self)->OnEditMessage(message, wParam, lParam, result);
}

int IconEdit::OnEditMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    switch (message) {
    case WM_ENABLE:
        RecalculateFrame();
        return 0;
    case WM_SETCURSOR:
        if (!CursorOverStrip())
            return 0;
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        *result = TRUE;
        return 1;
    case WM_NCCALCSIZE:
        *result = OnCalcSize(wParam, lParam);
        return 1;
    case WM_NCHITTEST:
        // The strip is no border: it must see the mouse like the text does.
        *result = CallEdit(message, wParam, lParam);
        if (*result == HTNOWHERE)
            *result = HTCLIENT;
        return 1;
    case WM_NCPAINT:
        OnPaintFrame(wParam, lParam);
        *result = 0;
        return 1;
    case WM_LBUTTONDOWN:
        // Any press elsewhere ends what a press on the icon began.
        pressed_ = InIconStrip(GET_X_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP: {
        bool click = pressed_ && InIconStrip(GET_X_LPARAM(lParam));
        pressed_ = false;
        // The edit finishes its own click (and lets go of the mouse) before
        // the owner hears of it.
        *result = CallEdit(message, wParam, lParam);
        if (click)
            SendMessageW(GetParent(edit_), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(edit_), 0), (LPARAM)edit_);
        return 1;
    }
    case WM_CAPTURECHANGED:
        pressed_ = false;
        return 0;
    case WM_DPICHANGED_AFTERPARENT:
        CreateIcon();
        RecalculateFrame();
        return 0;
    default:
        return 0;
    }
}

bool IconEdit::InIconStrip(int x) const
{
    return x < 0 && -x <= iconSize_ + 1 + borderWidth_;
}

bool IconEdit::CursorOverStrip() const
{
    POINT cursor;
    if (!GetCursorPos(&cursor) || !ScreenToClient(edit_, &cursor))
        return false;
    return cursor.x < 0;
}

LRESULT IconEdit::OnCalcSize(WPARAM wParam, LPARAM lParam)
{
    RECT* rect = (RECT*)lParam; // the first rectangle either way
    if (!rect)
        return CallEdit(WM_NCCALCSIZE, wParam, lParam);
    RECT proposed = *rect;
    iconMargin_ = (proposed.bottom - proposed.top - iconSize_ + 1) / 2;
    if (iconMargin_ < 0)
        iconMargin_ = 0;
    LRESULT answer = CallEdit(WM_NCCALCSIZE, wParam, lParam);
    borderWidth_ = rect->left - proposed.left;
    borderHeight_ = rect->top - proposed.top;
    LONG left = proposed.left + iconMargin_ + iconSize_;
    rect->left = left < rect->right ? left : rect->right;
    textOffset_ = 0;
    HDC dc = GetDC(edit_);
    if (dc) {
        HFONT font = (HFONT)SendMessageW(edit_, WM_GETFONT, 0, 0);
        HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
        TEXTMETRICW metrics;
        if (GetTextMetricsW(dc, &metrics)) {
            int offset = (int)((rect->bottom - rect->top - metrics.tmHeight) / 4);
            textOffset_ = offset > 0 ? offset : 0;
        }
        if (old)
            SelectObject(dc, old);
        ReleaseDC(edit_, dc);
    }
    rect->top += textOffset_;
    return answer;
}

void IconEdit::OnPaintFrame(WPARAM wParam, LPARAM lParam)
{
    CallEdit(WM_NCPAINT, wParam, lParam);
    HDC dc = GetWindowDC(edit_);
    if (!dc)
        return;
    RECT window;
    GetWindowRect(edit_, &window);
    int width = window.right - window.left, height = window.bottom - window.top;
    HBRUSH brush;
    if ((options_ & GreyStripWhenDisabled) && !IsWindowEnabled(edit_)) {
        brush = GetSysColorBrush(COLOR_BTNFACE);
    } else if ((options_ & DarkModeActive) && api_->SetDCBrushColor(dc, DarkBackground) != CLR_INVALID) {
        brush = (HBRUSH)GetStockObject(DC_BRUSH);
    } else {
        brush = GetSysColorBrush(COLOR_WINDOW);
    }
    int stripRight = iconMargin_ + iconSize_;
    RECT left = {borderWidth_, borderHeight_, stripRight, height - borderHeight_};
    RECT above = {stripRight, borderHeight_, width - borderWidth_, borderHeight_ + textOffset_};
    FillRect(dc, &left, brush);
    if (textOffset_ > 0)
        FillRect(dc, &above, brush);
    if (icon_.Handle() && icon_.Count() > 0)
        ImageList_Draw(icon_.Handle(), 0, dc, iconMargin_, iconMargin_, ILD_TRANSPARENT);
    ReleaseDC(edit_, dc);
}
