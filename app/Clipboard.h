#pragma once

#include <windows.h>

#include "services/WideString.h"

// The texts the main window copies, and the clipboard they go to.
class Clipboard {
public:
    // Puts `text` on the clipboard as CF_UNICODETEXT, replacing what was
    // there, with `owner` as the clipboard's owner; 0 when the clipboard
    // could not be opened or set. Without an owner window, emptying the
    // clipboard leaves it ownerless and Windows then refuses the data.
    static int SetText(HWND owner, const wchar_t* text);

    // The selected rows of a report list: tab-separated cells in column
    // order, CR LF after every row. Empty when nothing is selected.
    static void ListSelection(HWND list, WideString& text);
    // The text of the tree's selected item; 0 when no item is selected.
    static int TreeSelection(HWND tree, WideString& text);
};
