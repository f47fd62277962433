#include "ui/BufferedPaint.h"

#include "ui/GdiObject.h"

#include <stdlib.h>

namespace {

LONGLONG Area(const RECT& rect)
{
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return 0;
    return (LONGLONG)(rect.right - rect.left) * (rect.bottom - rect.top);
}

const DWORD PrintWholeClient = PRF_CLIENT | PRF_ERASEBKGND;

} // namespace

// The area of a region: what its rectangles cover, not their bounding box.
LONGLONG BufferedPaint::RegionArea(HRGN region)
{
    DWORD size = GetRegionData(region, 0, nullptr);
    if (!size)
        return 0;
    RGNDATA* data = (RGNDATA*)malloc(size);
    LONGLONG area = 0;
    if (data && GetRegionData(region, size, data) == size) {
        const RECT* rects = (const RECT*)data->Buffer;
        for (DWORD i = 0; i < data->rdh.nCount; ++i)
            area += Area(rects[i]);
    }
    free(data);
    return area;
}

bool BufferedPaint::IsLargeUpdate(HWND window)
{
    // A mirrored window mirrors what is copied onto it; it keeps the
    // control's own painting.
    if (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL)
        return false;
    RECT client;
    if (!GetClientRect(window, &client))
        return false;
    RegionObject update(CreateRectRgn(0, 0, 0, 0));
    if (!update || GetUpdateRgn(window, update, FALSE) <= NULLREGION)
        return false;
    // The control draws its whole client area into the bitmap, so a small
    // update (two rows far apart when the selection moves) costs less
    // straight.
    return RegionArea(update) * 2 >= Area(client);
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
