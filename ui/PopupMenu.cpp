#include "ui/PopupMenu.h"

#include <stdlib.h>
#include <wchar.h>

#include "ui/DarkMode.h"
#include "ui/ModuleResources.h"

namespace {

// winuser.h only names the system bitmaps under OEMRESOURCE.
const int SystemCheckBitmap = 32760; // OBM_CHECK

wchar_t* CopyText(const wchar_t* text)
{
    size_t length = text ? wcslen(text) : 0;
    wchar_t* copy = (wchar_t*)malloc((length + 1) * sizeof(wchar_t));
    if (!copy)
        return nullptr;
    if (length)
        memcpy(copy, text, length * sizeof(wchar_t));
    copy[length] = 0;
    return copy;
}

int Channel(int value, double factor)
{
    double tinted = value + factor * (255 - value);
    if (tinted < 0)
        return 0;
    if (tinted > 255)
        return 255;
    return (int)tinted;
}

COLORREF Blend(COLORREF from, COLORREF to, int step, int steps)
{
    if (steps <= 0)
        return from;
    int r = GetRValue(from) + (GetRValue(to) - GetRValue(from)) * step / steps;
    int g = GetGValue(from) + (GetGValue(to) - GetGValue(from)) * step / steps;
    int b = GetBValue(from) + (GetBValue(to) - GetBValue(from)) * step / steps;
    return RGB(r, g, b);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour)
{
    BrushObject brush(CreateSolidBrush(colour));
    FillRect(dc, &rect, brush);
}

// A top-to-bottom gradient, one row at a time.
void FillVerticalGradient(HDC dc, const RECT& rect, COLORREF top, COLORREF bottom)
{
    int height = rect.bottom - rect.top;
    for (int y = 0; y < height; ++y) {
        RECT row = {rect.left, rect.top + y, rect.right, rect.top + y + 1};
        FillSolid(dc, row, Blend(top, bottom, y, height > 1 ? height - 1 : 1));
    }
}

// Length of the text before its first tab (all of it without one).
int BeforeTab(const wchar_t* text)
{
    const wchar_t* tab = wcschr(text, L'\t');
    return tab ? (int)(tab - text) : (int)wcslen(text);
}

} // namespace

COLORREF PopupMenu::Tint(COLORREF colour, double factor)
{
    if (!(factor > -1.0 && factor <= 1.0))
        return colour;
    return RGB(Channel(GetRValue(colour), factor), Channel(GetGValue(colour), factor),
               Channel(GetBValue(colour), factor));
}

MenuColours PopupMenu::ChooseColours(const MenuSystemColours& system, int darkWanted, DWORD options)
{
    MenuColours c = {};
    if (system.highContrast) {
        // No tints: a tint of the highlight under the normal text is a pair
        // the user's scheme never promised to be readable.
        c.text = c.radioDot = system.menuText;
        c.disabledText = c.separator = system.grayText;
        c.background = system.menu;
        c.iconColumn = system.buttonFace;
        c.selection = c.gradientTop = c.iconSelection = c.highlight = system.highlight;
        c.selectedText = system.highlightText;
        return c;
    }
    int textSum = GetRValue(system.menuText) + GetGValue(system.menuText) + GetBValue(system.menuText);
    bool fixed = (options & ForceDark) || ((options & FollowDarkMode) && darkWanted);
    bool dark = textSum >= 384 || fixed;
    c.fixed = fixed;
    c.highlight = system.highlight;
    c.separator = 0x828282;
    if (dark && !(options & KeepLightTint)) {
        c.dark = true;
        c.selection = Tint(system.highlight, -0.4);
        c.gradientTop = Tint(system.highlight, -0.2);
        c.iconSelection = Tint(system.highlight, -0.5);
        c.radioDot = 0xAFAFAF;
        if (fixed) {
            c.text = c.selectedText = 0xFFFFFF;
            c.disabledText = 0x7E7E7E;
            c.background = 0x2C2C2C;
            c.iconColumn = 0x161616;
            return c;
        }
    } else {
        c.dark = false;
        c.selection = Tint(system.highlight, 0.85);
        c.gradientTop = Tint(system.highlight, 0.98);
        c.iconSelection = Tint(system.highlight, 0.7);
        c.radioDot = 0x505050;
        if (fixed) {
            c.text = c.selectedText = 0x000000;
            c.disabledText = 0x6D6D6D;
            c.background = 0xFFFFFF;
            c.iconColumn = 0xF0F0F0;
            return c;
        }
    }
    c.text = system.menuText;
    c.disabledText = system.grayText;
    c.background = system.window;
    c.iconColumn = system.buttonFace;
    c.selectedText = c.text;
    return c;
}

int PopupMenu::Load(int resourceId, HWND owner, HINSTANCE instance)
{
    Destroy();
    HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(resourceId));
    if (!menu)
        return 0;
    resourceId_ = resourceId;
    return Adopt(menu, GetSubMenu(menu, 0), owner, instance);
}

int PopupMenu::LoadForLanguage(int resourceId, HWND owner, HINSTANCE instance, LANGID language)
{
    Destroy();
    const void* data = FindModuleResource(instance, RT_MENU, MAKEINTRESOURCEW(resourceId), language);
    HMENU menu = data ? LoadMenuIndirectW(data) : nullptr;
    if (!menu)
        return 0;
    resourceId_ = resourceId;
    return Adopt(menu, GetSubMenu(menu, 0), owner, instance);
}

int PopupMenu::CreateEmpty(HWND owner, HINSTANCE instance)
{
    Destroy();
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return 0;
    return Adopt(menu, menu, owner, instance);
}

int PopupMenu::Adopt(HMENU menu, HMENU popup, HWND owner, HINSTANCE instance)
{
    if (!popup) {
        DestroyMenu(menu);
        return 0;
    }
    menu_ = menu;
    popup_ = popup;
    owner_ = owner;
    instance_ = instance;
    PrepareMetrics();
    images_.Create(iconWidth_, iconHeight_, 10, 10);
    Convert(popup_);
    PrepareColours();
    return 1;
}

PopupMenu::Record* PopupMenu::NewRecord(HMENU menu, UINT id, const wchar_t* text, bool separator)
{
    Record* record = (Record*)calloc(1, sizeof(Record));
    if (!record)
        return nullptr;
    record->text = CopyText(text);
    if (!record->text) {
        free(record);
        return nullptr;
    }
    record->marker = RecordMarker;
    record->owner = this;
    record->id = id;
    record->icon = -1;
    record->separator = separator;
    record->menu = menu;
    record->link = records_;
    records_ = record;
    return record;
}

void PopupMenu::Convert(HMENU menu)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        if (!GetMenuItemInfoW(menu, (UINT)i, TRUE, &info))
            continue;
        if (info.hSubMenu)
            Convert(info.hSubMenu);
        if (info.fType & MFT_OWNERDRAW)
            continue;
        wchar_t* text = (wchar_t*)calloc(info.cch + 1, sizeof(wchar_t));
        if (!text)
            continue;
        if (info.cch) {
            info.fMask = MIIM_STRING;
            info.dwTypeData = text;
            info.cch += 1;
            GetMenuItemInfoW(menu, (UINT)i, TRUE, &info);
        }
        Record* record = NewRecord(menu, info.wID, text, (info.fType & MFT_SEPARATOR) != 0);
        free(text);
        if (!record)
            continue; // drawn by the system then
        MENUITEMINFOW change = {};
        change.cbSize = sizeof change;
        change.fMask = MIIM_FTYPE | MIIM_DATA;
        change.fType = info.fType | MFT_OWNERDRAW;
        change.dwItemData = (ULONG_PTR)record;
        if (!SetMenuItemInfoW(menu, (UINT)i, TRUE, &change))
            FreeRecord(record);
    }
}

void PopupMenu::FreeRecord(Record* record)
{
    for (Record** link = &records_; *link; link = &(*link)->link) {
        if (*link == record) {
            *link = record->link;
            break;
        }
    }
    record->marker = 0;
    free(record->text);
    free(record);
}

void PopupMenu::FreeRecordsOf(HMENU menu)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_SUBMENU | MIIM_DATA;
        if (!GetMenuItemInfoW(menu, (UINT)i, TRUE, &info))
            continue;
        if (info.hSubMenu)
            FreeRecordsOf(info.hSubMenu);
        if (Record* record = Owned(info.dwItemData))
            FreeRecord(record);
    }
}

PopupMenu::Record* PopupMenu::Owned(ULONG_PTR data) const
{
    // Only records on our own chain are ever read: the item data of a
    // foreign owner-drawn item may point anywhere.
    for (Record* record = records_; record; record = record->link) {
        if ((ULONG_PTR)record == data)
            return record->marker == RecordMarker && record->owner == this ? record : nullptr;
    }
    return nullptr;
}

PopupMenu::Record* PopupMenu::Find(UINT item, int byCommand) const
{
    if (!popup_)
        return nullptr;
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_DATA;
    if (!GetMenuItemInfoW(popup_, item, byCommand == ByCommand ? FALSE : TRUE, &info))
        return nullptr;
    return Owned(info.dwItemData);
}

int PopupMenu::SetItemIcon(UINT item, int byCommand, int iconId, HINSTANCE instance)
{
    Record* record = Find(item, byCommand);
    if (!record)
        return 0;
    int index = images_.AddIconResource(instance ? instance : instance_, iconId);
    if (index < 0)
        return 0;
    record->icon = index;
    return 1;
}

int PopupMenu::SetItemText(UINT item, int byCommand, const wchar_t* text)
{
    Record* record = Find(item, byCommand);
    if (!record)
        return 0;
    wchar_t* copy = CopyText(text);
    if (!copy)
        return 0;
    free(record->text);
    record->text = copy;
    widest_ = 0;
    // The menu's own string is what screen readers announce for an
    // owner-drawn item; it must say what the item shows.
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = record->text;
    SetMenuItemInfoW(popup_, item, byCommand == ByCommand ? FALSE : TRUE, &info);
    return 1;
}

const wchar_t* PopupMenu::ItemText(UINT item, int byCommand) const
{
    Record* record = Find(item, byCommand);
    return record ? record->text : nullptr;
}

int PopupMenu::InsertItem(UINT position, int byPosition, const wchar_t* text, UINT state,
                          UINT commandId, int iconId, HICON icon, HMENU submenu)
{
    if (!popup_)
        return 0;
    Record* record = NewRecord(popup_, commandId, text, false);
    if (!record)
        return 0;
    if (icon)
        record->icon = images_.AddIcon(icon);
    else if (iconId)
        record->icon = images_.AddIconResource(instance_, iconId);
    if (submenu)
        Convert(submenu);
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_DATA | MIIM_STRING | (submenu ? MIIM_SUBMENU : 0);
    info.fType = MFT_OWNERDRAW;
    info.dwTypeData = record->text; // for screen readers
    info.fState = state;
    info.wID = commandId;
    info.hSubMenu = submenu;
    info.dwItemData = (ULONG_PTR)record;
    if (!InsertMenuItemW(popup_, position, byPosition ? TRUE : FALSE, &info)) {
        if (submenu)
            FreeRecordsOf(submenu);
        FreeRecord(record);
        return 0;
    }
    widest_ = 0;
    return 1;
}

int PopupMenu::DeleteItem(UINT item, int byCommand)
{
    if (!popup_)
        return 0;
    UINT flags = byCommand == ByCommand ? MF_BYCOMMAND : MF_BYPOSITION;
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_SUBMENU | MIIM_DATA;
    if (!GetMenuItemInfoW(popup_, item, byCommand == ByCommand ? FALSE : TRUE, &info))
        return 0;
    if (info.hSubMenu)
        FreeRecordsOf(info.hSubMenu);
    if (Record* record = Owned(info.dwItemData))
        FreeRecord(record);
    widest_ = 0;
    return DeleteMenu(popup_, item, flags) ? 1 : 0;
}

int PopupMenu::EnableItem(UINT commandId, int byCommand, bool disabled)
{
    if (!popup_)
        return 0;
    UINT flags = (byCommand == ByCommand ? MF_BYCOMMAND : MF_BYPOSITION) |
                 (disabled ? MF_GRAYED : MF_ENABLED);
    return EnableMenuItem(popup_, commandId, flags) != (BOOL)-1 ? 1 : 0;
}

UINT PopupMenu::ItemState(UINT item, int byCommand) const
{
    if (!popup_)
        return 0xFFFFFFFF;
    return GetMenuState(popup_, item, byCommand == ByCommand ? MF_BYCOMMAND : MF_BYPOSITION);
}

int PopupMenu::Show(const POINT* point)
{
    if (!popup_ || !owner_)
        return 0;
    POINT at = {};
    if (point)
        at = *point;
    else
        GetCursorPos(&at);
    SetForegroundWindow(owner_);
    BOOL shown = TrackPopupMenu(popup_, TPM_RIGHTBUTTON, at.x, at.y, 0, owner_, nullptr);
    // Without a message after the menu closes, a click elsewhere would need
    // a second click before the menu goes away.
    PostMessageW(owner_, WM_NULL, 0, 0);
    return shown ? 1 : 0;
}

void PopupMenu::PrepareMetrics()
{
    UINT dpi = owner_ ? api_->WindowDpi(owner_) : 96;
    double scale = dpi / 96.0;
    textGap_ = (int)(5 * scale);
    cellMargin_ = (int)(2 * scale);
    acceleratorGap_ = (int)(10 * scale);
    extraHeight_ = (int)(8 * scale);
    iconWidth_ = api_->SystemMetricForDpi(SM_CXSMICON, dpi);
    iconHeight_ = api_->SystemMetricForDpi(SM_CYSMICON, dpi);
    separatorHeight_ = api_->SystemMetricForDpi(SM_CYMENU, dpi) / 3;
    widest_ = 0;

    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (!api_->SystemParameterForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    }
    font_.Reset(CreateFontIndirectW(&metrics.lfMenuFont));
    metrics.lfMenuFont.lfWeight = FW_BOLD;
    boldFont_.Reset(CreateFontIndirectW(&metrics.lfMenuFont));
}

void PopupMenu::PrepareColours()
{
    MenuSystemColours system = {GetSysColor(COLOR_MENUTEXT),  GetSysColor(COLOR_GRAYTEXT),
                                GetSysColor(COLOR_WINDOW),    GetSysColor(COLOR_BTNFACE),
                                GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_HIGHLIGHTTEXT),
                                GetSysColor(COLOR_MENU),      api_->IsHighContrast() != 0};
    int darkWanted = (options_ & FollowDarkMode) ? IsDarkModeWanted(*api_) : 0;
    colours_ = ChooseColours(system, darkWanted, options_);
    backgroundBrush_.Reset(CreateSolidBrush(colours_.background));
    iconColumnBrush_.Reset(colours_.fixed ? CreateSolidBrush(colours_.iconColumn) : nullptr);
    selectionBrush_.Reset(CreateSolidBrush(colours_.selection));
    highlightPen_.Reset(CreatePen(PS_SOLID, 1, colours_.highlight));
    MENUINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = MIM_BACKGROUND;
    info.hbrBack = backgroundBrush_;
    SetMenuInfo(popup_, &info);
}

void PopupMenu::ReleaseGdiObjects()
{
    font_.Reset();
    boldFont_.Reset();
    backgroundBrush_.Reset();
    iconColumnBrush_.Reset();
    selectionBrush_.Reset();
    highlightPen_.Reset();
}

void PopupMenu::Destroy()
{
    if (menu_) {
        FreeRecordsOf(menu_);
        DestroyMenu(menu_);
    }
    // Records of items the system refused to take are still on the chain.
    while (records_)
        FreeRecord(records_);
    menu_ = popup_ = nullptr;
    owner_ = nullptr;
    resourceId_ = 0;
    widest_ = 0;
    images_.Destroy();
    ReleaseGdiObjects();
}

int PopupMenu::TextWidth(HDC dc, const wchar_t* text, int count) const
{
    RECT rect = {0, 0, 0, 0};
    DrawTextW(dc, text, count, &rect, DT_SINGLELINE | DT_CALCRECT);
    return rect.right - rect.left;
}

int PopupMenu::WidestTextOf(HDC dc, HMENU menu)
{
    // Over the whole submenu, not only the items measured so far: the
    // accelerator column must clear every text, whatever the order in
    // which the system measures the items.
    int widest = 0;
    for (Record* record = records_; record; record = record->link) {
        if (record->menu != menu || record->separator)
            continue;
        HGDIOBJ old = SelectObject(dc, IsDefaultItem(record) ? boldFont_ : font_);
        int width = TextWidth(dc, record->text, BeforeTab(record->text));
        SelectObject(dc, old);
        if (width > widest)
            widest = width;
    }
    widest_ = widest;
    return widest;
}

int PopupMenu::ItemInfo(const Record* record, MENUITEMINFOW* info) const
{
    // Found by position: command ids need not be unique, and an item with a
    // submenu has none.
    int count = GetMenuItemCount(record->menu);
    for (int i = 0; i < count; ++i) {
        *info = MENUITEMINFOW();
        info->cbSize = sizeof *info;
        info->fMask = MIIM_FTYPE | MIIM_STATE | MIIM_SUBMENU | MIIM_DATA;
        if (GetMenuItemInfoW(record->menu, (UINT)i, TRUE, info) && info->dwItemData == (ULONG_PTR)record)
            return 1;
    }
    *info = MENUITEMINFOW();
    return 0;
}

bool PopupMenu::IsDefaultItem(const Record* record) const
{
    MENUITEMINFOW info;
    return ItemInfo(record, &info) && (info.fState & MFS_DEFAULT);
}

bool PopupMenu::IsOwnMenu(HMENU menu) const
{
    if (!menu)
        return false;
    if (menu == popup_)
        return true;
    for (Record* record = records_; record; record = record->link)
        if (record->menu == menu)
            return true;
    return false;
}

wchar_t PopupMenu::Mnemonic(const wchar_t* text)
{
    // "&&" is a plain ampersand; the mnemonic is the letter after a single one.
    for (const wchar_t* p = text; *p && *p != L'\t'; ++p) {
        if (*p != L'&')
            continue;
        if (p[1] != L'&')
            return p[1] == L'\t' ? 0 : UpperCase(p[1]);
        ++p;
    }
    return 0;
}

wchar_t PopupMenu::UpperCase(wchar_t c)
{
    wchar_t text[2] = {c, 0};
    CharUpperBuffW(text, 1);
    return text[0];
}

int PopupMenu::OnMenuChar(WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    HMENU menu = (HMENU)lParam;
    wchar_t key = UpperCase((wchar_t)LOWORD(wParam));
    if (!key || !IsOwnMenu(menu))
        return 0;
    // The system finds no mnemonics in owner-drawn items: one item with
    // the letter is chosen, several are stepped through from the one
    // highlighted, and a grayed one is only highlighted.
    int count = GetMenuItemCount(menu);
    int first = -1, afterCurrent = -1, matches = 0;
    bool currentSeen = false, grayed = false;
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_STATE | MIIM_DATA;
        if (!GetMenuItemInfoW(menu, (UINT)i, TRUE, &info))
            continue;
        Record* record = Owned(info.dwItemData);
        bool match = record && !record->separator && Mnemonic(record->text) == key;
        if (match) {
            ++matches;
            if (first < 0) {
                first = i;
                grayed = (info.fState & MFS_DISABLED) != 0;
            }
            if (currentSeen && afterCurrent < 0)
                afterCurrent = i;
        }
        if (info.fState & MFS_HILITE)
            currentSeen = true;
    }
    if (matches == 0)
        return 0;
    if (matches == 1)
        *result = MAKELRESULT(first, grayed ? MNC_SELECT : MNC_EXECUTE);
    else
        *result = MAKELRESULT(afterCurrent >= 0 ? afterCurrent : first, MNC_SELECT);
    return 1;
}

int PopupMenu::Measure(WPARAM wParam, LPARAM lParam)
{
    MEASUREITEMSTRUCT* measure = (MEASUREITEMSTRUCT*)lParam;
    if (!measure || measure->CtlType != ODT_MENU)
        return 0;
    Record* record = Owned(measure->itemData);
    if (!record)
        return 0;
    if (record->separator) {
        measure->itemWidth = 1;
        measure->itemHeight = separatorHeight_;
        return 1;
    }
    HDC dc = GetDC(nullptr);
    int widest = WidestTextOf(dc, record->menu);
    HGDIOBJ old = SelectObject(dc, IsDefaultItem(record) ? boldFont_ : font_);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    int before = BeforeTab(record->text);
    int width = textGap_ + 3 * cellMargin_ + iconWidth_ + TextWidth(dc, record->text, before);
    if (record->text[before] == L'\t')
        width = textGap_ + 3 * cellMargin_ + iconWidth_ + widest + acceleratorGap_ +
                TextWidth(dc, record->text + before + 1, -1);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    int height = iconHeight_ > metrics.tmHeight ? iconHeight_ : metrics.tmHeight;
    height += 2 * cellMargin_;
    if (options_ & ExtraHeight)
        height += extraHeight_;
    measure->itemWidth = (UINT)width;
    measure->itemHeight = (UINT)height;
    return 1;
}

void PopupMenu::DrawSeparator(HDC dc, const RECT& item, int left)
{
    int y = (item.top + item.bottom) / 2;
    int width = item.right - left;
    int half = width / 2;
    for (int x = 0; x < width; ++x) {
        COLORREF colour = x < half ? Blend(colours_.background, colours_.separator, x, half)
                                   : Blend(colours_.separator, colours_.background, x - half,
                                           width - half);
        SetPixelV(dc, left + x, y, colour);
    }
}

void PopupMenu::DrawSelection(HDC dc, const RECT& item, int iconRight)
{
    RECT iconColumn = {item.left, item.top, iconRight, item.bottom};
    RECT rest = {iconRight, item.top, item.right, item.bottom};
    FillVerticalGradient(dc, iconColumn, colours_.gradientTop, colours_.iconSelection);
    FillVerticalGradient(dc, rest, colours_.gradientTop, colours_.selection);
    HGDIOBJ oldPen = SelectObject(dc, highlightPen_);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    RoundRect(dc, item.left, item.top, item.right, item.bottom, 4, 4);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

void PopupMenu::DrawCheck(HDC dc, const RECT& cell, bool radio)
{
    if (radio) {
        int size = (cell.right - cell.left) / 2;
        int x = (cell.left + cell.right - size) / 2;
        int y = (cell.top + cell.bottom - size) / 2;
        BrushObject brush(CreateSolidBrush(colours_.radioDot));
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
        Ellipse(dc, x, y, x + size + 1, y + size + 1);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        return;
    }
    FillRect(dc, &cell, selectionBrush_);
    BitmapObject check(LoadBitmapW(nullptr, MAKEINTRESOURCEW(SystemCheckBitmap)));
    BITMAP info = {};
    if (check && GetObjectW(check, sizeof info, &info)) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, check);
        int x = (cell.left + cell.right - info.bmWidth) / 2;
        int y = (cell.top + cell.bottom - info.bmHeight) / 2;
        // A monochrome source takes the text colour for its 0 bits and the
        // background colour for its 1 bits.
        COLORREF oldText = SetTextColor(dc, colours_.selectedText);
        COLORREF oldBack = SetBkColor(dc, colours_.selection);
        BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
        SetBkColor(dc, oldBack);
        SetTextColor(dc, oldText);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    FrameRect(dc, &cell, GetSysColorBrush(COLOR_HIGHLIGHT));
}

void PopupMenu::DrawArrow(HDC dc, const RECT& item, COLORREF colour)
{
    int height = ((item.bottom - item.top) / 4) | 1;
    int width = height / 2 + 1;
    int tip = item.right - 9;
    int middle = (item.top + item.bottom) / 2;
    POINT points[3] = {{tip - width, middle - height / 2}, {tip, middle}, {tip - width, middle + height / 2}};
    BrushObject brush(CreateSolidBrush(colour));
    PenObject pen(CreatePen(PS_SOLID, 1, colour));
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    Polygon(dc, points, 3);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
}

int PopupMenu::Draw(WPARAM wParam, LPARAM lParam)
{
    DRAWITEMSTRUCT* draw = (DRAWITEMSTRUCT*)lParam;
    if (!draw || draw->CtlType != ODT_MENU)
        return 0;
    Record* record = Owned(draw->itemData);
    if (!record)
        return 0;
    HDC dc = draw->hDC;
    const RECT item = draw->rcItem;
    int iconRight = item.left + iconWidth_ + 2 * cellMargin_;
    RECT iconColumn = {item.left, item.top, iconRight, item.bottom};
    FillRect(dc, &iconColumn, iconColumnBrush_.Get() ? iconColumnBrush_.Get() : GetSysColorBrush(COLOR_BTNFACE));

    if (record->separator) {
        RECT rest = {iconRight, item.top, item.right, item.bottom};
        FillRect(dc, &rest, backgroundBrush_);
        DrawSeparator(dc, item, iconRight);
        ExcludeClipRect(dc, item.left, item.top, item.right, item.bottom);
        return 1;
    }

    bool selected = (draw->itemState & ODS_SELECTED) != 0;
    bool disabled = (draw->itemState & (ODS_GRAYED | ODS_DISABLED)) != 0;
    bool checked = (draw->itemState & ODS_CHECKED) != 0;
    if (selected) {
        DrawSelection(dc, item, iconRight);
    } else {
        RECT rest = {iconRight, item.top, item.right, item.bottom};
        FillRect(dc, &rest, backgroundBrush_);
    }
    COLORREF textColour = disabled ? colours_.disabledText : selected ? colours_.selectedText : colours_.text;

    RECT cell = {item.left + cellMargin_, (item.top + item.bottom - iconHeight_) / 2,
                 item.left + cellMargin_ + iconWidth_, 0};
    cell.bottom = cell.top + iconHeight_;
    MENUITEMINFOW info = {};
    ItemInfo(record, &info);
    if (checked) {
        DrawCheck(dc, cell, (info.fType & MFT_RADIOCHECK) != 0);
    } else if (record->icon >= 0 && images_.Handle()) {
        ImageList_DrawEx(images_.Handle(), record->icon, dc, cell.left, cell.top, 0, 0, CLR_NONE,
                         CLR_DEFAULT, disabled ? ILD_TRANSPARENT | ILD_BLEND50 : ILD_TRANSPARENT);
    }

    bool bold = (draw->itemState & ODS_DEFAULT) != 0 || (info.fState & MFS_DEFAULT);
    HGDIOBJ oldFont = SelectObject(dc, bold ? boldFont_ : font_);
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColour = SetTextColor(dc, textColour);
    UINT format = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
    if (draw->itemState & ODS_NOACCEL)
        format |= DT_HIDEPREFIX;
    int textLeft = item.left + textGap_ + 2 * cellMargin_ + iconWidth_;
    int before = BeforeTab(record->text);
    RECT textRect = {textLeft, item.top, item.right, item.bottom};
    DrawTextW(dc, record->text, before, &textRect, format);
    if (record->text[before] == L'\t') {
        int widest = WidestTextOf(dc, record->menu);
        SelectObject(dc, bold ? boldFont_ : font_);
        RECT acceleratorRect = {textLeft + acceleratorGap_ + widest, item.top, item.right, item.bottom};
        DrawTextW(dc, record->text + before + 1, -1, &acceleratorRect, format);
    }
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);

    if (info.hSubMenu)
        DrawArrow(dc, item, textColour);
    // Without this the system paints its own submenu arrow over ours.
    ExcludeClipRect(dc, item.left, item.top, item.right, item.bottom);
    return 1;
}
