#pragma once

#include <windows.h>

// Paints a control's large updates into an off-screen bitmap and puts the
// result on the window in one copy. A control that draws straight onto its
// window pays for every icon and line it draws there, and a cleared window
// shows for a moment before the items come; through a bitmap a whole
// repaint costs a fraction and never flickers. The control does the drawing
// itself (WM_PRINTCLIENT), so what appears is exactly what it would paint.
// Small updates, such as a hovered or selected item, still go straight to
// the window: the control paints only their part then.
class BufferedPaint {
public:
    // Offered the control's messages by its subclass hook; 1 when it handled
    // one and stored the result.
    int OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

private:
    static LONGLONG RegionArea(HRGN region);
    static bool IsLargeUpdate(HWND window);
    static void Paint(HWND window, HDC dc, const RECT& area);

    // While its own BeginPaint runs: the erase it sends is part of the
    // bitmap's picture.
    bool beginning_ = false;
};
