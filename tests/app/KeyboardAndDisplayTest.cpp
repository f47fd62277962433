#include <gtest/gtest.h>

#include "MainWindowHarness.h"

#include <vector>

namespace {

// The menus that open while it lives: a timer inside each menu's own loop
// notes where the menu window stands and closes it.
class MenuWatch {
public:
    explicit MenuWatch(HWND window) : window_(window)
    {
        Opened().clear();
        SetTimer(window_, 78, 40, &Tick);
    }
    ~MenuWatch() { KillTimer(window_, 78); }
    static std::vector<POINT>& Opened()
    {
        static std::vector<POINT> opened;
        return opened;
    }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        HWND menu = FindWindowW(L"#32768", nullptr);
        RECT rect;
        if (!menu || !IsWindowVisible(menu) || !GetWindowRect(menu, &rect))
            return;
        Opened().push_back({rect.left, rect.top});
        EndMenu();
    }
    HWND window_;
};

void PressShiftF10(HWND control)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(control, WM_SYSKEYDOWN, VK_F10, 0);
    SendMessageW(control, WM_SYSKEYUP, VK_F10, 0xC0000000);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

void PressMenuKey(HWND control)
{
    SendMessageW(control, WM_KEYDOWN, VK_APPS, 0);
    SendMessageW(control, WM_KEYUP, VK_APPS, 0xC0000000);
}

POINT ScreenPoint(HWND control, int x, int y)
{
    POINT point = {x, y};
    ClientToScreen(control, &point);
    return point;
}

::testing::AssertionResult At(POINT expected, const std::vector<POINT>& opened, size_t index)
{
    if (opened.size() <= index)
        return ::testing::AssertionFailure() << "menu " << index << " never opened";
    if (opened[index].x != expected.x || opened[index].y != expected.y)
        return ::testing::AssertionFailure() << "menu " << index << " at " << opened[index].x << ","
                                             << opened[index].y << ", expected " << expected.x << ","
                                             << expected.y;
    return ::testing::AssertionSuccess();
}

void PostRightClick(HWND control, int x, int y)
{
    POINT screen = ScreenPoint(control, x, y);
    SetCursorPos(screen.x, screen.y);
    PostMessageW(control, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y));
    PostMessageW(control, WM_RBUTTONUP, 0, MAKELPARAM(x, y));
}

} // namespace

TEST_F(MainWindowTest, KeysOpenEachMenuAtTheSelectedItemAndARightClickOpensOne)
{
    MenuWatch* watch = nullptr;
    WaitForTree();
    script.Then([&]() {
        watch = new MenuWatch(window.Window());
        std::vector<POINT>& opened = MenuWatch::Opened();
        // Nothing selected: the control's corner.
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, 0);
        PressShiftF10(Tree());
        EXPECT_TRUE(At(ScreenPoint(Tree(), 0, 0), opened, 0)) << "tree, Shift+F10";

        HTREEITEM item = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        PressMenuKey(Tree());
        RECT rect = {}; // where the item is shown, scrolled into view for the menu
        memcpy(&rect, &item, sizeof item);
        SendMessageW(Tree(), TVM_GETITEMRECT, TRUE, (LPARAM)&rect);
        EXPECT_TRUE(At(ScreenPoint(Tree(), rect.left, rect.bottom), opened, 1)) << "tree, menu key";

        SelectListRows(List(), {3});
        PressShiftF10(List());
        rect = {LVIR_LABEL};
        SendMessageW(List(), LVM_GETITEMRECT, 3, (LPARAM)&rect);
        EXPECT_TRUE(At(ScreenPoint(List(), rect.left, rect.bottom), opened, 2)) << "list, Shift+F10";
        PressMenuKey(List());
        EXPECT_TRUE(At(ScreenPoint(List(), rect.left, rect.bottom), opened, 3)) << "list, menu key";

        SelectListRows(List(), {});
        SendMessageW(window.Window(), WM_CONTEXTMENU, (WPARAM)List(), MAKELPARAM(-1, -1));
        EXPECT_TRUE(At(ScreenPoint(List(), 0, 0), opened, 4)) << "list, nothing selected";
        EXPECT_EQ(5u, opened.size());

        // A right click is reported as NM_RCLICK and must not come back as
        // WM_CONTEXTMENU for a second menu.
        SelectListRows(List(), {0});
        rect = {LVIR_LABEL};
        SendMessageW(List(), LVM_GETITEMRECT, 0, (LPARAM)&rect);
        PostRightClick(List(), rect.left + 4, (rect.top + rect.bottom) / 2);
        return true;
    });
    script.Wait(400);
    script.Then([&]() {
        EXPECT_EQ(6u, MenuWatch::Opened().size()) << "one menu for one right click in the list";
        HTREEITEM item = (HTREEITEM)SendMessageW(Tree(), TVM_GETNEXTITEM, TVGN_CARET, 0);
        RECT rect = {};
        memcpy(&rect, &item, sizeof item);
        SendMessageW(Tree(), TVM_GETITEMRECT, TRUE, (LPARAM)&rect);
        PostRightClick(Tree(), rect.left + 2, (rect.top + rect.bottom) / 2);
        return true;
    });
    script.Wait(400);
    script.Then([&]() {
        EXPECT_EQ(7u, MenuWatch::Opened().size()) << "one menu for one right click in the tree";
        delete watch;
        return true;
    });
    EXPECT_EQ(42, script.Run());
}
