#include "app/Clipboard.h"

#include <commctrl.h>
#include <string.h>

namespace {

// Cells and tree items are read with room for 259 characters.
const int CellCapacity = 260;

void ReadCell(HWND list, int item, int column, WideString& cell)
{
    cell.Clear();
    if (!cell.Reserve(CellCapacity))
        return;
    LVITEMW request = {};
    request.iSubItem = column;
    request.pszText = cell.Buffer();
    request.cchTextMax = CellCapacity - 1;
    SendMessageW(list, LVM_GETITEMTEXTW, (WPARAM)item, (LPARAM)&request);
    cell.Buffer()[CellCapacity - 1] = 0;
    cell.Recompute();
}

} // namespace

int Clipboard::SetText(HWND owner, const wchar_t* text)
{
    if (!text)
        text = L"";
    // The memory is ready before the clipboard is emptied: a text that
    // cannot be had must not cost the user what the clipboard held.
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    void* target = memory ? GlobalLock(memory) : nullptr;
    if (!target) {
        if (memory)
            GlobalFree(memory);
        return 0;
    }
    memcpy(target, text, bytes);
    GlobalUnlock(memory);
    int done = 0;
    if (OpenClipboard(owner)) {
        EmptyClipboard();
        done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
        CloseClipboard();
    }
    // The clipboard owns the memory only once it has accepted it.
    if (!done)
        GlobalFree(memory);
    return done;
}

void Clipboard::ListSelection(HWND list, WideString& text)
{
    text.Clear();
    HWND header = (HWND)SendMessageW(list, LVM_GETHEADER, 0, 0);
    int columns = header ? (int)SendMessageW(header, HDM_GETITEMCOUNT, 0, 0) : 0;
    WideString cell;
    for (int item = (int)SendMessageW(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED); item >= 0;
         item = (int)SendMessageW(list, LVM_GETNEXTITEM, (WPARAM)item, LVNI_SELECTED)) {
        for (int column = 0; column < columns; ++column) {
            if (column > 0)
                text.Append(L'\t');
            ReadCell(list, item, column, cell);
            text.Append(cell.Text());
        }
        text.Append(L"\r\n");
    }
}

int Clipboard::TreeSelection(HWND tree, WideString& text)
{
    text.Clear();
    HTREEITEM item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    if (!item || !text.Reserve(CellCapacity))
        return 0;
    TVITEMW request = {};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = text.Buffer();
    request.cchTextMax = CellCapacity - 1;
    if (!SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&request))
        return 0;
    text.Buffer()[CellCapacity - 1] = 0;
    text.Recompute();
    return 1;
}
