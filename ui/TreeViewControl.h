#pragma once

#include <windows.h>
#include <commctrl.h>

#include "devices/TreeSink.h"
#include "ui/BufferedPaint.h"
#include "ui/ContextMenuKeys.h"
#include "ui/ImageList.h"
#include "services/OptionalApi.h"
#include "ui/SubclassHook.h"
#include "ui/ThemeHandle.h"

class TreeViewControl;

// What happens to the items: every callback gets the item data of the
// notification and the user data registered with the group.
struct TreeItemCallbacks {
    // TVN_GETDISPINFOW: fill the item.
    void (*displayInfo)(TVITEMW* item, void* userData);
    // TVN_ITEMEXPANDINGW with TVE_EXPAND and with TVE_COLLAPSE.
    void (*expanding)(const TVITEMW* item, void* userData);
    void (*collapsing)(const TVITEMW* item, void* userData);
    // TVN_DELETEITEMW: the old item.
    void (*deleteItem)(const TVITEMW* item, void* userData);
    // TVN_SELCHANGEDW and TVN_SELCHANGINGW: the new item.
    void (*selectionChanged)(const TVITEMW* item, void* userData);
    void (*selectionChanging)(const TVITEMW* item, void* userData);
    // TVN_ITEMCHANGEDW.
    void (*itemChanged)(const NMTVITEMCHANGE* change, void* userData);
};

// What the user does with the tree.
struct TreeInputCallbacks {
    // NM_CLICK, NM_DBLCLK, NM_RETURN: the caret item.
    void (*click)(HTREEITEM item, void* userData);
    void (*doubleClick)(HTREEITEM item, void* userData);
    void (*returnKey)(HTREEITEM item, void* userData);
    // NM_RCLICK: the item under the right click (drop-highlighted), else the
    // caret item, else nullptr. The control then sends no WM_CONTEXTMENU;
    // Shift+F10 and the menu key reach the dialog as WM_CONTEXTMENU (-1, -1).
    void (*contextMenu)(HTREEITEM item, void* userData);
    // TVN_KEYDOWN: the virtual key.
    void (*keyDown)(WORD key, void* userData);
    // NM_CUSTOMDRAW: 1 when it set *result itself.
    int (*customDraw)(NMTVCUSTOMDRAW* draw, LRESULT* result, void* userData);
    // TVN_BEGINLABELEDITW and TVN_ENDLABELEDITW: the message result.
    LRESULT (*beginLabelEdit)(NMTVDISPINFOW* info, void* userData);
    LRESULT (*endLabelEdit)(NMTVDISPINFOW* info, void* userData);
};

// One tree view control of a dialog: its image list of small icons for the
// window's DPI, the items the device model inserts, nesting redraw
// suspension, item height and indent kept in 96-DPI units, the light or
// dark look, and its notifications turned into the owner's callbacks.
class TreeViewControl : public TreeSink {
public:
    // Options of Init.
    static constexpr DWORD SystemImageList = 0x01;
    static constexpr DWORD CheckBoxes = 0x02;
    static constexpr DWORD KeepChildrenOnCollapse = 0x04;
    static constexpr DWORD KeepImagesOnClear = 0x08;
    static constexpr DWORD FollowDarkMode = 0x10;
    // State kept in the same word.
    static constexpr DWORD DarkModeActive = 0x8000;

    TreeViewControl() = default;
    ~TreeViewControl() override;

    // Where the window's DPI and the theme functions come from (the
    // process's table unless replaced); set before Init.
    void UseOptionalApi(OptionalApi& api);

    // The operations the dialog calls generically, in slot order.
    virtual int Init(HWND tree, HINSTANCE instance, DWORD options);
    virtual int Detach();
    virtual void ApplyTheme();
    // The dialog's WM_NOTIFY; 1 when handled, its result in *result.
    virtual int OnNotify(HWND dialog, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // The dialog's WM_DPICHANGED.
    virtual int OnDpiChanged();

    // TreeSink: what the device model fills the tree with.
    void SetRedraw(bool on) override;
    void DeleteAllItems() override;
    void RemoveAllImages() override;
    int ImageCount() const override { return images_.Count(); }
    int AddIconResource(int id) override;
    int AddIcon(HICON icon) override;
    HTREEITEM InsertItem(HTREEITEM parent, HTREEITEM insertAfter, const wchar_t* text, int image,
                         int selectedImage, int children, LPARAM param, UINT state) override;
    bool SetItemChildren(HTREEITEM item, int children) override;
    bool Expand(HTREEITEM item, UINT action) override;

    // TVM_SETITEMW with the fields `mask` names.
    int SetItem(HTREEITEM item, UINT mask, UINT state, UINT stateMask, const wchar_t* text,
                int image, int selectedImage, int children, LPARAM param);
    // TVM_GETITEMW for the fields `mask` names (text at most 260 characters).
    [[nodiscard]] int GetItem(HTREEITEM item, UINT mask, TVITEMW* out, WideString* text) const;
    int Select(HTREEITEM item);
    HTREEITEM SelectedItem() const;
    // The item at a point of the screen, or nullptr.
    HTREEITEM ItemAt(POINT screen) const;
    // Where a menu for `item` opens from the keyboard (screen coordinates):
    // below its text, scrolled into view; the control's corner for nullptr.
    POINT MenuPoint(HTREEITEM item) const;
    // The caret item's text and item data; 0 when nothing is selected.
    int SelectedItemText(WideString& text, LPARAM* param) const;
    // Deletes every item; unless the options keep them, the images too.
    void Clear();
    DWORD SetExtendedStyle(DWORD mask, DWORD style);
    // In 96-DPI units; applied at the window's scale.
    int SetItemHeight(int height);
    COLORREF SetTextColour(COLORREF colour);
    COLORREF SetBackgroundColour(COLORREF colour);
    COLORREF TextColour() const;
    COLORREF BackgroundColour() const;

    void RegisterItemCallbacks(const TreeItemCallbacks& callbacks, void* userData);
    void RegisterInputCallbacks(const TreeInputCallbacks& callbacks, void* userData);

    HWND Window() const { return tree_; }
    DWORD Flags() const { return flags_; }
    int RedrawDepth() const { return redrawDepth_; }
    int ItemHeight96() const { return itemHeight_; }
    int Indent96() const { return indent_; }
    double Scale() const { return scale_; }
    const ImageList& Images() const { return images_; }
    bool IsEditingLabel() const { return labelEdit_.IsAttached(); }

private:
    double WindowScale() const;
    int CreateImageList();
    int OnItemExpanding(const NMTREEVIEWW* info, LRESULT* result);
    int OnBeginLabelEdit(NMTVDISPINFOW* info, LRESULT* result);
    int OnEndLabelEdit(NMTVDISPINFOW* info, LRESULT* result);
    static int LabelEditMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                LRESULT* result, void* userData);
    static int TreeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                           void* userData);

    OptionalApi* api_ = &OptionalApi::Shared();
    HWND tree_ = nullptr;
    HINSTANCE instance_ = nullptr;
    DWORD flags_ = 0;
    ImageList images_;
    int redrawDepth_ = 0;
    int itemHeight_ = 0;
    int indent_ = 0;
    double scale_ = 1.0;
    COLORREF lightText_ = CLR_DEFAULT;
    COLORREF lightBackground_ = CLR_DEFAULT;
    ThemeHandle theme_;
    TaggedSubclassHook<SubclassTag("tree")> labelEdit_;
    TaggedSubclassHook<SubclassTag("trev")> hook_;
    ContextMenuKeys menuKeys_;
    BufferedPaint paint_;
    TreeItemCallbacks itemCallbacks_ = {};
    void* itemUserData_ = nullptr;
    TreeInputCallbacks inputCallbacks_ = {};
    void* inputUserData_ = nullptr;
};
