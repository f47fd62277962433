#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "ToolkitDialog.h"

namespace {

void FillPanes(ToolkitDialog& dialog)
{
    HWND tree = dialog.Item(IDC_TK_TREE);
    TVINSERTSTRUCTW insert = {};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = (wchar_t*)L"Root";
    HTREEITEM root = (HTREEITEM)SendMessageW(tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
    insert.hParent = root;
    for (const wchar_t* name : {L"ACPI x86-based PC", L"USB Root Hub", L"Generic monitor", L"Disk drive"}) {
        insert.item.pszText = (wchar_t*)name;
        SendMessageW(tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
    }
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)root);

    HWND list = dialog.Item(IDC_TK_LIST);
    LVCOLUMNW column = {LVCF_TEXT | LVCF_WIDTH};
    column.cx = 120;
    column.pszText = (wchar_t*)L"Key";
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, (LPARAM)&column);
    column.pszText = (wchar_t*)L"Value";
    column.cx = 160;
    SendMessageW(list, LVM_INSERTCOLUMNW, 1, (LPARAM)&column);
    const wchar_t* rows[][2] = {{L"DevInstance", L"0x2B"}, {L"Device Id", L"USB\\ROOT_HUB30"}, {L"Status", L"Started"}};
    for (int i = 0; i < 3; ++i) {
        LVITEMW item = {LVIF_TEXT};
        item.iItem = i;
        item.pszText = (wchar_t*)rows[i][0];
        SendMessageW(list, LVM_INSERTITEMW, 0, (LPARAM)&item);
        item.iSubItem = 1;
        item.pszText = (wchar_t*)rows[i][1];
        SendMessageW(list, LVM_SETITEMTEXTW, i, (LPARAM)&item);
    }
}

} // namespace

// All four together, as the main window will have them: the layout holds
// after a resize and a drag. tools/screenshot.sh toolkit photographs it.
TEST(ToolkitDialog, TheFurnishedDialogKeepsItsLayoutWhenResizedAndSplit)
{
    FakeDpi::Reset();
    ToolkitDialog dialog;
    dialog.Furnish();
    dialog.filter.SetCueBanner(L"Filter");
    FillPanes(dialog);
    SetWindowPos(dialog.Window(), nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    dialog.Show();
    RECT window = dialog.WindowRect();
    RECT exitBefore = dialog.ItemRect(IDC_TK_EXIT), filterBefore = dialog.ItemRect(IDC_TK_FILTER);
    dialog.Resize(Width(window) + 120, Height(window) + 60);

    HWND divider = dialog.Item(IDC_TK_DIVIDER);
    RECT bar;
    GetWindowRect(divider, &bar);
    PostMessageW(divider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 20));
    PostMessageW(divider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(42, 20));
    PostMessageW(divider, WM_LBUTTONUP, 0, MAKELPARAM(42, 20));
    ToolkitDialog::Pump();

    RECT client, tree = dialog.ItemRect(IDC_TK_TREE), list = dialog.ItemRect(IDC_TK_LIST);
    RECT filter = dialog.ItemRect(IDC_TK_FILTER), exitButton = dialog.ItemRect(IDC_TK_EXIT);
    GetClientRect(dialog.Window(), &client);
    EXPECT_EQ(exitBefore.left + 120, exitButton.left);
    EXPECT_EQ(exitBefore.top + 60, exitButton.top);
    EXPECT_EQ(Width(filterBefore) + 120, Width(filter));
    EXPECT_LT(list.bottom, filter.top) << "the panes stay above the bottom row";
    EXPECT_EQ(tree.bottom, list.bottom);
    EXPECT_EQ(dialog.ItemRect(IDC_TK_DIVIDER).left, tree.right);
    EXPECT_EQ(client.right - list.right, client.right - exitButton.right) << "one right margin";

    wchar_t hold[16] = {};
    if (GetEnvironmentVariableW(L"QUILL_SCREENSHOT_HOLD", hold, 16))
        ToolkitDialog::WaitFor([]() { return false; }, (DWORD)_wtoi(hold));
}
