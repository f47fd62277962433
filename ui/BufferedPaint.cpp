#include "ui/BufferedPaint.h"

#include "ui/GdiObject.h"

namespace {

LONGLONG Area(const RECT& rect)
{
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return 0;
    return (LONGLONG)(rect.right - rect.left) * (rect.bottom - rect.top);
}

const DWORD PrintWholeClient = PRF_CLIENT | PRF_ERASEBKGND;

} // namespace

bool BufferedPaint::IsLargeUpdate(HWND window)
{
    // A mirrored window mirrors what is copied onto it; it keeps the
    // control's own painting.
    if (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL)
        return false;
    RECT update, client;
    if (!GetUpdateRect(window, &update, FALSE) || !GetClientRect(window, &client))
        return false;
    // The control draws its whole client area into the bitmap, so a small
    // update would cost more through it than straight.
    return Area(update) * 2 >= Area(client);
}

void BufferedPaint::Paint(HWND window, HDC dc, const RECT& area)
{
    int width = area.right - area.left, height = area.bottom - area.top;
    HDC memory = CreateCompatibleDC(dc);
    BitmapObject bitmap(memory ? CreateCompatibleBitmap(dc, width, height) : nullptr);
    if (!bitmap) {
        // Without room for the bitmap the control still paints, straight.
        if (memory)
            DeleteDC(memory);
        SendMessageW(window, WM_PRINTCLIENT, (WPARAM)dc, PrintWholeClient);
        return;
    }
    HGDIOBJ old = SelectObject(memory, bitmap);
    SetViewportOrgEx(memory, -area.left, -area.top, nullptr);
    SendMessageW(window, WM_PRINTCLIENT, (WPARAM)memory, PrintWholeClient);
    BitBlt(dc, area.left, area.top, width, height, memory, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

int BufferedPaint::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                             LRESULT* result)
{
    (void)lParam;
    if (message == WM_ERASEBKGND && beginning_) {
        *result = 1;
        return 1;
    }
    // A paint into a given device context goes to someone's buffer already.
    if (message != WM_PAINT || wParam || !IsLargeUpdate(window))
        return 0;
    PAINTSTRUCT paint;
    beginning_ = true;
    HDC dc = BeginPaint(window, &paint);
    beginning_ = false;
    if (dc && Area(paint.rcPaint) > 0)
        Paint(window, dc, paint.rcPaint);
    EndPaint(window, &paint);
    *result = 0;
    return 1;
}
