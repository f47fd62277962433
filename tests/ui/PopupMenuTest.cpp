#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "ControlHost.h"
#include "ui/PopupMenu.h"
#include "ui/wrappers.h"

namespace {

const COLORREF Yellow = RGB(0xE0, 0xE0, 0x20); // icons/yellow.ico, resource IDI_COPY

// A 32-bit memory bitmap standing in for the menu window's device context.
class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        screen_ = GetDC(nullptr);
        dc_ = CreateCompatibleDC(screen_);
        bitmap_ = CreateDIBSection(screen_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        RECT all = {0, 0, width, height};
        HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
        FillRect(dc_, &all, magenta);
        DeleteObject(magenta);
    }
    ~Canvas()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        ReleaseDC(nullptr, screen_);
    }
    HDC Dc() const { return dc_; }
    COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }
    // Columns between `from` and `to` (exclusive) holding a pixel of `colour`.
    std::vector<int> ColumnsWith(COLORREF colour, int from, int to) const
    {
        std::vector<int> columns;
        for (int x = from; x < to && x < width_; ++x)
            for (int y = 0; y < height_; ++y)
                if (At(x, y) == colour) {
                    columns.push_back(x);
                    break;
                }
        return columns;
    }

private:
    int width_;
    int height_;
    HDC screen_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

int TextWidth(const wchar_t* text)
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT font = CreateFontIndirectW(&metrics.lfMenuFont);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    RECT rect = {};
    DrawTextW(dc, text, -1, &rect, DT_SINGLELINE | DT_CALCRECT);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return rect.right;
}

int MenuTextHeight()
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HFONT font = CreateFontIndirectW(&metrics.lfMenuFont);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW text = {};
    GetTextMetricsW(dc, &text);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return text.tmHeight;
}

ULONG_PTR ItemData(HMENU menu, UINT item, BOOL byPosition)
{
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_DATA;
    GetMenuItemInfoW(menu, item, byPosition, &info);
    return info.dwItemData;
}

class PopupMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.SetHandler([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
            if (message == WM_MEASUREITEM) {
                measured++;
                *result = menu.Measure(wParam, lParam);
                return 1;
            }
            if (message == WM_DRAWITEM) {
                drawn++;
                *result = menu.Draw(wParam, lParam);
                return 1;
            }
            if (message == WM_COMMAND)
                commands.push_back(LOWORD(wParam));
            if (message == WM_NULL)
                nulls++;
            return 0;
        });
    }

    void Load(int id = IDM_LIST_MENU)
    {
        ASSERT_EQ(1, menu.Load(id, host.Window(), GetModuleHandleW(nullptr)));
    }

    // WM_MEASUREITEM for the popup's item at `position`, as the system sends it.
    MEASUREITEMSTRUCT Measure(UINT position, HMENU in = nullptr)
    {
        HMENU popup = in ? in : menu.Popup();
        MEASUREITEMSTRUCT measure = {};
        measure.CtlType = ODT_MENU;
        measure.itemID = GetMenuItemID(popup, (int)position);
        measure.itemData = ItemData(popup, position, TRUE);
        measureResult = SendMessageW(host.Window(), WM_MEASUREITEM, 0, (LPARAM)&measure);
        return measure;
    }

    // WM_DRAWITEM for the item at `position` into `canvas`.
    LRESULT Draw(Canvas& canvas, UINT position, UINT state, RECT rect, HMENU in = nullptr)
    {
        HMENU popup = in ? in : menu.Popup();
        DRAWITEMSTRUCT draw = {};
        draw.CtlType = ODT_MENU;
        draw.itemID = GetMenuItemID(popup, (int)position);
        draw.itemAction = ODA_DRAWENTIRE;
        draw.itemState = state;
        draw.hwndItem = (HWND)popup;
        draw.hDC = canvas.Dc();
        draw.rcItem = rect;
        draw.itemData = ItemData(popup, position, TRUE);
        return SendMessageW(host.Window(), WM_DRAWITEM, 0, (LPARAM)&draw);
    }

    int TextLeft() const { return menu.TextGap() + 2 * menu.CellMargin() + menu.IconWidth(); }

    ControlHost host;
    PopupMenu menu;
    LRESULT measureResult = 0;
    int measured = 0;
    int drawn = 0;
    int nulls = 0;
    std::vector<UINT> commands;
};

TEST_F(PopupMenuTest, LoadingConvertsEveryItemToOwnerDrawnWithARecord)
{
    Load(IDM_NESTED_MENU);
    ASSERT_TRUE(menu.Popup());
    EXPECT_NE(menu.Menu(), menu.Popup());
    HMENU inner = GetSubMenu(menu.Popup(), 1);
    ASSERT_TRUE(inner);
    for (HMENU each : {menu.Popup(), inner}) {
        for (int i = 0; i < GetMenuItemCount(each); ++i) {
            MENUITEMINFOW info = {};
            info.cbSize = sizeof info;
            info.fMask = MIIM_FTYPE | MIIM_DATA;
            ASSERT_TRUE(GetMenuItemInfoW(each, (UINT)i, TRUE, &info));
            EXPECT_TRUE(info.fType & MFT_OWNERDRAW) << i;
            ASSERT_TRUE(info.dwItemData);
            EXPECT_EQ(PopupMenu::RecordMarker, *(const DWORD*)info.dwItemData) << "menx";
        }
    }
    EXPECT_STREQ(L"Inner", menu.ItemText(ID_NESTED_INNER, PopupMenu::ByCommand));
    EXPECT_STREQ(L"More", menu.ItemText(1, PopupMenu::ByPosition));

    Load(IDM_LIST_MENU);
    EXPECT_STREQ(L"&Copy\tCtrl+C", menu.ItemText(ID_LIST_COPY, PopupMenu::ByCommand));
    EXPECT_STREQ(L"", menu.ItemText(1, PopupMenu::ByPosition)) << "the separator has a record too";
    EXPECT_EQ(nullptr, menu.ItemText(ID_NESTED_INNER, PopupMenu::ByCommand)) << "the old menu is gone";

    EXPECT_EQ(0, menu.Load(IDM_NO_POPUP, host.Window(), GetModuleHandleW(nullptr)));
    EXPECT_FALSE(menu.Popup());
    EXPECT_EQ(0, menu.Load(4242, host.Window(), GetModuleHandleW(nullptr)));

    ASSERT_EQ(1, menu.LoadForLanguage(IDM_LIST_MENU, host.Window(), GetModuleHandleW(nullptr),
                                      MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)));
    EXPECT_STREQ(L"&Kopieren\tStrg+C", menu.ItemText(ID_LIST_COPY, PopupMenu::ByCommand));
    ASSERT_EQ(1, menu.LoadForLanguage(IDM_LIST_MENU, host.Window(), GetModuleHandleW(nullptr),
                                      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK)));
    EXPECT_STREQ(L"&Copy\tCtrl+C", menu.ItemText(ID_LIST_COPY, PopupMenu::ByCommand));
}

TEST_F(PopupMenuTest, ItemsMeasureFromTheirTextsIconsAndTheMenuFont)
{
    Load();
    EXPECT_EQ(GetSystemMetrics(SM_CXSMICON), menu.IconWidth());
    EXPECT_EQ(5, menu.TextGap());
    EXPECT_EQ(2, menu.CellMargin());
    EXPECT_EQ(10, menu.AcceleratorGap());

    MEASUREITEMSTRUCT separator = Measure(1);
    EXPECT_EQ(1, measureResult);
    EXPECT_EQ(1u, separator.itemWidth);
    EXPECT_EQ((UINT)(GetSystemMetrics(SM_CYMENU) / 3), separator.itemHeight) << "a third of the menu bar";

    int fixed = menu.TextGap() + 3 * menu.CellMargin() + menu.IconWidth();
    int height = (menu.IconHeight() > MenuTextHeight() ? menu.IconHeight() : MenuTextHeight()) + 2 * menu.CellMargin();
    MEASUREITEMSTRUCT refresh = Measure(2);
    EXPECT_EQ((UINT)(fixed + TextWidth(L"Refresh")), refresh.itemWidth);
    EXPECT_EQ((UINT)height, refresh.itemHeight);

    // The accelerator column starts right of the menu's widest text.
    int widest = TextWidth(L"&Copy") > TextWidth(L"Refresh") ? TextWidth(L"&Copy") : TextWidth(L"Refresh");
    MEASUREITEMSTRUCT copy = Measure(0);
    EXPECT_EQ((UINT)(fixed + widest + menu.AcceleratorGap() + TextWidth(L"Ctrl+C")), copy.itemWidth);
    EXPECT_EQ(widest, menu.WidestText());

    ASSERT_EQ(1, menu.SetItemText(ID_LIST_REFRESH, PopupMenu::ByCommand, L"Refresh the whole device tree"));
    EXPECT_EQ((UINT)(fixed + TextWidth(L"Refresh the whole device tree")), Measure(2).itemWidth);
    EXPECT_EQ((UINT)(fixed + TextWidth(L"Refresh the whole device tree") + menu.AcceleratorGap() +
                     TextWidth(L"Ctrl+C")),
              Measure(0).itemWidth)
        << "a longer text elsewhere moves the accelerator";

    menu.SetOptions(PopupMenu::ExtraHeight);
    Load();
    EXPECT_EQ((UINT)(height + 8), Measure(2).itemHeight);
}

TEST_F(PopupMenuTest, ForeignItemsAreLeftToTheirOwners)
{
    Load();
    PopupMenu other;
    ASSERT_EQ(1, other.Load(IDM_TREE_MENU, host.Window(), GetModuleHandleW(nullptr)));
    Canvas canvas(200, 30);
    EXPECT_EQ(0, Draw(canvas, 0, 0, RECT{0, 0, 200, 22}, other.Popup())) << "another menu's item";
    EXPECT_EQ(RGB(255, 0, 255), canvas.At(1, 10)) << "and nothing painted";
    DRAWITEMSTRUCT own = {};
    own.CtlType = ODT_MENU;
    own.hDC = canvas.Dc();
    own.rcItem = RECT{0, 0, 200, 22};
    own.itemData = ItemData(other.Popup(), 0, TRUE);
    EXPECT_EQ(1, other.Draw(0, (LPARAM)&own)) << "its own menu draws it";

    DRAWITEMSTRUCT button = {};
    button.CtlType = ODT_BUTTON;
    button.hDC = canvas.Dc();
    button.itemData = ItemData(menu.Popup(), 0, TRUE);
    EXPECT_EQ(0, SendMessageW(host.Window(), WM_DRAWITEM, 7, (LPARAM)&button));
    // Item data that points nowhere is never read.
    DRAWITEMSTRUCT stray = button;
    stray.CtlType = ODT_MENU;
    stray.itemData = 0x1234;
    EXPECT_EQ(0, SendMessageW(host.Window(), WM_DRAWITEM, 0, (LPARAM)&stray));
    MEASUREITEMSTRUCT measure = {};
    measure.CtlType = ODT_MENU;
    measure.itemData = 0x1234;
    EXPECT_EQ(0, SendMessageW(host.Window(), WM_MEASUREITEM, 0, (LPARAM)&measure));
    EXPECT_EQ(0, menu.Measure(0, 0));
}

TEST_F(PopupMenuTest, ItemsDrawInTheLightScheme)
{
    Load();
    ASSERT_FALSE(menu.Colours().dark) << "Wine's menu text is dark";
    ASSERT_EQ(1, menu.SetItemIcon(ID_LIST_REFRESH, PopupMenu::ByCommand, IDI_COPY));
    EXPECT_EQ(0, menu.SetItemIcon(9999, PopupMenu::ByCommand, IDI_COPY));
    const RECT item = {0, 0, 240, 24};
    const int iconRight = menu.IconWidth() + 2 * menu.CellMargin();

    Canvas plain(240, 24);
    EXPECT_EQ(1, Draw(plain, 2, 0, item));
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), plain.At(0, 1)) << "icon column";
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), plain.At(235, 1)) << "text area";
    EXPECT_EQ(Yellow, plain.At(menu.CellMargin() + menu.IconWidth() / 2, 12)) << "the icon";
    EXPECT_FALSE(plain.ColumnsWith(GetSysColor(COLOR_MENUTEXT), TextLeft(), 240).empty()) << "the text";
    EXPECT_TRUE(plain.ColumnsWith(GetSysColor(COLOR_MENUTEXT), iconRight, TextLeft()).empty());

    Canvas selected(240, 24);
    EXPECT_EQ(1, Draw(selected, 2, ODS_SELECTED, item));
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), selected.At(120, 0)) << "the outline";
    // Top to bottom from the gradient's start to the selection fill.
    COLORREF high = selected.At(iconRight + 2, 1);
    EXPECT_NEAR(GetRValue(menu.Colours().gradientTop), GetRValue(high), 3);
    EXPECT_NEAR(GetBValue(menu.Colours().gradientTop), GetBValue(high), 3);
    COLORREF low = selected.At(230, 22);
    EXPECT_NEAR(GetRValue(menu.Colours().selection), GetRValue(low), 3);
    EXPECT_NEAR(GetBValue(menu.Colours().selection), GetBValue(low), 3);
    EXPECT_NE(high, low);
    EXPECT_EQ(Yellow, selected.At(menu.CellMargin() + menu.IconWidth() / 2, 12));

    Canvas grayed(240, 24);
    EXPECT_EQ(1, Draw(grayed, 2, ODS_GRAYED, item));
    EXPECT_NE(Yellow, grayed.At(menu.CellMargin() + menu.IconWidth() / 2, 12)) << "a blended icon";
    EXPECT_FALSE(grayed.ColumnsWith(GetSysColor(COLOR_GRAYTEXT), TextLeft(), 240).empty());
    EXPECT_TRUE(grayed.ColumnsWith(GetSysColor(COLOR_MENUTEXT), TextLeft(), 240).empty());

    Canvas separator(240, 8);
    EXPECT_EQ(1, Draw(separator, 1, 0, RECT{0, 0, 240, 8}));
    int half = (240 - iconRight) / 2;
    EXPECT_EQ((COLORREF)0x828282, separator.At(iconRight + half, 4)) << "darkest in the middle";
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), separator.At(iconRight + half, 1));
}

TEST_F(PopupMenuTest, AcceleratorTextStandsRightOfTheWidestText)
{
    Load();
    Measure(0);
    Measure(2);
    Canvas canvas(300, 24);
    EXPECT_EQ(1, Draw(canvas, 0, 0, RECT{0, 0, 300, 24}));
    COLORREF text = GetSysColor(COLOR_MENUTEXT);
    int copyEnd = TextLeft() + TextWidth(L"&Copy");
    int acceleratorLeft = TextLeft() + menu.AcceleratorGap() + menu.WidestText();
    std::vector<int> copy = canvas.ColumnsWith(text, TextLeft(), copyEnd + 1);
    std::vector<int> gap = canvas.ColumnsWith(text, copyEnd + 1, acceleratorLeft);
    std::vector<int> accelerator = canvas.ColumnsWith(text, acceleratorLeft, 300);
    EXPECT_FALSE(copy.empty());
    EXPECT_TRUE(gap.empty()) << "nothing between Copy and Ctrl+C, first at " << gap[0];
    ASSERT_FALSE(accelerator.empty());
    EXPECT_LT(accelerator.front(), acceleratorLeft + 4);
}

TEST_F(PopupMenuTest, ChecksRadiosAndSubmenuArrows)
{
    Load(IDM_NESTED_MENU);
    HMENU inner = GetSubMenu(menu.Popup(), 1);
    const RECT item = {0, 0, 200, 24};
    RECT cell = {menu.CellMargin(), (24 - menu.IconHeight()) / 2, menu.CellMargin() + menu.IconWidth(), 0};
    cell.bottom = cell.top + menu.IconHeight();

    Canvas check(200, 24);
    EXPECT_EQ(1, Draw(check, 0, ODS_CHECKED, item));
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), check.At(cell.left, cell.top)) << "framed";
    EXPECT_EQ(menu.Colours().selection, check.At(cell.left + 1, cell.top + 1)) << "on the selection fill";

    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(inner, 1, TRUE, &info));
    info.fType |= MFT_RADIOCHECK;
    ASSERT_TRUE(SetMenuItemInfoW(inner, 1, TRUE, &info));
    Canvas radio(200, 24);
    EXPECT_EQ(1, Draw(radio, 1, ODS_CHECKED, item, inner));
    EXPECT_EQ(menu.Colours().radioDot, radio.At((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2));

    Canvas parent(200, 24);
    EXPECT_EQ(1, Draw(parent, 1, 0, item));
    EXPECT_EQ(GetSysColor(COLOR_MENUTEXT), parent.At(200 - 9 - 1, 12)) << "the submenu arrow";
    Canvas leaf(200, 24);
    EXPECT_EQ(1, Draw(leaf, 0, 0, item));
    EXPECT_NE(GetSysColor(COLOR_MENUTEXT), leaf.At(200 - 9 - 1, 12));
}

TEST_F(PopupMenuTest, GrayingAndState)
{
    Load();
    EXPECT_FALSE(menu.ItemState(ID_LIST_COPY, PopupMenu::ByCommand) & MF_GRAYED);
    ASSERT_EQ(1, menu.EnableItem(ID_LIST_COPY, PopupMenu::ByCommand, true));
    EXPECT_TRUE(menu.ItemState(ID_LIST_COPY, PopupMenu::ByCommand) & MF_GRAYED);
    EXPECT_FALSE(menu.ItemState(ID_LIST_REFRESH, PopupMenu::ByCommand) & MF_GRAYED);
    EXPECT_TRUE(menu.ItemState(0, PopupMenu::ByPosition) & MF_GRAYED);
    ASSERT_EQ(1, menu.EnableItem(0, PopupMenu::ByPosition, false));
    EXPECT_FALSE(menu.ItemState(ID_LIST_COPY, PopupMenu::ByCommand) & MF_GRAYED);
    EXPECT_EQ(0xFFFFFFFF, menu.ItemState(31337, PopupMenu::ByCommand));
    EXPECT_EQ(0, menu.EnableItem(31337, PopupMenu::ByCommand, true));
}

TEST_F(PopupMenuTest, ItemsBuiltAtRunTime)
{
    ASSERT_EQ(1, menu.CreateEmpty(host.Window(), GetModuleHandleW(nullptr)));
    EXPECT_EQ(menu.Menu(), menu.Popup());
    ASSERT_EQ(1, menu.InsertItem(0, 1, L"First", MFS_CHECKED, 501, IDI_COPY, nullptr, nullptr));
    HICON icon = (HICON)LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_REFRESH), IMAGE_ICON, 16, 16, 0);
    ASSERT_EQ(1, menu.InsertItem(1, 1, L"Second", 0, 502, 0, icon, nullptr));
    DestroyIcon(icon);
    HMENU sub = CreatePopupMenu();
    AppendMenuW(sub, MF_STRING, 601, L"Deep");
    ASSERT_EQ(1, menu.InsertItem(0, 1, L"Sub", 0, 0, 0, nullptr, sub));
    EXPECT_EQ(3, GetMenuItemCount(menu.Popup()));
    EXPECT_EQ(2, menu.Images().Count());
    EXPECT_STREQ(L"Deep", menu.ItemText(601, PopupMenu::ByCommand)) << "the submenu was converted";
    EXPECT_TRUE(menu.ItemState(501, PopupMenu::ByCommand) & MF_CHECKED);
    EXPECT_EQ(1, Measure(1).itemWidth > 1);

    ASSERT_EQ(1, menu.DeleteItem(0, PopupMenu::ByPosition));
    EXPECT_EQ(2, GetMenuItemCount(menu.Popup()));
    EXPECT_EQ(nullptr, menu.ItemText(601, PopupMenu::ByCommand));
    ASSERT_EQ(1, menu.DeleteItem(502, PopupMenu::ByCommand));
    EXPECT_EQ(0, menu.DeleteItem(502, PopupMenu::ByCommand));
    EXPECT_STREQ(L"First", menu.ItemText(0, PopupMenu::ByPosition));
    menu.Destroy();
    EXPECT_FALSE(menu.Popup());
    EXPECT_EQ(0, menu.InsertItem(0, 1, L"late", 0, 1, 0, nullptr, nullptr));
}

TEST(PopupMenuColours, TintAndSchemes)
{
    EXPECT_EQ(RGB(127, 127, 127), PopupMenu::Tint(RGB(0, 0, 0), 0.5));
    EXPECT_EQ(RGB(255, 255, 255), PopupMenu::Tint(RGB(10, 20, 30), 1.0));
    EXPECT_EQ(RGB(10, 20, 30), PopupMenu::Tint(RGB(10, 20, 30), 1.5)) << "outside (-1, 1]";
    EXPECT_EQ(RGB(10, 20, 30), PopupMenu::Tint(RGB(10, 20, 30), -1.0));
    EXPECT_EQ(RGB(0, 0, 150), PopupMenu::Tint(RGB(0, 0, 200), -0.9)) << "clamped at 0";

    MenuSystemColours light = {RGB(0, 0, 0), RGB(109, 109, 109), RGB(255, 255, 255), RGB(240, 240, 240),
                               RGB(0, 120, 215)};
    MenuColours c = PopupMenu::ChooseColours(light, 0, 0);
    EXPECT_FALSE(c.dark);
    EXPECT_FALSE(c.fixed);
    EXPECT_EQ(PopupMenu::Tint(light.highlight, 0.85), c.selection);
    EXPECT_EQ(PopupMenu::Tint(light.highlight, 0.98), c.gradientTop);
    EXPECT_EQ(PopupMenu::Tint(light.highlight, 0.7), c.iconSelection);
    EXPECT_EQ((COLORREF)0x505050, c.radioDot);
    EXPECT_EQ(light.menuText, c.text);
    EXPECT_EQ(light.buttonFace, c.iconColumn);
    EXPECT_EQ(light.window, c.background);
    EXPECT_FALSE(PopupMenu::ChooseColours(light, 1, 0).dark) << "dark mode wanted, but not followed";

    // High contrast with light menu text: dark tints on the system colours.
    MenuSystemColours contrast = light;
    contrast.menuText = RGB(255, 255, 0);
    c = PopupMenu::ChooseColours(contrast, 0, 0);
    EXPECT_TRUE(c.dark);
    EXPECT_FALSE(c.fixed);
    EXPECT_EQ(PopupMenu::Tint(light.highlight, -0.4), c.selection);
    EXPECT_EQ((COLORREF)0xAFAFAF, c.radioDot);
    EXPECT_EQ(contrast.menuText, c.text);

    c = PopupMenu::ChooseColours(light, 1, PopupMenu::FollowDarkMode);
    EXPECT_TRUE(c.dark);
    EXPECT_TRUE(c.fixed);
    EXPECT_EQ((COLORREF)0xFFFFFF, c.text);
    EXPECT_EQ((COLORREF)0x2C2C2C, c.background);
    EXPECT_EQ((COLORREF)0x161616, c.iconColumn);
    EXPECT_EQ((COLORREF)0x7E7E7E, c.disabledText);
    EXPECT_EQ(c.text, PopupMenu::ChooseColours(light, 0, PopupMenu::ForceDark).text);

    c = PopupMenu::ChooseColours(light, 1, PopupMenu::FollowDarkMode | PopupMenu::KeepLightTint);
    EXPECT_FALSE(c.dark);
    EXPECT_TRUE(c.fixed);
    EXPECT_EQ((COLORREF)0x000000, c.text);
    EXPECT_EQ((COLORREF)0xFFFFFF, c.background);
    EXPECT_EQ((COLORREF)0xF0F0F0, c.iconColumn);
    EXPECT_EQ(PopupMenu::Tint(light.highlight, 0.85), c.selection);
}

TEST_F(PopupMenuTest, ForcedDarkMenusPaintTheirOwnColours)
{
    menu.SetOptions(PopupMenu::ForceDark);
    Load();
    ASSERT_TRUE(menu.Colours().dark);
    Canvas canvas(200, 24);
    EXPECT_EQ(1, Draw(canvas, 2, 0, RECT{0, 0, 200, 24}));
    EXPECT_EQ((COLORREF)0x161616, canvas.At(0, 1));
    EXPECT_EQ((COLORREF)0x2C2C2C, canvas.At(195, 1));
    EXPECT_FALSE(canvas.ColumnsWith(0xFFFFFF, TextLeft(), 200).empty());
}

// Picks the first item by keyboard from inside the menu's own loop.
void CALLBACK ChooseFirstItem(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    PostMessageW(window, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
}

TEST_F(PopupMenuTest, ShownMenusMeasureDrawAndSendTheChosenCommand)
{
    Load();
    SetTimer(host.Window(), 5, 100, &ChooseFirstItem);
    POINT at = {60, 60};
    EXPECT_EQ(1, menu.Show(&at));
    ControlHost::Pump();
    EXPECT_GE(measured, 3) << "every item was measured by us";
    EXPECT_GE(drawn, 3);
    EXPECT_EQ(1, nulls) << "WM_NULL follows the menu";
    EXPECT_EQ((std::vector<UINT>{ID_LIST_COPY}), commands);
}

} // namespace
