#include <gtest/gtest.h>

#include "MainWindowHarness.h"
#include "app/Clipboard.h"

#include <oleacc.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// The menus that open while it lives: a timer inside each menu's own loop
// notes where the menu window stands and closes it, unless the test's
// action (called at every tick while a menu is open) says to leave it open.
class MenuWatch {
public:
    typedef std::function<bool(int tick)> Action; // true: close the menu now
    explicit MenuWatch(HWND window, Action action = nullptr) : window_(window)
    {
        Opened().clear();
        CurrentAction() = std::move(action);
        ticks_ = 0;
        SetTimer(window_, 78, 40, &Tick);
    }
    ~MenuWatch()
    {
        KillTimer(window_, 78);
        CurrentAction() = nullptr;
    }
    static std::vector<POINT>& Opened()
    {
        static std::vector<POINT> opened;
        return opened;
    }

private:
    static Action& CurrentAction()
    {
        static Action action;
        return action;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        HWND menu = FindWindowW(L"#32768", nullptr);
        RECT rect;
        if (!menu || !IsWindowVisible(menu) || !GetWindowRect(menu, &rect))
            return;
        if (ticks_++ == 0)
            Opened().push_back({rect.left, rect.top});
        if (!CurrentAction() || CurrentAction()(ticks_)) {
            ticks_ = 0;
            EndMenu();
        }
    }
    static inline int ticks_ = 0;
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

namespace {

// The system as a test needs it: the DPI and the accessibility settings
// come from the test, everything else from the system.
struct FakeSystem {
    static UINT dpi;
    static bool highContrast;
    static UINT WINAPI DpiForWindow(HWND) { return dpi; }
    static int WINAPI MetricForDpi(int index, UINT forDpi)
    {
        return MulDiv(GetSystemMetrics(index), (int)forDpi, 96);
    }
    static BOOL WINAPI Parameters(UINT action, UINT param, void* data, UINT winIni)
    {
        if (action != SPI_GETHIGHCONTRAST)
            return SystemParametersInfoW(action, param, data, winIni);
        HIGHCONTRASTW* contrast = (HIGHCONTRASTW*)data;
        contrast->dwFlags = highContrast ? HCF_HIGHCONTRASTON : 0;
        return TRUE;
    }
    FakeSystem()
    {
        dpi = 96;
        highContrast = false;
        OptionalApiTable table = {};
        table.GetDpiForWindow = &DpiForWindow;
        table.GetSystemMetricsForDpi = &MetricForDpi;
        table.SystemParametersInfoW = &Parameters;
        table.MonitorFromPoint = &::MonitorFromPoint;
        table.GetMonitorInfoW = &::GetMonitorInfoW;
        OptionalApi::Shared().UseFixedTable(table);
    }
    ~FakeSystem() { OptionalApi::Shared().UseSystem(); }
};
UINT FakeSystem::dpi = 96;
bool FakeSystem::highContrast = false;

int IconWidth(HICON icon)
{
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info))
        return 0;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

// The pixels of an icon drawn at `size` on white.
std::vector<COLORREF> Pixels(const std::function<void(HDC)>& draw, int size)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all = {0, 0, size, size};
    FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    draw(dc);
    std::vector<COLORREF> pixels;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The messages of a move to a monitor of `dpi`, as the system sends them to
// a per-monitor (v2) dialog and its children.
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
        RECT window;
        GetWindowRect(this->window.Window(), &window);
        LPARAM point = MAKELPARAM(window.right - inset, window.bottom - inset);
        return SendMessageW(this->window.Window(), WM_NCHITTEST, 0, point) == HTBOTTOMRIGHT;
    };
    WaitForTree();
    script.Then([&]() {
        EXPECT_EQ(16, IconWidth((HICON)SendMessageW(window.Window(), WM_GETICON, ICON_SMALL, 0)));
        EXPECT_FALSE(inGrip(grip96 + 4)) << "beyond the grip at 96 DPI";
        RECT rect;
        GetWindowRect(window.Window(), &rect);
        FakeSystem::dpi = 144;
        AnnounceDpi(window.Window(), 144, rect);
        return true;
    });
    script.Then([&]() { return !window.Tree().Images().Handle() || window.Tree().Images().Width() == 24; });
    script.Then([&]() {
        EXPECT_EQ(24, IconWidth((HICON)SendMessageW(window.Window(), WM_GETICON, ICON_SMALL, 0)));
        EXPECT_EQ(48, IconWidth((HICON)SendMessageW(window.Window(), WM_GETICON, ICON_BIG, 0)));
        EXPECT_TRUE(inGrip(grip96 + 4)) << "the grip measured again at 144 DPI";
        EXPECT_FALSE(inGrip(grip96 * 3 / 2 + 4));
        EXPECT_EQ(24, window.Tree().Images().Width());
        const ImageList& rows = window.List().SmallImages();
        EXPECT_EQ(24, rows.Width());
        // The row icon is the 24-pixel image of its file, not the 16-pixel one stretched.
        HICON file = (HICON)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROPERTY), IMAGE_ICON,
                                       24, 24, 0);
        ImageList fresh;
        fresh.Create(24, 24, 1, 1);
        fresh.AddIcon(file);
        EXPECT_EQ(Pixels([&](HDC dc) { ImageList_Draw(fresh.Handle(), 0, dc, 0, 0, ILD_TRANSPARENT); }, 24),
                  Pixels([&](HDC dc) { ImageList_Draw(rows.Handle(), 0, dc, 0, 0, ILD_TRANSPARENT); }, 24));
        DestroyIcon(file);
        return true;
    });
    EXPECT_EQ(42, script.Run());
}

TEST_F(MainWindowTest, MenuItemsCarryTheirLocalizedTextsAndTheirLettersChooseThem)
{
    window.Strings().SetSelector(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
    MenuWatch* watch = nullptr;
    WaitForTree();
    script.Then([&]() {
        HTREEITEM item = FindTreeNode(Tree(), [](const DeviceNode* n) { return n->devnode == 43; });
        SendMessageW(Tree(), TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        SelectListRows(List(), {1});
        Clipboard::SetText(window.Window(), L"untouched");
        watch = new MenuWatch(window.Window(), [&](int tick) {
            if (tick > 1)
                return tick > 25; // the letter chose nothing
            // What a screen reader reads is the item's own string.
            wchar_t text[64] = {};
            GetMenuStringW(window.Menu().Popup(), ID_LIST_COPY, text, 64, MF_BYCOMMAND);
            EXPECT_STREQ(L"&Kopieren", text);
            GetMenuStringW(window.Menu().Popup(), ID_LIST_REFRESH, text, 64, MF_BYCOMMAND);
            EXPECT_STREQ(L"&Aktualisieren", text);
            HMENU popup = window.Menu().Popup();
            EXPECT_EQ(MAKELRESULT(1, MNC_EXECUTE),
                      SendMessageW(window.Window(), WM_MENUCHAR, MAKEWPARAM('a', MF_POPUP), (LPARAM)popup));
            EXPECT_EQ(0, SendMessageW(window.Window(), WM_MENUCHAR, MAKEWPARAM('c', MF_POPUP), (LPARAM)popup))
                << "the English letter chooses nothing";
            PostMessageW(window.Window(), WM_CHAR, 'k', 0);
            return false;
        });
        PressMenuKey(List());
        return true;
    });
    script.Then([&]() { return ClipboardText() != L"untouched"; });
    script.Then([&]() {
        EXPECT_EQ(ListCell(List(), 1, 0) + L"\t" + ListCell(List(), 1, 1) + L"\t" + ListCell(List(), 1, 2) +
                      L"\t" + ListCell(List(), 1, 3) + L"\r\n",
                  ClipboardText());
        delete watch;
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
    static HMODULE oleacc = LoadLibraryW(L"oleacc.dll");
    FromWindow fromWindow = oleacc ? (FromWindow)GetProcAddress(oleacc, "AccessibleObjectFromWindow") : nullptr;
    const IID accessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    IAccessible* object = nullptr;
    if (!fromWindow || FAILED(fromWindow(window, (DWORD)OBJID_CLIENT, accessible, (void**)&object)) || !object)
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
    const struct {
        LANGID language;
        const wchar_t* tree;
        const wchar_t* list;
    } languages[] = {
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"Devices", L"Properties"},
        {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), L"Ger\u00e4te", L"Eigenschaften"},
    };
    for (const auto& language : languages) {
        MainWindow named;
        UseTestSettings(named, settings);
        named.Strings().SetSelector(language.language);
        WindowScript run(named);
        run.Then([&]() { return TreeCount(named.Item(IDC_TREE)) > 1; });
        run.Then([&]() {
            EXPECT_EQ(language.tree, AccessibleName(named.Item(IDC_TREE)));
            EXPECT_EQ(language.list, AccessibleName(named.Item(IDC_LIST)));
            EXPECT_EQ(L"www.tollbrook.example", AccessibleName(named.Item(IDC_LINK)));
            SetFocus(named.Item(IDC_AUTO_UPDATE));
            PostMessageW(named.Item(IDC_AUTO_UPDATE), WM_KEYDOWN, VK_TAB, 0);
            return true;
        });
        run.Then([&]() {
            EXPECT_EQ(named.Item(IDC_LINK), GetFocus()) << "Tab moves from the check box to the link";
            return true;
        });
        EXPECT_EQ(42, run.Run());
    }
}

namespace {

// What the main window answers for a tree item about to be drawn.
NMTVCUSTOMDRAW DrawTreeItem(HWND window, HWND tree, HTREEITEM item, bool selected)
{
    NMTVCUSTOMDRAW draw = {};
    draw.nmcd.hdr = {tree, (UINT_PTR)GetDlgCtrlID(tree), (UINT)NM_CUSTOMDRAW};
    draw.nmcd.dwDrawStage = CDDS_PREPAINT;
    SendMessageW(window, WM_NOTIFY, draw.nmcd.hdr.idFrom, (LPARAM)&draw);
    TVITEMW request = {};
    request.mask = TVIF_PARAM;
    request.hItem = item;
    SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&request);
    draw.nmcd.dwDrawStage = CDDS_ITEMPREPAINT;
    draw.nmcd.dwItemSpec = (DWORD_PTR)item;
    draw.nmcd.lItemlParam = request.lParam;
    draw.nmcd.uItemState = selected ? CDIS_SELECTED : 0;
    draw.clrText = CLR_DEFAULT;
    draw.clrTextBk = CLR_DEFAULT;
    SendMessageW(window, WM_NOTIFY, draw.nmcd.hdr.idFrom, (LPARAM)&draw);
    return draw;
}

} // namespace

TEST_F(MainWindowTest, HighContrastTakesTheSystemsColourPairs)
{
    FakeSystem system;
    MenuWatch* watch = nullptr;
    WaitForTree();
    script.Then([&]() {
        HTREEITEM problem = FindTreeNode(Tree(), [](const DeviceNode* n) { return n && (n->status & 0x400); });
        SetFocus(Tree());
        NMTVCUSTOMDRAW draw = DrawTreeItem(window.Window(), Tree(), problem, false);
        EXPECT_EQ((COLORREF)MainWindow::ProblemColour, draw.clrText) << "red on the window's background";
        // Without visual styles the selection is the classic highlight, and
        // red on it unreadable.
        draw = DrawTreeItem(window.Window(), Tree(), problem, true);
        EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHTTEXT), draw.clrText);
        EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), draw.clrTextBk);

        FakeSystem::highContrast = true;
        draw = DrawTreeItem(window.Window(), Tree(), problem, false);
        EXPECT_EQ(GetSysColor(COLOR_GRAYTEXT), draw.clrText) << "no red in high contrast";
        EXPECT_EQ(GetSysColor(COLOR_WINDOW), draw.clrTextBk);
        draw = DrawTreeItem(window.Window(), Tree(), problem, true);
        EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHTTEXT), draw.clrText);
        EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), draw.clrTextBk);

        // Switching to high contrast reaches every window as WM_THEMECHANGED.
        SendMessageW(window.Item(IDC_LINK), WM_THEMECHANGED, 0, 0);
        EXPECT_EQ(GetSysColor(COLOR_HOTLIGHT), window.Link().NormalColour());
        EXPECT_EQ(GetSysColor(COLOR_HOTLIGHT), window.Link().HoverColour());

        watch = new MenuWatch(window.Window(), [&](int) {
            const MenuColours& colours = window.Menu().Colours();
            EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), colours.selection) << "no tint";
            EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), colours.gradientTop);
            EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHTTEXT), colours.selectedText);
            EXPECT_EQ(GetSysColor(COLOR_MENUTEXT), colours.text);
            return true;
        });
        PressShiftF10(Tree());
        EXPECT_EQ(1u, MenuWatch::Opened().size());
        delete watch;
        return true;
    });
    EXPECT_EQ(42, script.Run());
}
