#include "ui/TreeViewControl.h"

#include <string.h>

#include "ui/CommonControlsVersion.h"
#include "ui/DarkMode.h"

namespace {

const int ItemTextCapacity = 260;

void ChangeStyle(HWND window, DWORD add, DWORD remove)
{
    DWORD style = (DWORD)GetWindowLongW(window, GWL_STYLE);
    DWORD changed = (style | add) & ~remove;
    if (changed != style)
        SetWindowLongW(window, GWL_STYLE, (LONG)changed);
}

} // namespace

TreeViewControl::~TreeViewControl()
{
    TreeViewControl::Detach();
}

void TreeViewControl::UseOptionalApi(OptionalApi& api)
{
    api_ = &api;
}

double TreeViewControl::WindowScale() const
{
    return api_->WindowDpi(tree_) / 96.0;
}

int TreeViewControl::CreateImageList()
{
    if (flags_ & SystemImageList)
        return images_.UseSystemList(true);
    UINT dpi = api_->WindowDpi(tree_);
    return images_.Create(api_->SystemMetricForDpi(SM_CXSMICON, dpi),
                          api_->SystemMetricForDpi(SM_CYSMICON, dpi), 10, 20);
}

int TreeViewControl::Init(HWND tree, HINSTANCE instance, DWORD options)
{
    if (!tree || tree_)
        return 0;
    tree_ = tree;
    instance_ = instance;
    flags_ = options & ~DarkModeActive;
    redrawDepth_ = 0;
    // From 6.16 on, the Explorer look tracks the item under the mouse and
    // draws no lines.
    if (CommonControlsVersion(tree_) > 0x6000F)
        ChangeStyle(tree_, TVS_TRACKSELECT, TVS_HASLINES);
    CreateImageList();
    SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)images_.Handle());
    scale_ = WindowScale();
    itemHeight_ = (int)(SendMessageW(tree_, TVM_GETITEMHEIGHT, 0, 0) / scale_);
    indent_ = (int)(SendMessageW(tree_, TVM_GETINDENT, 0, 0) / scale_);
    if (flags_ & CheckBoxes)
        ChangeStyle(tree_, TVS_CHECKBOXES, 0);
    lightText_ = (COLORREF)SendMessageW(tree_, TVM_GETTEXTCOLOR, 0, 0);
    lightBackground_ = (COLORREF)SendMessageW(tree_, TVM_GETBKCOLOR, 0, 0);
    ApplyTheme();
    hook_.Attach(tree_, &TreeMessage, this);
    return 1;
}

int TreeViewControl::Detach()
{
    if (!tree_)
        return 0;
    labelEdit_.Detach();
    hook_.Detach();
    SetRedraw(false);
    SendMessageW(tree_, TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT);
    SetRedraw(true);
    if (flags_ & CheckBoxes) {
        HIMAGELIST state = (HIMAGELIST)SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_STATE, 0);
        if (state)
            ImageList_Destroy(state);
    }
    theme_.Close();
    // The control keeps using a list it was given; it must not paint with
    // one that is gone.
    SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, 0);
    images_.Destroy();
    // A suspension its owner never ended must not leave the control frozen.
    if (redrawDepth_ > 0)
        SendMessageW(tree_, WM_SETREDRAW, TRUE, 0);
    tree_ = nullptr;
    instance_ = nullptr;
    redrawDepth_ = 0;
    return 1;
}

void TreeViewControl::ApplyTheme()
{
    if (!tree_)
        return;
    flags_ = ::FollowDarkMode(flags_, FollowDarkMode, DarkModeActive, *api_);
    bool dark = (flags_ & DarkModeActive) != 0;
    const wchar_t* theme = dark ? L"DarkMode_Explorer" : L"Explorer";
    theme_.SetWindowTheme(tree_, theme);
    HWND tooltip = (HWND)SendMessageW(tree_, TVM_GETTOOLTIPS, 0, 0);
    if (tooltip)
        theme_.SetWindowTheme(tooltip, theme);
    SendMessageW(tree_, TVM_SETTEXTCOLOR, 0, (LPARAM)(dark ? DarkText : lightText_));
    SendMessageW(tree_, TVM_SETBKCOLOR, 0, (LPARAM)(dark ? DarkBackground : lightBackground_));
}

int TreeViewControl::OnDpiChanged()
{
    if (!tree_)
        return 0;
    scale_ = WindowScale();
    int recreated = 1;
    if (!(flags_ & SystemImageList)) {
        UINT dpi = api_->WindowDpi(tree_);
        // Recreated with the same images so that the items keep their icons
        // until the next refresh adds them again.
        recreated = images_.Recreate(api_->SystemMetricForDpi(SM_CXSMICON, dpi),
                                     api_->SystemMetricForDpi(SM_CYSMICON, dpi));
    }
    // The list first: a new image list makes the control work out its own
    // item height and indent, which the stored ones must then replace.
    SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)images_.Handle());
    SendMessageW(tree_, TVM_SETITEMHEIGHT, (WPARAM)(int)(itemHeight_ * scale_), 0);
    SendMessageW(tree_, TVM_SETINDENT, (WPARAM)(int)(indent_ * scale_), 0);
    return recreated;
}

void TreeViewControl::SetRedraw(bool on)
{
    if (!tree_)
        return;
    if (!on) {
        if (++redrawDepth_ == 1)
            SendMessageW(tree_, WM_SETREDRAW, FALSE, 0);
        return;
    }
    if (redrawDepth_ == 0)
        return;
    if (--redrawDepth_ == 0) {
        SendMessageW(tree_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(tree_, nullptr, TRUE);
        UpdateWindow(tree_);
    }
}

void TreeViewControl::DeleteAllItems()
{
    if (tree_)
        SendMessageW(tree_, TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT);
}

void TreeViewControl::RemoveAllImages()
{
    images_.RemoveAll();
}

void TreeViewControl::Clear()
{
    DeleteAllItems();
    if (!(flags_ & (SystemImageList | KeepImagesOnClear)))
        RemoveAllImages();
}

int TreeViewControl::AddIconResource(int id)
{
    return images_.AddIconResource(instance_, id);
}

int TreeViewControl::AddIcon(HICON icon)
{
    return images_.AddIcon(icon);
}

HTREEITEM TreeViewControl::InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text,
                                      int image, int selectedImage, int children, LPARAM param,
                                      UINT state)
{
    if (!tree_)
        return nullptr;
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = insertAfter;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    insert.item.pszText = (wchar_t*)(text ? text : L"");
    insert.item.iImage = image;
    insert.item.iSelectedImage = selectedImage;
    insert.item.cChildren = children;
    insert.item.lParam = param;
    if ((state & TVIS_EXPANDED) && children) {
        // What TVM_EXPAND leaves, without the message and its notifications
        // for every item.
        insert.item.mask |= TVIF_STATE;
        insert.item.state = insert.item.stateMask = TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    }
    if (state & TVIS_OVERLAYMASK) {
        insert.item.mask |= TVIF_STATE;
        insert.item.state |= state & TVIS_OVERLAYMASK;
        insert.item.stateMask |= TVIS_OVERLAYMASK;
    }
    return (HTREEITEM)SendMessageW(tree_, TVM_INSERTITEMW, 0, (LPARAM)&insert);
}

int TreeViewControl::SetItem(HTREEITEM item, UINT mask, UINT state, UINT stateMask,
                             const wchar_t* text, int image, int selectedImage, int children,
                             LPARAM param)
{
    if (!tree_ || !item)
        return 0;
    TVITEMW info = {};
    info.hItem = item;
    info.mask = mask & (TVIF_STATE | TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN |
                        TVIF_PARAM);
    info.state = state;
    info.stateMask = stateMask;
    info.pszText = (wchar_t*)(text ? text : L"");
    info.iImage = image;
    info.iSelectedImage = selectedImage;
    info.cChildren = children;
    info.lParam = param;
    return SendMessageW(tree_, TVM_SETITEMW, 0, (LPARAM)&info) ? 1 : 0;
}

bool TreeViewControl::SetItemChildren(HTREEITEM item, int children)
{
    return SetItem(item, TVIF_CHILDREN, 0, 0, nullptr, 0, 0, children, 0) == 1;
}

bool TreeViewControl::Expand(HTREEITEM item, UINT action)
{
    return tree_ && SendMessageW(tree_, TVM_EXPAND, action, (LPARAM)item) != 0;
}

int TreeViewControl::GetItem(HTREEITEM item, UINT mask, TVITEMW* out, WideString* text) const
{
    if (!tree_ || !item)
        return 0;
    TVITEMW info = {};
    info.hItem = item;
    info.mask = mask | TVIF_HANDLE;
    info.stateMask = 0xF000;
    if (mask & TVIF_TEXT) {
        if (!text || !text->Reserve(ItemTextCapacity + 1))
            return 0;
        text->Clear();
        info.pszText = text->Buffer();
        info.cchTextMax = ItemTextCapacity;
    }
    if (!SendMessageW(tree_, TVM_GETITEMW, 0, (LPARAM)&info))
        return 0;
    if (mask & TVIF_TEXT) {
        // The control may hand back a pointer of its own instead of filling ours.
        if (info.pszText != text->Buffer())
            text->Assign(info.pszText ? info.pszText : L"");
        else
            text->Recompute();
    }
    if (out)
        *out = info;
    return 1;
}

int TreeViewControl::Select(HTREEITEM item)
{
    return tree_ && SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item) ? 1 : 0;
}

HTREEITEM TreeViewControl::SelectedItem() const
{
    return tree_ ? (HTREEITEM)SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0) : nullptr;
}

HTREEITEM TreeViewControl::ItemAt(POINT screen) const
{
    if (!tree_)
        return nullptr;
    TVHITTESTINFO hit = {};
    hit.pt = screen;
    ScreenToClient(tree_, &hit.pt);
    HTREEITEM item = (HTREEITEM)SendMessageW(tree_, TVM_HITTEST, 0, (LPARAM)&hit);
    return (hit.flags & TVHT_ONITEM) ? item : nullptr;
}

POINT TreeViewControl::MenuPoint(HTREEITEM item) const
{
    RECT rect = {};
    if (item) {
        SendMessageW(tree_, TVM_ENSUREVISIBLE, 0, (LPARAM)item);
        // TVM_GETITEMRECT takes the item in the rectangle it fills.
        memcpy(&rect, &item, sizeof item);
        if (!SendMessageW(tree_, TVM_GETITEMRECT, TRUE, (LPARAM)&rect))
            item = nullptr;
    }
    return ContextMenuKeys::MenuPoint(tree_, item ? &rect : nullptr);
}

int TreeViewControl::SelectedItemText(WideString& text, LPARAM* param) const
{
    text.Clear();
    HTREEITEM item = SelectedItem();
    TVITEMW info = {};
    if (!item || !GetItem(item, TVIF_TEXT | TVIF_PARAM, &info, &text))
        return 0;
    if (param)
        *param = info.lParam;
    return 1;
}

DWORD TreeViewControl::SetExtendedStyle(DWORD mask, DWORD style)
{
    return tree_ ? (DWORD)SendMessageW(tree_, TVM_SETEXTENDEDSTYLE, mask, style) : 0;
}

int TreeViewControl::SetItemHeight(int height)
{
    if (!tree_)
        return 0;
    itemHeight_ = height;
    SendMessageW(tree_, TVM_SETITEMHEIGHT, (WPARAM)(int)(height * scale_), 0);
    return 1;
}

COLORREF TreeViewControl::SetTextColour(COLORREF colour)
{
    return tree_ ? (COLORREF)SendMessageW(tree_, TVM_SETTEXTCOLOR, 0, (LPARAM)colour) : CLR_NONE;
}

COLORREF TreeViewControl::SetBackgroundColour(COLORREF colour)
{
    return tree_ ? (COLORREF)SendMessageW(tree_, TVM_SETBKCOLOR, 0, (LPARAM)colour) : CLR_NONE;
}

COLORREF TreeViewControl::TextColour() const
{
    return tree_ ? (COLORREF)SendMessageW(tree_, TVM_GETTEXTCOLOR, 0, 0) : CLR_NONE;
}

COLORREF TreeViewControl::BackgroundColour() const
{
    return tree_ ? (COLORREF)SendMessageW(tree_, TVM_GETBKCOLOR, 0, 0) : CLR_NONE;
}

void TreeViewControl::RegisterItemCallbacks(const TreeItemCallbacks& callbacks, void* userData)
{
    itemCallbacks_ = callbacks;
    itemUserData_ = userData;
}

void TreeViewControl::RegisterInputCallbacks(const TreeInputCallbacks& callbacks, void* userData)
{
    inputCallbacks_ = callbacks;
    inputUserData_ = userData;
}

int TreeViewControl::OnItemExpanding(const NMTREEVIEWW* info, LRESULT* result)
{
    UINT action = info->action & (TVE_EXPAND | TVE_COLLAPSE);
    if (action == TVE_EXPAND) {
        if (!itemCallbacks_.expanding)
            return 0;
        itemCallbacks_.expanding(&info->itemNew, itemUserData_);
    } else if (action == TVE_COLLAPSE) {
        if (!itemCallbacks_.collapsing)
            return 0;
        itemCallbacks_.collapsing(&info->itemNew, itemUserData_);
        // Resetting makes the owner insert the children again at the next
        // expansion; the reset collapse notifies no one.
        if (!(flags_ & KeepChildrenOnCollapse))
            SendMessageW(tree_, TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET,
                         (LPARAM)info->itemNew.hItem);
    } else {
        return 0;
    }
    *result = 0;
    return 1;
}

int TreeViewControl::OnBeginLabelEdit(NMTVDISPINFOW* info, LRESULT* result)
{
    if (!inputCallbacks_.beginLabelEdit)
        return 0;
    *result = inputCallbacks_.beginLabelEdit(info, inputUserData_);
    if (!*result) {
        HWND edit = (HWND)SendMessageW(tree_, TVM_GETEDITCONTROL, 0, 0);
        if (edit) {
            labelEdit_.Detach();
            labelEdit_.Attach(edit, &LabelEditMessage, this);
        }
    }
    return 1;
}

int TreeViewControl::OnEndLabelEdit(NMTVDISPINFOW* info, LRESULT* result)
{
    labelEdit_.Detach();
    if (!inputCallbacks_.endLabelEdit)
        return 0;
    *result = inputCallbacks_.endLabelEdit(info, inputUserData_);
    return 1;
}

int TreeViewControl::LabelEditMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      LRESULT* result, void* userData)
{
    // Inside a dialog, Enter and Escape would otherwise press the dialog's
    // buttons instead of ending the edit.
    if (message == WM_GETDLGCODE) {
        *result = DLGC_WANTALLKEYS;
        return 1;
    }
    return 0;
}

int TreeViewControl::TreeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                 LRESULT* result, void* userData)
{
    TreeViewControl* control = (TreeViewControl*)userData;
    return control->paint_.OnMessage(window, message, wParam, lParam, result) ||
           control->menuKeys_.OnKey(window, message, wParam, lParam, result);
}

int TreeViewControl::OnNotify(HWND dialog, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    NMHDR* header = (NMHDR*)lParam;
    if (!tree_ || !header || header->hwndFrom != tree_)
        return 0;
    NMTREEVIEWW* info = (NMTREEVIEWW*)lParam;
    const TreeItemCallbacks& items = itemCallbacks_;
    const TreeInputCallbacks& input = inputCallbacks_;
    *result = 0;
    switch (header->code) {
    case TVN_GETDISPINFOW:
        if (!items.displayInfo)
            return 0;
        items.displayInfo(&((NMTVDISPINFOW*)lParam)->item, itemUserData_);
        return 1;
    case TVN_ITEMEXPANDINGW:
        return OnItemExpanding(info, result);
    case TVN_DELETEITEMW:
        if (!items.deleteItem)
            return 0;
        items.deleteItem(&info->itemOld, itemUserData_);
        return 1;
    case TVN_SELCHANGEDW:
        if (!items.selectionChanged)
            return 0;
        items.selectionChanged(&info->itemNew, itemUserData_);
        return 1;
    case TVN_SELCHANGINGW:
        if (!items.selectionChanging)
            return 0;
        items.selectionChanging(&info->itemNew, itemUserData_);
        return 1;
    case TVN_ITEMCHANGEDW:
        if (!items.itemChanged)
            return 0;
        items.itemChanged((const NMTVITEMCHANGE*)lParam, itemUserData_);
        return 1;
    case NM_CLICK:
        if (!input.click)
            return 0;
        input.click(SelectedItem(), inputUserData_);
        return 1;
    case NM_DBLCLK:
        if (!input.doubleClick)
            return 0;
        input.doubleClick(SelectedItem(), inputUserData_);
        return 1;
    case NM_RETURN:
        if (!input.returnKey)
            return 0;
        input.returnKey(SelectedItem(), inputUserData_);
        return 1;
    case NM_RCLICK: {
        if (!input.contextMenu)
            return 0;
        // While the right button is down the control marks the item under
        // it as drop target; that is the item the menu is about.
        HTREEITEM item = (HTREEITEM)SendMessageW(tree_, TVM_GETNEXTITEM, TVGN_DROPHILITE, 0);
        if (!item)
            item = SelectedItem();
        input.contextMenu(item, inputUserData_);
        // Handled: the control sends no WM_CONTEXTMENU for the same click.
        *result = 1;
        return 1;
    }
    case TVN_KEYDOWN:
        if (!input.keyDown)
            return 0;
        input.keyDown(((NMTVKEYDOWN*)lParam)->wVKey, inputUserData_);
        return 1;
    case NM_CUSTOMDRAW:
        if (!input.customDraw)
            return 0;
        return input.customDraw((NMTVCUSTOMDRAW*)lParam, result, inputUserData_) == 1 ? 1 : 0;
    case TVN_BEGINLABELEDITW:
        return OnBeginLabelEdit((NMTVDISPINFOW*)lParam, result);
    case TVN_ENDLABELEDITW:
        return OnEndLabelEdit((NMTVDISPINFOW*)lParam, result);
    default:
        return 0;
    }
}
