#pragma once

#include <windows.h>

// The two keys that open a context menu, Shift+F10 and the menu key, turned
// into the WM_CONTEXTMENU with the point (-1, -1) that the control's parent
// expects from the keyboard. Controls do not agree on these keys: a tree
// view under Wine swallows Shift+F10, a list view passes the menu key on,
// and Windows makes the message in DefWindowProc. Consumed here, both keys
// open exactly one menu in every control, on every system.
class ContextMenuKeys {
public:
    // A control's subclass procedure offers its key messages here first;
    // 1 when the message was one of these keys (then consumed).
    int OnKey(HWND control, UINT message, WPARAM key, LPARAM lParam, LRESULT* result);

    // A WM_CONTEXTMENU from the keyboard: its point is (-1, -1).
    static bool IsFromKeyboard(LPARAM lParam)
    {
        return (short)LOWORD(lParam) == -1 && (short)HIWORD(lParam) == -1;
    }

    // Where a menu asked for from the keyboard opens, in screen
    // coordinates: below the left end of `item` (a rectangle in the
    // control's client area, kept inside it), or at the control's top-left
    // corner without one.
    static POINT MenuPoint(HWND control, const RECT* item);

private:
    static void Open(HWND control);

    bool menuKeyDown_ = false;
    bool f10Down_ = false;
};
