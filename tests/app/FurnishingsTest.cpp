#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "app/Clipboard.h"
#include "services/RegistryKey.h"

namespace {

// What a test does while a context menu's own loop runs: it looks at the
// menu, then picks a command (or 0 to dismiss the menu).
std::function<UINT()> WhileMenuIsOpen;
HWND MenuOwner = nullptr;

void CALLBACK InsideMenuLoop(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    UINT command = WhileMenuIsOpen ? WhileMenuIsOpen() : 0;
    EndMenu();
    if (command)
        PostMessageW(MenuOwner, WM_COMMAND, command, 0);
}

// Right-clicks a control of the main window as the control reports it.
void RightClick(MainWindow& window, HWND control, std::function<UINT()> inside)
{
    WhileMenuIsOpen = std::move(inside);
    MenuOwner = window.Window();
    SetTimer(window.Window(), 77, 200, InsideMenuLoop);
    NMHDR click = {control, (UINT_PTR)GetDlgCtrlID(control), (UINT)NM_RCLICK};
    SendMessageW(window.Window(), WM_NOTIFY, click.idFrom, (LPARAM)&click);
}

bool Grayed(MainWindow& window, UINT command)
{
    return (window.Menu().ItemState(command, PopupMenu::ByCommand) & MF_GRAYED) != 0;
}

void WriteFlags(const ScopedTestKey& key, const void* data, DWORD size, DWORD type)
{
    RegistryKey settings;
    ASSERT_TRUE(settings.CreateWrite(key.Root(), key.Path()));
    ASSERT_TRUE(settings.WriteBlock(L"Flags", data, size, type));
}

unsigned long long StoredFlags(const ScopedTestKey& key)
{
    RegistryKey settings;
    unsigned long long flags = 0xDEAD;
    if (!settings.OpenRead(key.Root(), key.Path()) || !settings.ReadNumber(L"Flags", &flags))
        return 0xDEAD;
    return flags;
}

} // namespace

TEST_F(MainWindowTest, ListMenuGraysCopyWithoutSelectedRowsAndCopies)
{
    WaitForTree();
    script.Then([&]() {
        HTREEITEM item = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        SelectListRows(List(), {});
        RightClick(window, List(), [&]() {
            EXPECT_STREQ(L"Copy", window.Menu().ItemText(ID_LIST_COPY, PopupMenu::ByCommand));
            EXPECT_STREQ(L"Refresh", window.Menu().ItemText(ID_LIST_REFRESH, PopupMenu::ByCommand));
            EXPECT_TRUE(Grayed(window, ID_LIST_COPY));
            EXPECT_FALSE(Grayed(window, ID_LIST_REFRESH));
            return 0u;
        });
        return true;
    });
    script.Wait(300);
    script.Then([&]() {
        Clipboard::SetText(L"untouched");
        SelectListRows(List(), {1});
        RightClick(window, List(), [&]() {
            EXPECT_FALSE(Grayed(window, ID_LIST_COPY)) << "a row is selected";
            return (UINT)ID_LIST_COPY;
        });
        return true;
    });
    script.Then([&]() { return ClipboardText() != L"untouched"; });
    script.Then([&]() {
        std::wstring row = ListCell(List(), 1, 0) + L"\t" + ListCell(List(), 1, 1) + L"\t" +
                           ListCell(List(), 1, 2) + L"\t" + ListCell(List(), 1, 3) + L"\r\n";
        EXPECT_EQ(row, ClipboardText());
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, TreeMenuSelectsTheRightClickedItemAndRefreshes)
{
    HTREEITEM clicked = nullptr;
    WaitForTree();
    script.Then([&]() {
        // No item under the click and none selected: Copy has nothing to copy.
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, 0);
        RightClick(window, Tree(), [&]() {
            EXPECT_STREQ(L"Copy", window.Menu().ItemText(ID_TREE_COPY, PopupMenu::ByCommand));
            EXPECT_TRUE(Grayed(window, ID_TREE_COPY));
            return 0u;
        });
        return true;
    });
    script.Wait(300);
    script.Then([&]() {
        // The control marks the item under a right click as drop target.
        clicked = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_DROPHILITE, (LPARAM)clicked);
        RightClick(window, Tree(), [&]() {
            EXPECT_FALSE(Grayed(window, ID_TREE_COPY));
            EXPECT_EQ(clicked, (HTREEITEM)SendMessageW(Tree(), TVM_GETNEXTITEM, TVGN_CARET, 0));
            EXPECT_GT(ListCount(List()), 30) << "selecting it filled the list";
            return (UINT)ID_TREE_REFRESH;
        });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_DROPHILITE, 0);
        return true;
    });
    // Refresh rebuilds the tree, which leaves nothing selected and the list empty.
    script.Then([&]() { return ListCount(List()) == 0 && TreeCount(Tree()) > 1; });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, UpdateCheckBoxKeepsTheOtherFlagBits)
{
    const DWORD stored = 0x80000010;
    WriteFlags(settings, &stored, sizeof(stored), REG_DWORD);
    WaitForTree();
    script.Then([&]() {
        EXPECT_EQ(1, window.IsButtonChecked(IDC_AUTO_UPDATE)) << "bit 0 clear: the check is on";
        SendMessageW(window.Item(IDC_AUTO_UPDATE), BM_CLICK, 0, 0);
        EXPECT_EQ(0, window.IsButtonChecked(IDC_AUTO_UPDATE));
        PostMessageW(window.Item(IDC_EXIT), BM_CLICK, 0, 0);
        return true;
    });
    script.Wait(5000);
    EXPECT_EQ(1, script.Run());
    EXPECT_EQ(0x80000011u, StoredFlags(settings));

    MainWindow again;
    again.UseSettingsKey(settings.Root(), settings.Path());
    WindowScript next(again);
    next.Then([&]() {
        EXPECT_EQ(0, again.IsButtonChecked(IDC_AUTO_UPDATE)) << "switched off at the last run";
        return true;
    });
    EXPECT_EQ(42, next.Run());
    EXPECT_EQ(0x80000011u, StoredFlags(settings));
}

TEST_F(MainWindowTest, HostileFlagsLeaveTheCheckOn)
{
    const wchar_t garbage[] = L"\x7777\x0001garbage";
    WriteFlags(settings, garbage, sizeof(garbage), REG_SZ);
    WaitForTree();
    script.Then([&]() {
        EXPECT_EQ(1, window.IsButtonChecked(IDC_AUTO_UPDATE));
        return true;
    });
    EXPECT_EQ(42, script.Run());
    EXPECT_EQ(0u, StoredFlags(settings)) << "written back as a number";
}

TEST_F(MainWindowTest, SizeGripAnswersInTheCornerOfTheWindow)
{
    WaitForTree();
    script.Then([&]() {
        RECT client;
        GetClientRect(window.Window(), &client);
        POINT corner = {client.right - 2, client.bottom - 2};
        POINT middle = {client.right / 2, client.bottom / 2};
        ClientToScreen(window.Window(), &corner);
        ClientToScreen(window.Window(), &middle);
        // Through the dialog's own procedure: the answer is the message result.
        EXPECT_EQ(HTBOTTOMRIGHT, SendMessageW(window.Window(), WM_NCHITTEST, 0, MAKELPARAM(corner.x, corner.y)));
        EXPECT_NE(HTBOTTOMRIGHT, SendMessageW(window.Window(), WM_NCHITTEST, 0, MAKELPARAM(middle.x, middle.y)));
        return true;
    });
    EXPECT_EQ(42, script.Run());
}
