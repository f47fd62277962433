#include "ui/SizeGrip.h"

#include <uxtheme.h>

int SizeGrip::Attach(HWND dialog)
{
    Detach();
    if (!dialog)
        return 0;
    dialog_ = dialog;
    theme_.Open(dialog, L"status");
    return 1;
}

void SizeGrip::Detach()
{
    theme_.Close();
    dialog_ = nullptr;
    measured_ = false;
    SetRectEmpty(&last_);
}

void SizeGrip::Reopen()
{
    if (!dialog_)
        return;
    theme_.Open(dialog_, L"status");
    measured_ = false;
    OnSize();
}

bool SizeGrip::IsMaximised() const
{
    return IsZoomed(dialog_) != 0;
}

SIZE SizeGrip::GripSize()
{
    if (measured_ || !dialog_)
        return size_;
    SIZE size = {};
    HDC dc = GetDC(dialog_);
    bool themed = theme_.IsOpen() && theme_.PartSize(dc, GripperPart, 0, nullptr, TS_DRAW, &size) &&
                  size.cx > 0 && size.cy > 0;
    if (dc)
        ReleaseDC(dialog_, dc);
    if (!themed) {
        UINT dpi = api_->WindowDpi(dialog_);
        size.cx = api_->SystemMetricForDpi(SM_CXHSCROLL, dpi);
        size.cy = api_->SystemMetricForDpi(SM_CYVSCROLL, dpi);
    }
    size_ = size;
    measured_ = true;
    return size_;
}

RECT SizeGrip::Square()
{
    RECT client = {};
    GetClientRect(dialog_, &client);
    SIZE size = GripSize();
    RECT square = {client.right - size.cx, client.bottom - size.cy, client.right, client.bottom};
    return square;
}

void SizeGrip::OnSize()
{
    if (!dialog_)
        return;
    if (!IsRectEmpty(&last_))
        InvalidateRect(dialog_, &last_, TRUE);
    last_ = Square();
    InvalidateRect(dialog_, &last_, TRUE);
}

void SizeGrip::Draw(HDC dc, const RECT& square)
{
    if (theme_.IsOpen() && theme_.DrawBackground(dc, GripperPart, 0, &square))
        return;
    RECT classic = square;
    DrawFrameControl(dc, &classic, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
}

int SizeGrip::OnPaint()
{
    if (!dialog_ || IsMaximised())
        return 0;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog_, &paint);
    if (!dc)
        return 0;
    last_ = Square();
    Draw(dc, last_);
    EndPaint(dialog_, &paint);
    return 1;
}

LRESULT SizeGrip::HitTest(LPARAM lParam)
{
    LRESULT answer = DefWindowProcW(dialog_, WM_NCHITTEST, 0, lParam);
    if ((answer != HTCLIENT && answer != HTBORDER) || !dialog_ || IsMaximised())
        return answer;
    RECT window;
    if (!GetWindowRect(dialog_, &window))
        return answer;
    SIZE size = GripSize();
    POINT point = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    if (point.x >= window.right - size.cx && point.x < window.right &&
        point.y >= window.bottom - size.cy && point.y < window.bottom)
        return HTBOTTOMRIGHT;
    return answer;
}
