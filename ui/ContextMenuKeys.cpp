#include "ui/ContextMenuKeys.h"

namespace {

// Bit 30 of a key message's lParam: the key was down before (a repeat).
bool IsRepeat(LPARAM lParam)
{
    return (lParam & 0x40000000) != 0;
}

} // namespace

POINT ContextMenuKeys::MenuPoint(HWND control, const RECT* item)
{
    POINT point = {0, 0};
    RECT client = {};
    if (item && GetClientRect(control, &client)) {
        point.x = item->left > client.left ? item->left : client.left;
        point.y = item->bottom < client.bottom ? item->bottom : client.bottom;
        if (point.y < client.top)
            point.y = client.top;
    }
    ClientToScreen(control, &point);
    return point;
}

void ContextMenuKeys::Open(HWND control)
{
    SendMessageW(GetParent(control), WM_CONTEXTMENU, (WPARAM)control, MAKELPARAM(-1, -1));
}

int ContextMenuKeys::OnKey(HWND control, UINT message, WPARAM key, LPARAM lParam, LRESULT* result)
{
    switch (message) {
    case WM_KEYDOWN:
        if (key != VK_APPS)
            return 0;
        menuKeyDown_ = true;
        break;
    case WM_KEYUP:
        // Windows opens the menu when the menu key is released.
        if (key != VK_APPS)
            return 0;
        if (menuKeyDown_) {
            menuKeyDown_ = false;
            Open(control);
        }
        break;
    case WM_SYSKEYDOWN:
        // F10 is a system key; with Shift it asks for the context menu.
        if (key != VK_F10 || GetKeyState(VK_SHIFT) >= 0)
            return 0;
        f10Down_ = true;
        if (!IsRepeat(lParam))
            Open(control);
        break;
    case WM_SYSKEYUP:
        // Its release must not reach DefWindowProc, which would take it
        // for F10 alone and activate the window's menu.
        if (key != VK_F10 || !f10Down_)
            return 0;
        f10Down_ = false;
        break;
    default:
        return 0;
    }
    *result = 0;
    return 1;
}
