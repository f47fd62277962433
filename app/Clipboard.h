#pragma once

#include <windows.h>

#include "services/WideString.h"

// The texts the main window copies, and the clipboard they go to.
class Clipboard {
public:
    // Puts `text` on the clipboard as CF_UNICODETEXT, replacing what was
    // there; 0 when the clipboard could not be opened or set.
    static int SetText(const wchar_t* text);

    // The selected rows of a report list: tab-separated cells in column
    // order, CR LF after every row. Empty when nothing is selected.
    static void ListSelection(HWND list, WideString& text);
    // The text of the tree's selected item; 0 when no item is selected.
    static int TreeSelection(HWND tree, WideString& text);
};
