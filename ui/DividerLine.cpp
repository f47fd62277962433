#include "ui/DividerLine.h"

int DividerLine::Init(HWND control, DWORD options, COLORREF colour)
{
    if (!control || hook_.IsAttached())
        return 0;
    control_ = control;
    options_ = options;
    RECT rect;
    GetClientRect(control, &rect);
    horizontal_ = rect.right - rect.left > rect.bottom - rect.top;
    if (options & Flat)
        brush_.Reset(CreateSolidBrush(colour));
    theme_.Open(control, L"Toolbar");
    if (!hook_.Attach(control, &ControlMessage, this)) {
        theme_.Close();
        brush_.Reset();
        control_ = nullptr;
        return 0;
    }
    // The line is all this control draws: an edge the static added for an
    // etched style would draw a second one around it.
    LONG_PTR exStyle = GetWindowLongPtrW(control, GWL_EXSTYLE);
    SetWindowLongPtrW(control, GWL_EXSTYLE,
                      (exStyle & ~(LONG_PTR)(WS_EX_STATICEDGE | WS_EX_CLIENTEDGE)) | WS_EX_TRANSPARENT);
    FitControl();
    InvalidateRect(control, nullptr, TRUE);
    return 1;
}

void DividerLine::Detach()
{
    hook_.Detach();
    theme_.Close();
    brush_.Reset();
    control_ = nullptr;
}

// The themed separator draws its line in the middle of a 5-pixel band, so
// the band is centred on where the template put the line.
void DividerLine::FitControl()
{
    RECT rect;
    GetWindowRect(control_, &rect);
    MapWindowPoints(nullptr, GetParent(control_), (POINT*)&rect, 2);
    int x = rect.left, y = rect.top;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (options_ & Flat) {
        if (horizontal_)
            height = 1;
        else
            width = 1;
    } else if (horizontal_) {
        x -= 2, y -= 1, width += 3, height = ThemedThickness;
    } else {
        x -= 1, y -= 2, height += 3, width = ThemedThickness;
    }
    SetWindowPos(control_, nullptr, x, y, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

int DividerLine::ControlMessage(HWND window, UINT message, WPARAM wParam, LPARAM, LRESULT* result,
                                void* self)
{
    if (message != WM_PAINT)
        return 0;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc)
        ((DividerLine*)self)->Paint(dc);
    EndPaint(window, &paint);
    *result = 0;
    return 1;
}

void DividerLine::Paint(HDC dc)
{
    RECT client;
    GetClientRect(control_, &client);
    if (options_ & Flat)
        FillRect(dc, &client, brush_);
    else
        PaintThemed(dc, client);
}

void DividerLine::PaintThemed(HDC dc, const RECT& client)
{
    int part = horizontal_ ? SeparatorVerticalPart : SeparatorPart;
    RECT band = client;
    if (band.bottom - band.top < ThemedThickness)
        band.bottom = band.top + ThemedThickness;
    if (theme_.IsOpen()) {
        if (theme_.IsPartiallyTransparent(part, 1))
            theme_.DrawParentBackground(control_, dc, &client);
        if (theme_.DrawBackground(dc, part, 1, &band))
            return;
    }
    PaintEdge(dc, client);
}

void DividerLine::PaintEdge(HDC dc, const RECT& client)
{
    RECT edge = {client.left + 1, client.top + 2, client.right, client.bottom - 1};
    DrawEdge(dc, &edge, EDGE_ETCHED, horizontal_ ? BF_TOP : BF_LEFT);
}
