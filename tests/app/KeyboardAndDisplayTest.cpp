// What a Windows user meets that Wine does not do by itself: menus from the
// keyboard, DPI changes, high contrast, screen readers. Where Wine has no
// such state, the test plays the system's part through OptionalApi.
#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "app/Clipboard.h"

#include <oleacc.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

typedef std::pair<LONG, LONG> Point;

Point Screen(HWND control, LONG x, LONG y)
{
    POINT point = {x, y};
    ClientToScreen(control, &point);
    return {point.x, point.y};
}

// Where each menu opened. A timer inside the menu's own loop notes it and
// closes the menu, unless WhileOpen (asked at every tick) keeps it open.
std::vector<Point> Opened;
std::function<bool(int tick)> WhileOpen;
int Tick = 0; // of the menu open now

void CALLBACK WatchMenus(HWND, UINT, UINT_PTR, DWORD)
{
    HWND menu = FindWindowW(L"#32768", nullptr);
    RECT rect;
    if (!menu || !IsWindowVisible(menu) || !GetWindowRect(menu, &rect))
        return;
    if (Tick++ == 0)
        Opened.push_back({rect.left, rect.top});
    if (!WhileOpen || WhileOpen(Tick)) {
        Tick = 0;
        EndMenu();
    }
}

void WatchMenus(HWND window, std::function<bool(int)> whileOpen = nullptr)
{
    Opened.clear();
    Tick = 0;
    WhileOpen = std::move(whileOpen);
    SetTimer(window, 78, 40, &WatchMenus);
}

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

RECT TreeItemRect(HWND tree, HTREEITEM item)
{
    RECT rect = {};
    memcpy(&rect, &item, sizeof item);
    SendMessageW(tree, TVM_GETITEMRECT, TRUE, (LPARAM)&rect);
    return rect;
}

RECT ListLabelRect(HWND list, int item)
{
    RECT rect = {LVIR_LABEL};
    SendMessageW(list, LVM_GETITEMRECT, item, (LPARAM)&rect);
    return rect;
}

void PostRightClick(HWND control, const RECT& item)
{
    int x = item.left + 3, y = (item.top + item.bottom) / 2;
    Point screen = Screen(control, x, y);
    SetCursorPos(screen.first, screen.second);
    PostMessageW(control, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(x, y));
    PostMessageW(control, WM_RBUTTONUP, 0, MAKELPARAM(x, y));
}

// Tells when a control has handled a posted right click whole: the press has
// been handled (its drag detection, notifications and every menu they
// opened) and the release is neither waiting in the queue nor being handled.
// Until then another menu could still open; after it, none can.
class RightClickWatch {
public:
    explicit RightClickWatch(HWND control) : control_(control)
    {
        SetWindowSubclass(control_, Proc, (UINT_PTR)this, (DWORD_PTR)this);
    }
    ~RightClickWatch() { RemoveWindowSubclass(control_, Proc, (UINT_PTR)this); }
    RightClickWatch(const RightClickWatch&) = delete;
    RightClickWatch& operator=(const RightClickWatch&) = delete;

    bool Handled() const
    {
        MSG pending;
        return pressesDone_ > 0 && releasesBegun_ == releasesDone_ &&
               !PeekMessageW(&pending, control_, WM_RBUTTONUP, WM_RBUTTONUP, PM_NOREMOVE);
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR data)
    {
        RightClickWatch* watch = (RightClickWatch*)data;
        if (message == WM_RBUTTONUP)
            ++watch->releasesBegun_;
        LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        if (message == WM_RBUTTONDOWN)
            ++watch->pressesDone_;
        if (message == WM_RBUTTONUP)
            ++watch->releasesDone_;
        return result;
    }

    HWND control_;
    int pressesDone_ = 0;
    int releasesBegun_ = 0;
    int releasesDone_ = 0;
};

} // namespace

TEST_F(MainWindowTest, KeysOpenEachMenuAtTheSelectedItemAndARightClickOpensOne)
{
    std::unique_ptr<RightClickWatch> click;
    WaitForTree();
    script.Then([&]() {
        WatchMenus(window.Window());
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, 0);
        PressShiftF10(Tree()); // nothing selected: the control's corner
        HTREEITEM item = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        PressMenuKey(Tree());
        RECT tree = TreeItemRect(Tree(), item); // as scrolled into view for the menu
        SelectListRows(List(), {3});
        PressShiftF10(List());
        PressMenuKey(List());
        RECT row = ListLabelRect(List(), 3);
        SelectListRows(List(), {});
        SendMessageW(window.Window(), WM_CONTEXTMENU, (WPARAM)List(), MAKELPARAM(-1, -1));
        EXPECT_EQ((std::vector<Point>{Screen(Tree(), 0, 0), Screen(Tree(), tree.left, tree.bottom),
                                      Screen(List(), row.left, row.bottom), Screen(List(), row.left, row.bottom),
                                      Screen(List(), 0, 0)}),
                  Opened);
        // A right click, reported as NM_RCLICK, must not come back as
        // WM_CONTEXTMENU for a second menu.
        SelectListRows(List(), {0});
        click.reset(new RightClickWatch(List()));
        PostRightClick(List(), ListLabelRect(List(), 0));
        return true;
    });
    script.Then([&]() { return click->Handled(); });
    script.Then([&]() {
        EXPECT_EQ(6u, Opened.size()) << "one menu for one right click in the list";
        click.reset(new RightClickWatch(Tree()));
        PostRightClick(Tree(), TreeItemRect(Tree(), (HTREEITEM)SendMessageW(Tree(), TVM_GETNEXTITEM, TVGN_CARET, 0)));
        return true;
    });
    script.Then([&]() { return click->Handled(); });
    script.Then([&]() {
        click.reset();
        EXPECT_EQ(7u, Opened.size()) << "one menu for one right click in the tree";
        KillTimer(window.Window(), 78);
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, MenuItemsCarryTheirLocalizedTextsAndTheirLettersChooseThem)
{
    window.Strings().SetSelector(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    WaitForTree();
    script.Then([&]() {
        HTREEITEM item = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        SelectListRows(List(), {1});
        Clipboard::SetText(window.Window(), L"untouched");
        WatchMenus(window.Window(), [&](int tick) {
            if (tick > 1)
                return tick > 25; // the letter chose nothing
            // A screen reader reads the item's own string.
            HMENU popup = window.Menu().Popup();
            wchar_t text[64] = {};
            GetMenuStringW(popup, ID_LIST_COPY, text, 64, MF_BYCOMMAND);
            EXPECT_STREQ(L"&Kopieren", text);
            GetMenuStringW(popup, ID_LIST_REFRESH, text, 64, MF_BYCOMMAND);
            EXPECT_STREQ(L"&Aktualisieren", text);
            EXPECT_EQ(MAKELRESULT(1, MNC_EXECUTE),
                      SendMessageW(window.Window(), WM_MENUCHAR, MAKEWPARAM('a', MF_POPUP), (LPARAM)popup));
            EXPECT_EQ(0, SendMessageW(window.Window(), WM_MENUCHAR, MAKEWPARAM('c', MF_POPUP), (LPARAM)popup));
            PostMessageW(window.Window(), WM_CHAR, 'k', 0);
            return false;
        });
        PressMenuKey(List());
        return true;
    });
    script.Then([&]() { return ClipboardText() != L"untouched"; });
    script.Then([&]() {
        KillTimer(window.Window(), 78);
        EXPECT_EQ(ListCell(List(), 1, 0), ClipboardText().substr(0, ClipboardText().find(L'\t')));
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

namespace {

int IconWidth(HWND window, WPARAM which)
{
    ICONINFO info = {};
    if (!GetIconInfo((HICON)SendMessageW(window, WM_GETICON, which, 0), &info))
        return 0;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

// Image 0 of a list of 24-pixel icons, drawn on white.
std::vector<COLORREF> FirstImage(HIMAGELIST images)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, CreateCompatibleBitmap(screen, 24, 24));
    PatBlt(dc, 0, 0, 24, 24, WHITENESS);
    ImageList_Draw(images, 0, dc, 0, 0, ILD_TRANSPARENT);
    std::vector<COLORREF> pixels;
    for (int i = 0; i < 24 * 24; ++i)
        pixels.push_back(GetPixel(dc, i % 24, i / 24));
    DeleteObject(SelectObject(dc, old));
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// A move to a monitor of `dpi` as the system tells a per-monitor (v2)
// dialog and its children.
void AnnounceDpi(HWND dialog, UINT dpi, RECT suggested)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    for (HWND child : children)
        SendMessageW(child, WM_DPICHANGED_BEFOREPARENT, 0, 0);
    SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), (LPARAM)&suggested);
    for (HWND child : children)
        SendMessageW(child, WM_DPICHANGED_AFTERPARENT, 0, 0);
}

} // namespace

TEST_F(MainWindowTest, ADpiChangeReloadsIconsAndGripAtTheNewSize)
{
    FakeSystem system;
    int grip96 = GetSystemMetrics(SM_CXHSCROLL);
    auto inGrip = [&](int inset) {
        RECT rect;
        GetWindowRect(window.Window(), &rect);
        LPARAM point = MAKELPARAM(rect.right - inset, rect.bottom - inset);
        return SendMessageW(window.Window(), WM_NCHITTEST, 0, point) == HTBOTTOMRIGHT;
    };
    WaitForTree();
    script.Then([&]() {
        EXPECT_EQ(16, IconWidth(window.Window(), ICON_SMALL));
        EXPECT_FALSE(inGrip(grip96 + 4));
        RECT rect;
        GetWindowRect(window.Window(), &rect);
        FakeSystem::dpi = 144;
        AnnounceDpi(window.Window(), 144, rect);

        EXPECT_EQ(24, IconWidth(window.Window(), ICON_SMALL));
        EXPECT_EQ(48, IconWidth(window.Window(), ICON_BIG));
        EXPECT_TRUE(inGrip(grip96 + 4)) << "the grip measured again at 144 DPI";
        EXPECT_FALSE(inGrip(grip96 * 3 / 2 + 4));
        EXPECT_EQ(24, window.Tree().Images().Width());
        EXPECT_EQ(24, window.List().SmallImages().Width());
        // The row icon is its file's 24-pixel image, not the 16-pixel one stretched.
        ImageList file;
        file.Create(24, 24, 1, 1);
        file.AddIconResource(GetModuleHandleW(nullptr), IDI_PROPERTY);
        EXPECT_EQ(FirstImage(file.Handle()), FirstImage(window.List().SmallImages().Handle()));
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

namespace {

Point Colours(const NMTVCUSTOMDRAW& draw)
{
    return {(LONG)draw.clrText, (LONG)draw.clrTextBk};
}

Point SystemPair(int text, int back)
{
    return {(LONG)GetSysColor(text), (LONG)GetSysColor(back)};
}

} // namespace

TEST_F(MainWindowTest, HighContrastTakesTheSystemsColourPairs)
{
    FakeSystem system;
    WaitForTree();
    script.Then([&]() {
        HTREEITEM problem = FindTreeNode(Tree(), [](const DeviceNode* n) { return n && (n->status & 0x400); });
        SetFocus(Tree());
        EXPECT_EQ((COLORREF)MainWindow::ProblemColour, DrawTreeItem(window.Window(), Tree(), problem, false).clrText);
        // Without visual styles the selection is the classic highlight: red unreadable on it.
        EXPECT_EQ(SystemPair(COLOR_HIGHLIGHTTEXT, COLOR_HIGHLIGHT),
                  Colours(DrawTreeItem(window.Window(), Tree(), problem, true)));
        FakeSystem::highContrast = true;
        EXPECT_EQ(SystemPair(COLOR_GRAYTEXT, COLOR_WINDOW), Colours(DrawTreeItem(window.Window(), Tree(), problem, false)));
        EXPECT_EQ(SystemPair(COLOR_HIGHLIGHTTEXT, COLOR_HIGHLIGHT),
                  Colours(DrawTreeItem(window.Window(), Tree(), problem, true)));
        // The switch to high contrast reaches every window as WM_THEMECHANGED.
        SendMessageW(window.Item(IDC_LINK), WM_THEMECHANGED, 0, 0);
        EXPECT_EQ(GetSysColor(COLOR_HOTLIGHT), window.Link().NormalColour());
        EXPECT_EQ(GetSysColor(COLOR_HOTLIGHT), window.Link().HoverColour());
        WatchMenus(window.Window());
        PressShiftF10(Tree());
        KillTimer(window.Window(), 78);
        const MenuColours& menu = window.Menu().Colours();
        EXPECT_EQ(SystemPair(COLOR_HIGHLIGHTTEXT, COLOR_HIGHLIGHT), Point(menu.selectedText, menu.selection))
            << "the menu's selection: no tint under the text";
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

namespace {

// The name the platform's accessibility layer gives a window's client
// object, as a screen reader asks for it.
std::wstring AccessibleName(HWND window)
{
    typedef HRESULT(WINAPI * FromWindow)(HWND, DWORD, REFIID, void**);
    static FromWindow fromWindow = (FromWindow)GetProcAddress(LoadLibraryW(L"oleacc.dll"), "AccessibleObjectFromWindow");
    const IID accessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    IAccessible* object = nullptr;
    if (!fromWindow || FAILED(fromWindow(window, (DWORD)OBJID_CLIENT, accessible, (void**)&object)))
        return L"<no accessible object>";
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::wstring text = SUCCEEDED(object->get_accName(self, &name)) && name ? name : L"<no name>";
    SysFreeString(name);
    object->Release();
    return text;
}

} // namespace

TEST_F(MainWindowTest, TreeAndListAreNamedInTheUsersLanguageAndTheLinkIsATabStop)
{
    window.Strings().SetSelector(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    WaitForTree();
    script.Then([&]() {
        EXPECT_EQ(L"Ger\u00e4te", AccessibleName(Tree()));
        EXPECT_EQ(L"Eigenschaften", AccessibleName(List()));
        EXPECT_EQ(L"www.tollbrook.example", AccessibleName(window.Item(IDC_LINK)));
        SetFocus(window.Item(IDC_AUTO_UPDATE));
        PostMessageW(window.Item(IDC_AUTO_UPDATE), WM_KEYDOWN, VK_TAB, 0);
        return true;
    });
    script.Then([&]() {
        EXPECT_EQ(window.Item(IDC_LINK), GetFocus()) << "Tab moves from the check box to the link";
        return true;
    });
    EXPECT_EQ(42, script.Run());
}
