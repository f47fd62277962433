#include "ui/ListViewControl.h"
#include "services/WindowsVersion.h"

#include <stdlib.h>
#include <wchar.h>

#include "ui/CommonControlsVersion.h"
#include "ui/DarkMode.h"

namespace {

const int ItemTextCapacity = 260;

} // namespace

ListViewControl::~ListViewControl()
{
    Detach();
}

void ListViewControl::UseOptionalApi(OptionalApi& api)
{
    api_ = &api;
    menu_.UseOptionalApi(api);
}

double ListViewControl::WindowScale() const
{
    return api_->WindowDpi(list_) / 96.0;
}

int ListViewControl::View() const
{
    if (atLeastXp_)
        return (int)SendMessageW(list_, LVM_GETVIEW, 0, 0);
    return (int)(GetWindowLongW(list_, GWL_STYLE) & LVS_TYPEMASK);
}

int ListViewControl::CreateImageLists(double scale)
{
    UINT dpi = api_->WindowDpi(list_);
    int smallWidth = iconWidth_ ? (int)(iconWidth_ * scale) : api_->SystemMetricForDpi(SM_CXSMICON, dpi);
    int smallHeight = iconWidth_ ? (int)(iconHeight_ * scale) : api_->SystemMetricForDpi(SM_CYSMICON, dpi);
    int normalWidth = iconWidth_ ? smallWidth : api_->SystemMetricForDpi(SM_CXICON, dpi);
    int normalHeight = iconWidth_ ? smallHeight : api_->SystemMetricForDpi(SM_CYICON, dpi);
    if (smallImages_.Handle()) {
        // Same images at the new size, so rows keep their icons.
        smallImages_.Recreate(smallWidth, smallHeight);
        normalImages_.Recreate(normalWidth, normalHeight);
    } else {
        smallImages_.Create(smallWidth, smallHeight, 10, 10);
        normalImages_.Create(normalWidth, normalHeight, 10, 10);
    }
    SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, (LPARAM)normalImages_.Handle());
    SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)smallImages_.Handle());
    return smallImages_.Handle() && normalImages_.Handle();
}

void ListViewControl::CreateHeaderImages(int firstArrowId, int secondArrowId)
{
    headerImages_ = ImageList_Create(16, 16, ILC_MASK | ILC_COLOR8, 2, 0);
    if (!headerImages_)
        return;
    // Image 0 is the descending arrow, image 1 the ascending one.
    int ids[2] = {firstArrowId, secondArrowId};
    for (int id : ids) {
        HICON icon = (HICON)LoadImageW(instance_, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0);
        if (icon) {
            ImageList_ReplaceIcon(headerImages_, -1, icon);
            DestroyIcon(icon);
        }
    }
    if (comctlVersion_ < CommonControls60)
        ImageList_SetBkColor(headerImages_, GetSysColor(COLOR_BTNFACE));
    SendMessageW(header_, HDM_SETIMAGELIST, 0, (LPARAM)headerImages_);
    if (comctlVersion_ > CommonControls58) {
        int margin = GetSystemMetrics(SM_CXEDGE) * 3 / 2;
        if ((int)SendMessageW(header_, HDM_GETBITMAPMARGIN, 0, 0) > margin)
            SendMessageW(header_, HDM_SETBITMAPMARGIN, (WPARAM)margin, 0);
    }
}

void ListViewControl::ResetSortFromStyle()
{
    DWORD style = (DWORD)GetWindowLongW(list_, GWL_STYLE);
    if (style & LVS_SORTASCENDING) {
        sortColumn_ = 0;
        sortAscending_ = 1;
    } else if (style & LVS_SORTDESCENDING) {
        sortColumn_ = 0;
        sortAscending_ = 0;
    } else {
        sortColumn_ = -1;
        sortAscending_ = 1;
    }
}

int ListViewControl::Init(HWND list, HINSTANCE instance, DWORD options, int firstArrowId,
                          int secondArrowId, int iconWidth, int iconHeight)
{
    if (!list || list_)
        return 0;
    list_ = list;
    instance_ = instance;
    flags_ = options & ~(DarkModeActive | GroupViewAccepted);
    header_ = (HWND)SendMessageW(list_, LVM_GETHEADER, 0, 0);
    comctlVersion_ = assumedVersion_ ? assumedVersion_ : CommonControlsVersion(list_);
    atLeastXp_ = IsWindowsAtLeast(0x200, 0);
    atLeastVista_ = IsWindowsAtLeast(0x2000, 0);
    scale_ = WindowScale();
    redrawDepth_ = 0;
    iconWidth_ = iconWidth;
    iconHeight_ = iconHeight ? iconHeight : iconWidth;

    if (flags_ & SystemImageLists) {
        SetWindowLongW(list_, GWL_STYLE, GetWindowLongW(list_, GWL_STYLE) | LVS_SHAREIMAGELISTS);
        smallImages_.UseSystemList(true);
        normalImages_.UseSystemList(false);
        SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, (LPARAM)normalImages_.Handle());
        SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_SMALL, (LPARAM)smallImages_.Handle());
    } else if (!(flags_ & NoImageLists)) {
        CreateImageLists(scale_);
    }
    if ((flags_ & SortArrows) && header_)
        CreateHeaderImages(firstArrowId, secondArrowId);

    ResetSortFromStyle();
    ShowSortArrow(-1);

    if ((flags_ & GroupView) && SendMessageW(list_, LVM_ENABLEGROUPVIEW, TRUE, 0) > 0)
        flags_ |= GroupViewAccepted;

    comparison_.ReadThousandsSeparator();

    lightText_ = (COLORREF)SendMessageW(list_, LVM_GETTEXTCOLOR, 0, 0);
    lightBackground_ = (COLORREF)SendMessageW(list_, LVM_GETBKCOLOR, 0, 0);
    ApplyTheme();
    hook_.Attach(list_, &ListMessage, this);
    return 1;
}

void ListViewControl::Detach()
{
    if (!list_)
        return;
    hook_.Detach();
    menu_.Destroy();
    theme_.Close();
    if (!(flags_ & SystemImageLists)) {
        SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_NORMAL, 0);
        SendMessageW(list_, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
    }
    smallImages_.Destroy();
    normalImages_.Destroy();
    if (headerImages_) {
        if (header_)
            SendMessageW(header_, HDM_SETIMAGELIST, 0, 0);
        ImageList_Destroy(headerImages_);
        headerImages_ = nullptr;
    }
    // A suspension its owner never ended must not leave the control frozen.
    if (redrawDepth_ > 0) {
        SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
        if (header_)
            SendMessageW(header_, WM_SETREDRAW, TRUE, 0);
    }
    list_ = nullptr;
    header_ = nullptr;
    instance_ = nullptr;
    redrawDepth_ = 0;
}

void ListViewControl::ApplyTheme()
{
    if (!list_)
        return;
    flags_ = ::FollowDarkMode(flags_, FollowDarkMode, DarkModeActive, *api_);
    bool dark = (flags_ & DarkModeActive) != 0;
    theme_.SetWindowTheme(list_, dark ? L"DarkMode_Explorer" : L"Explorer");
    if (header_)
        theme_.SetWindowTheme(header_, dark ? L"DarkMode_ItemsView" : L"ItemsView");
    HWND tooltip = (HWND)SendMessageW(list_, LVM_GETTOOLTIPS, 0, 0);
    if (tooltip)
        theme_.SetWindowTheme(tooltip, dark ? L"DarkMode_Explorer" : L"Explorer");
    SetTextColour(dark ? DarkText : lightText_);
    SetBackgroundColour(dark ? DarkBackground : lightBackground_);
}

DWORD ListViewControl::SetExtendedStyle(DWORD mask, DWORD style)
{
    return list_ ? (DWORD)SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, mask, style) : 0;
}

int ListViewControl::AddIcon(int id)
{
    normalImages_.AddIconResource(instance_, id);
    return smallImages_.AddIconResource(instance_, id);
}

int ListViewControl::InsertColumn(const wchar_t* title, int index, int width, int format,
                                  int widthFlags)
{
    if (!list_)
        return -1;
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = (int)(width * scale_);
    column.pszText = (wchar_t*)(title ? title : L"");
    column.iSubItem = index;
    int inserted = (int)SendMessageW(list_, LVM_INSERTCOLUMNW, (WPARAM)index, (LPARAM)&column);
    if (inserted < 0)
        return -1;
    if (widthFlags & 2)
        SendMessageW(list_, LVM_SETCOLUMNWIDTH, (WPARAM)inserted, LVSCW_AUTOSIZE_USEHEADER);
    else if (widthFlags & 1)
        SendMessageW(list_, LVM_SETCOLUMNWIDTH, (WPARAM)inserted, LVSCW_AUTOSIZE);
    return inserted;
}

int ListViewControl::DeleteColumn(int index)
{
    if (!list_ || !SendMessageW(list_, LVM_DELETECOLUMN, (WPARAM)index, 0))
        return 0;
    if (sortColumn_ == index)
        sortColumn_ = -1;
    else if (sortColumn_ > index)
        --sortColumn_;
    return 1;
}

int ListViewControl::EnableGroupView(bool on)
{
    if (!list_)
        return 0;
    flags_ = on ? (flags_ | GroupView) : (flags_ & ~GroupView);
    LRESULT answer = SendMessageW(list_, LVM_ENABLEGROUPVIEW, on ? TRUE : FALSE, 0);
    if (!on)
        flags_ &= ~GroupViewAccepted;
    else if (answer > 0)
        flags_ |= GroupViewAccepted;
    ShowSortArrow(-1);
    return answer >= 0 ? 1 : 0;
}

int ListViewControl::AddGroup(const wchar_t* header, int groupId, UINT alignment, int index,
                              UINT state)
{
    if (!list_)
        return 0;
    LVGROUP group;
    memset(&group, 0, sizeof group);
    group.cbSize = sizeof group; // the full record of Vista and later: 96 bytes on x86
    group.mask = LVGF_HEADER | LVGF_STATE | LVGF_ALIGN | LVGF_GROUPID;
    group.pszHeader = (wchar_t*)(header ? header : L"");
    group.iGroupId = groupId;
    group.uAlign = alignment;
    if (comctlVersion_ < CommonControls616)
        state &= ~(UINT)(LVGS_COLLAPSIBLE | LVGS_COLLAPSED);
    group.state = state;
    // The control applies only the state bits the mask names.
    group.stateMask = state;
    LRESULT inserted = SendMessageW(list_, LVM_INSERTGROUP, (WPARAM)index, (LPARAM)&group);
    if (inserted >= 0 && state)
        ConfirmGroupState(groupId, state);
    return inserted >= 0 && (flags_ & GroupViewAccepted) ? 1 : 0;
}

void ListViewControl::ConfirmGroupState(int groupId, UINT state)
{
    LVGROUP group;
    memset(&group, 0, sizeof group);
    group.cbSize = sizeof group;
    group.mask = LVGF_STATE;
    group.stateMask = state;
    // A control that keeps no groups answers -1 (or, unknowing, 0); only
    // a group it reports is checked, and set again where bits are missing.
    if (SendMessageW(list_, LVM_GETGROUPINFO, (WPARAM)groupId, (LPARAM)&group) != groupId ||
        (group.state & state) == state)
        return;
    group.state = state;
    SendMessageW(list_, LVM_SETGROUPINFO, (WPARAM)groupId, (LPARAM)&group);
}

void ListViewControl::DeleteAllItems(bool keepSort)
{
    if (!list_)
        return;
    SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
    if (!keepSort) {
        int previous = sortColumn_;
        ResetSortFromStyle();
        ShowSortArrow(previous);
    }
}

void ListViewControl::SetRedraw(bool on)
{
    if (!list_)
        return;
    if (!on) {
        if (++redrawDepth_ == 1) {
            SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
            if (header_ && View() != LV_VIEW_TILE)
                SendMessageW(header_, WM_SETREDRAW, FALSE, 0);
        }
        return;
    }
    if (redrawDepth_ == 0)
        return;
    if (--redrawDepth_ == 0) {
        SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
        if (header_)
            SendMessageW(header_, WM_SETREDRAW, TRUE, 0);
        UpdateWindow(list_);
    }
}

int ListViewControl::InsertItem(int index, int image, const wchar_t* text, LPARAM param, int groupId)
{
    if (!list_)
        return -1;
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
    item.iItem = index;
    item.pszText = (wchar_t*)(text ? text : L"");
    item.lParam = param;
    if (flags_ & GroupView) {
        item.mask |= LVIF_GROUPID;
        item.iGroupId = groupId;
    }
    if (image != -2) {
        item.mask |= LVIF_IMAGE;
        item.iImage = image;
    }
    return (int)SendMessageW(list_, LVM_INSERTITEMW, 0, (LPARAM)&item);
}

bool ListViewControl::SetItemText(int item, int column, const wchar_t* text)
{
    if (!list_)
        return false;
    LVITEMW info = {};
    info.iSubItem = column;
    info.pszText = (wchar_t*)(text ? text : L"");
    return SendMessageW(list_, LVM_SETITEMTEXTW, (WPARAM)item, (LPARAM)&info) != 0;
}

void ListViewControl::Resort()
{
    SortBy(sortColumn_, sortAscending_ != 0);
}

int ListViewControl::GetItemText(int item, int column, WideString& text) const
{
    return GetItem(item, column, &text, nullptr);
}

int ListViewControl::GetItem(int item, int column, WideString* text, LPARAM* param) const
{
    if (text)
        text->Clear();
    if (!list_ || item < 0 || item >= ItemCount())
        return 0;
    LVITEMW info = {};
    info.iItem = item;
    info.iSubItem = column;
    if (text) {
        if (!text->Reserve(ItemTextCapacity + 1))
            return 0;
        info.mask |= LVIF_TEXT;
        info.pszText = text->Buffer();
        info.cchTextMax = ItemTextCapacity;
    }
    if (param)
        info.mask |= LVIF_PARAM;
    if (!SendMessageW(list_, LVM_GETITEMW, 0, (LPARAM)&info))
        return 0;
    if (text) {
        if (info.pszText && info.pszText != text->Buffer() && info.pszText != LPSTR_TEXTCALLBACKW)
            text->Assign(info.pszText);
        else
            text->Recompute();
    }
    if (param)
        *param = info.lParam;
    return 1;
}

int ListViewControl::FirstSelectedItem(LPARAM* param) const
{
    int item = list_ ? (int)SendMessageW(list_, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED) : -1;
    if (param) {
        *param = 0;
        if (item >= 0)
            GetItem(item, 0, nullptr, param);
    }
    return item;
}

int ListViewControl::FirstSelected(LPARAM* param, WideString* text) const
{
    int item = FirstSelectedItem(param);
    if (text) {
        text->Clear();
        if (item >= 0)
            GetItemText(item, 0, *text);
    }
    return item;
}

int ListViewControl::FindItemByParam(LPARAM param) const
{
    if (!list_)
        return -1;
    LVFINDINFOW find = {};
    find.flags = LVFI_PARAM;
    find.lParam = param;
    return (int)SendMessageW(list_, LVM_FINDITEMW, (WPARAM)-1, (LPARAM)&find);
}

POINT ListViewControl::MenuPoint(int item) const
{
    RECT rect = {};
    rect.left = LVIR_LABEL;
    bool found = list_ && item >= 0 && SendMessageW(list_, LVM_ENSUREVISIBLE, (WPARAM)item, FALSE) &&
                 SendMessageW(list_, LVM_GETITEMRECT, (WPARAM)item, (LPARAM)&rect);
    return ContextMenuKeys::MenuPoint(list_, found ? &rect : nullptr);
}

int ListViewControl::ItemCount() const
{
    return list_ ? (int)SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0) : 0;
}

void ListViewControl::SelectAll()
{
    if (!list_)
        return;
    SetRedraw(false);
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    int count = ItemCount();
    for (int i = 0; i < count; ++i)
        SendMessageW(list_, LVM_SETITEMSTATE, (WPARAM)i, (LPARAM)&state);
    SetRedraw(true);
}

void ListViewControl::ShowSortArrow(int previousColumn)
{
    if (!(flags_ & SortArrows) || !header_)
        return;
    const int sortBits = HDF_SORTUP | HDF_SORTDOWN;
    if (previousColumn >= 0 && previousColumn != sortColumn_) {
        HDITEMW item = {};
        item.mask = HDI_FORMAT;
        if (SendMessageW(header_, HDM_GETITEMW, (WPARAM)previousColumn, (LPARAM)&item)) {
            item.fmt &= ~(sortBits | HDF_IMAGE | HDF_BITMAP_ON_RIGHT);
            SendMessageW(header_, HDM_SETITEMW, (WPARAM)previousColumn, (LPARAM)&item);
        }
    }
    SendMessageW(header_, HDM_SETIMAGELIST, 0, (LPARAM)headerImages_);
    if (sortColumn_ < 0)
        return;
    HDITEMW item = {};
    item.mask = HDI_FORMAT;
    if (!SendMessageW(header_, HDM_GETITEMW, (WPARAM)sortColumn_, (LPARAM)&item))
        return;
    if (comctlVersion_ < CommonControls60) {
        item.mask |= HDI_IMAGE;
        item.fmt |= HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
        item.iImage = sortAscending_ ? 1 : 0;
    } else {
        item.fmt = (item.fmt & ~sortBits) | (sortAscending_ ? HDF_SORTUP : HDF_SORTDOWN);
    }
    SendMessageW(header_, HDM_SETITEMW, (WPARAM)sortColumn_, (LPARAM)&item);
}

void ListViewControl::SortBy(int column, bool ascending)
{
    if (!list_)
        return;
    int previous = sortColumn_;
    sortColumn_ = column;
    sortAscending_ = ascending ? 1 : 0;
    ShowSortArrow(previous);
    if (!(flags_ & NoSelectedColumn))
        SendMessageW(list_, LVM_SETSELECTEDCOLUMN, (WPARAM)column, 0);
    if (column < 0)
        return;
    comparisonByIndex_ = 1;
    if (SendMessageW(list_, LVM_SORTITEMSEX, (WPARAM)this, (LPARAM)&CompareByIndex))
        return;
    comparisonByIndex_ = 0;
    SendMessageW(list_, LVM_SORTITEMS, (WPARAM)this, (LPARAM)&CompareByParam);
}

int CALLBACK ListViewControl::CompareByIndex(LPARAM first, LPARAM second, LPARAM self)
{
    return ((ListViewControl*)self)->CompareItems((int)first, (int)second);
}

int CALLBACK ListViewControl::CompareByParam(LPARAM first, LPARAM second, LPARAM self)
{
    ListViewControl* list = (ListViewControl*)self;
    int a = list->FindItemByParam(first);
    int b = list->FindItemByParam(second);
    if (a < 0 || b < 0)
        return 0;
    return list->CompareItems(a, b);
}

int ListViewControl::CompareItems(int first, int second)
{
    if (callbacks_.compare) {
        int declined = 0;
        int answer = callbacks_.compare(first, second, &declined, this, userData_);
        if (!declined)
            return answer;
    }
    WideString a;
    WideString b;
    if (!GetItemText(first, sortColumn_, a) || !GetItemText(second, sortColumn_, b))
        return 0;
    return CompareTexts(a.Text(), b.Text());
}

int ListViewControl::CompareTexts(const wchar_t* first, const wchar_t* second) const
{
    return comparison_.Compare(first, second, sortAscending_ != 0);
}

int ListViewControl::HeaderItemCount() const
{
    return header_ ? (int)SendMessageW(header_, HDM_GETITEMCOUNT, 0, 0) : 0;
}

int ListViewControl::ColumnLayout(DWORD* block, int count) const
{
    if (!list_ || count <= 0 || count != HeaderItemCount())
        return 0;
    if (!SendMessageW(list_, LVM_GETCOLUMNORDERARRAY, (WPARAM)count, (LPARAM)block))
        return 0;
    for (int i = 0; i < count; ++i)
        block[count + i] = (DWORD)(int)(SendMessageW(list_, LVM_GETCOLUMNWIDTH, (WPARAM)i, 0) / scale_);
    return 1;
}

int ListViewControl::ApplyColumnLayout(const DWORD* block, int count)
{
    if (!list_ || count != HeaderItemCount() || !SavedColumnLayout::IsSensible(block, count))
        return 0;
    int order[SavedColumnLayout::MaximumColumns];
    for (int i = 0; i < count; ++i)
        order[i] = (int)block[i];
    SetRedraw(false);
    SendMessageW(list_, LVM_SETCOLUMNORDERARRAY, (WPARAM)count, (LPARAM)order);
    for (int i = 0; i < count; ++i)
        SendMessageW(list_, LVM_SETCOLUMNWIDTH, (WPARAM)i, (LPARAM)(int)(scale_ * (int)block[count + i]));
    SetRedraw(true);
    return 1;
}

int ListViewControl::SaveColumns(HKEY root, const wchar_t* path, const wchar_t* valueName)
{
    if (!list_ || !header_ || View() != LV_VIEW_DETAILS)
        return 0;
    SavedColumnLayout layout(HeaderItemCount());
    return layout.Count() && ColumnLayout(layout.Block(), layout.Count()) &&
           layout.Save(root, path, valueName);
}

int ListViewControl::LoadColumns(HKEY root, const wchar_t* path, const wchar_t* valueName)
{
    if (!list_)
        return 0;
    SavedColumnLayout layout(HeaderItemCount());
    return layout.Count() && layout.Load(root, path, valueName) &&
           ApplyColumnLayout(layout.Block(), layout.Count());
}

COLORREF ListViewControl::SetTextColour(COLORREF colour)
{
    if (!list_)
        return CLR_NONE;
    COLORREF previous = (COLORREF)SendMessageW(list_, LVM_GETTEXTCOLOR, 0, 0);
    SendMessageW(list_, LVM_SETTEXTCOLOR, 0, (LPARAM)colour);
    return previous;
}

COLORREF ListViewControl::SetBackgroundColour(COLORREF colour)
{
    if (!list_)
        return CLR_NONE;
    COLORREF previous = (COLORREF)SendMessageW(list_, LVM_GETBKCOLOR, 0, 0);
    SendMessageW(list_, LVM_SETBKCOLOR, 0, (LPARAM)colour);
    SendMessageW(list_, LVM_SETTEXTBKCOLOR, 0, (LPARAM)colour);
    return previous;
}

void ListViewControl::OnDpiChanged()
{
    if (!list_)
        return;
    double previous = scale_;
    double scale = WindowScale();
    if (!(flags_ & (SystemImageLists | NoImageLists)))
        CreateImageLists(scale);
    SetRedraw(false);
    int count = HeaderItemCount();
    for (int i = 0; i < count; ++i) {
        int width = (int)SendMessageW(list_, LVM_GETCOLUMNWIDTH, (WPARAM)i, 0);
        SendMessageW(list_, LVM_SETCOLUMNWIDTH, (WPARAM)i, (LPARAM)(int)(scale * width / previous));
    }
    SetRedraw(true);
    scale_ = scale;
}

void ListViewControl::RegisterCallbacks(const ListViewCallbacks& callbacks, void* userData)
{
    callbacks_ = callbacks;
    userData_ = userData;
}

void ListViewControl::OnColumnClick(int column)
{
    bool ascending = column != sortColumn_ || !sortAscending_;
    SortBy(column, ascending);
}

int ListViewControl::OnItemChanged(const NMLISTVIEW* change)
{
    if (!(change->uChanged & LVIF_STATE))
        return 0;
    UINT changed = change->uNewState ^ change->uOldState;
    int handled = 0;
    if (callbacks_.checkChanged && (changed & LVIS_STATEIMAGEMASK)) {
        UINT before = (change->uOldState & LVIS_STATEIMAGEMASK) >> 12;
        UINT after = (change->uNewState & LVIS_STATEIMAGEMASK) >> 12;
        if ((before == 1 && after == 2) || (before == 2 && after == 1)) {
            callbacks_.checkChanged(change->iItem, change->lParam, after == 2, userData_);
            handled = 1;
        }
    }
    if (changed & (LVIS_SELECTED | LVIS_FOCUSED)) {
        if (callbacks_.selectionChanged) {
            callbacks_.selectionChanged(change->iItem, change->lParam, userData_);
            handled = 1;
        }
    } else if (callbacks_.selectionCleared && !(changed & LVIS_STATEIMAGEMASK)) {
        bool single = (GetWindowLongW(list_, GWL_STYLE) & LVS_SINGLESEL) != 0;
        if (single || SendMessageW(list_, LVM_GETSELECTEDCOUNT, 0, 0) == 0) {
            callbacks_.selectionCleared(change->iItem, change->lParam, userData_);
            handled = 1;
        }
    }
    return handled;
}

int ListViewControl::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    NMHDR* header = (NMHDR*)lParam;
    if (!list_ || !header || header->hwndFrom != list_)
        return 0;
    *result = 0;
    LPARAM param = 0;
    switch (header->code) {
    case NM_CLICK:
    case NM_DBLCLK: {
        void (*callback)(int, LPARAM, int, void*) =
            header->code == NM_CLICK ? callbacks_.click : callbacks_.doubleClick;
        if (!callback)
            return 0;
        const NMITEMACTIVATE* activate = (const NMITEMACTIVATE*)lParam;
        int item = activate->iItem;
        if (item < 0 && header->code == NM_CLICK)
            item = FirstSelectedItem(&param);
        else if (item >= 0)
            GetItem(item, 0, nullptr, &param);
        callback(item, param, activate->iSubItem, userData_);
        return 1;
    }
    case NM_RETURN: {
        if (!callbacks_.returnKey)
            return 0;
        int item = FirstSelectedItem(&param);
        callbacks_.returnKey(item, param, userData_);
        return 1;
    }
    case NM_RCLICK: {
        if (!callbacks_.contextMenu)
            return 0;
        int item = FirstSelectedItem(&param);
        callbacks_.contextMenu(item, item >= 0 ? param : 0, userData_);
        // Handled: the control sends no WM_CONTEXTMENU for the same click.
        *result = 1;
        return 1;
    }
    case LVN_ITEMCHANGED:
        return OnItemChanged((const NMLISTVIEW*)lParam);
    case LVN_ITEMACTIVATE: {
        if (!callbacks_.itemActivated)
            return 0;
        int item = FirstSelectedItem(&param);
        callbacks_.itemActivated(item, param, userData_);
        return 1;
    }
    case LVN_BEGINDRAG: {
        if (!callbacks_.beginDrag)
            return 0;
        const NMLISTVIEW* drag = (const NMLISTVIEW*)lParam;
        callbacks_.beginDrag(drag->iItem, drag->ptAction, userData_);
        return 1;
    }
    case LVN_KEYDOWN: {
        if (!callbacks_.keyDown)
            return 0;
        int item = FirstSelectedItem(&param);
        callbacks_.keyDown(item, param, ((const NMLVKEYDOWN*)lParam)->wVKey, userData_);
        return 1;
    }
    case LVN_GETDISPINFOW:
        if (!callbacks_.displayInfo)
            return 0;
        callbacks_.displayInfo(&((NMLVDISPINFOW*)lParam)->item, userData_);
        return 1;
    case NM_CUSTOMDRAW:
        if (!callbacks_.customDraw)
            return 0;
        return callbacks_.customDraw((NMLVCUSTOMDRAW*)lParam, result, userData_) == 1 ? 1 : 0;
    case LVN_COLUMNCLICK:
        if (!(flags_ & SortOnColumnClick))
            return 0;
        OnColumnClick(((const NMLISTVIEW*)lParam)->iSubItem);
        return 1;
    case LVN_BEGINLABELEDITW:
    case LVN_ENDLABELEDITW: {
        LRESULT (*callback)(int, const wchar_t*, void*) =
            header->code == LVN_BEGINLABELEDITW ? callbacks_.beginLabelEdit : callbacks_.endLabelEdit;
        if (!callback)
            return 0;
        const NMLVDISPINFOW* info = (const NMLVDISPINFOW*)lParam;
        *result = callback(info->item.iItem, info->item.pszText, userData_);
        return 1;
    }
    default:
        return 0;
    }
}

void ListViewControl::ShowColumnMenu()
{
    if (!menu_.CreateEmpty(list_, instance_))
        return;
    int count = HeaderItemCount();
    for (int i = 0; i < count && i <= (int)(ColumnMenuLastId - ColumnMenuFirstId); ++i) {
        wchar_t title[ItemTextCapacity] = {};
        HDITEMW item = {};
        item.mask = HDI_TEXT;
        item.pszText = title;
        item.cchTextMax = ItemTextCapacity;
        SendMessageW(header_, HDM_GETITEMW, (WPARAM)i, (LPARAM)&item);
        bool visible = SendMessageW(list_, LVM_GETCOLUMNWIDTH, (WPARAM)i, 0) != 0;
        menu_.InsertItem((UINT)i, 1, title, visible ? MFS_CHECKED : MFS_UNCHECKED,
                         ColumnMenuFirstId + (UINT)i, 0, nullptr, nullptr);
    }
    menu_.Show();
}

void ListViewControl::ToggleColumn(int column)
{
    UINT state = menu_.ItemState(ColumnMenuFirstId + (UINT)column, PopupMenu::ByCommand);
    bool checked = state != 0xFFFFFFFF && (state & MF_CHECKED);
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, (WPARAM)column, checked ? 0 : 100);
}

int ListViewControl::ListMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 LRESULT* result, void* userData)
{
    return ((ListViewControl*)userData)->OnListMessage(message, wParam, lParam, result);
}

int ListViewControl::OnListMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (menuKeys_.OnKey(list_, message, wParam, lParam, result))
        return 1;
    switch (message) {
    case WM_DRAWITEM:
        if (!menu_.Draw(wParam, lParam))
            return 0;
        *result = TRUE;
        return 1;
    case WM_MEASUREITEM:
        if (!menu_.Measure(wParam, lParam))
            return 0;
        *result = TRUE;
        return 1;
    case WM_NOTIFY: {
        NMHDR* header = (NMHDR*)lParam;
        if (!header || !header_ || header->hwndFrom != header_)
            return 0;
        if (header->code == NM_CUSTOMDRAW && (flags_ & DarkModeActive)) {
            NMCUSTOMDRAW* draw = (NMCUSTOMDRAW*)lParam;
            if (draw->dwDrawStage == CDDS_PREPAINT) {
                *result = CDRF_NOTIFYITEMDRAW;
                return 1;
            }
            if (draw->dwDrawStage == CDDS_ITEMPREPAINT) {
                SetTextColor(draw->hdc, DarkText);
                *result = CDRF_DODEFAULT;
                return 1;
            }
            return 0;
        }
        if (header->code == NM_RCLICK && (flags_ & ColumnMenu)) {
            ShowColumnMenu();
            *result = 1;
            return 1;
        }
        return 0;
    }
    case WM_COMMAND: {
        UINT id = LOWORD(wParam);
        if (HIWORD(wParam) != 0 || lParam != 0 || id < ColumnMenuFirstId || id > ColumnMenuLastId)
            return 0;
        int column = (int)(id - ColumnMenuFirstId);
        if (column >= HeaderItemCount())
            return 0;
        ToggleColumn(column);
        *result = 0;
        return 1;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            LPARAM param = 0;
            int item = FirstSelectedItem(&param);
            if (!callbacks_.returnKey || item < 0)
                return 0;
            callbacks_.returnKey(item, param, userData_);
            *result = 0;
            return 1;
        }
        if (wParam == 'A') {
            if (GetKeyState(VK_CONTROL) < 0)
                SelectAll();
            *result = 0;
            return 1;
        }
        return 0;
    case WM_DPICHANGED_BEFOREPARENT:
        OnDpiChanged();
        return 0;
    default:
        return 0;
    }
}
