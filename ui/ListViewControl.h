#pragma once

#include <windows.h>
#include <commctrl.h>

#include "properties/ListSink.h"
#include "services/WideString.h"
#include "ui/ContextMenuKeys.h"
#include "ui/ImageList.h"
#include "ui/ListRowComparison.h"
#include "services/OptionalApi.h"
#include "ui/PopupMenu.h"
#include "ui/SavedColumnLayout.h"
#include "ui/SubclassHook.h"
#include "ui/ThemeHandle.h"

class ListViewControl;

// The owner's part in what the list does. An item is its index and its item
// parameter; every callback gets the registered user data last. Absent
// callbacks are skipped and leave the notification unhandled.
struct ListViewCallbacks {
    void (*click)(int item, LPARAM param, int column, void* userData);
    void (*doubleClick)(int item, LPARAM param, int column, void* userData);
    void (*returnKey)(int item, LPARAM param, void* userData);
    // NM_RCLICK: the first selected item, or -1 and 0. The control then
    // sends no WM_CONTEXTMENU; Shift+F10 and the menu key reach the dialog
    // as WM_CONTEXTMENU (-1, -1).
    void (*contextMenu)(int item, LPARAM param, void* userData);
    void (*selectionChanged)(int item, LPARAM param, void* userData);
    void (*selectionCleared)(int item, LPARAM param, void* userData);
    void (*checkChanged)(int item, LPARAM param, bool checked, void* userData);
    void (*itemActivated)(int item, LPARAM param, void* userData);
    void (*beginDrag)(int item, POINT point, void* userData);
    // The first selected item (or -1, 0) and the virtual key.
    void (*keyDown)(int item, LPARAM param, WORD key, void* userData);
    void (*displayInfo)(LVITEMW* item, void* userData);
    // 1 when *result is the notification's result.
    int (*customDraw)(NMLVCUSTOMDRAW* draw, LRESULT* result, void* userData);
    // Order of two rows by index for SortBy. Setting *declined hands the
    // pair to the list's own comparison; otherwise the answer is used as it
    // is, so the callback minds the direction itself.
    int (*compare)(int first, int second, int* declined, ListViewControl* list, void* userData);
    // The result becomes the notification's result.
    LRESULT (*beginLabelEdit)(int item, const wchar_t* text, void* userData);
    LRESULT (*endLabelEdit)(int item, const wchar_t* text, void* userData);
};

// One report-style list view of a dialog with its header: image lists,
// columns and groups, items for the Part that fills it, sorting by column
// with a comparison that knows byte sizes and numbers in texts, the sort
// arrow in the header, the user's column order and widths across runs and
// DPI changes, nesting redraw suspension, and its notifications turned into
// the owner's callbacks.
class ListViewControl : public ListSink {
public:
    // Options of Init.
    static constexpr DWORD SystemImageLists = 0x02;
    static constexpr DWORD SortOnColumnClick = 0x04;
    static constexpr DWORD SortArrows = 0x08;
    static constexpr DWORD NoImageLists = 0x10;
    static constexpr DWORD GroupView = 0x80;
    static constexpr DWORD NoSelectedColumn = 0x100;
    static constexpr DWORD ColumnMenu = 0x200;
    static constexpr DWORD FollowDarkMode = 0x400;
    // State kept in the same word.
    static constexpr DWORD DarkModeActive = 0x02000000;
    static constexpr DWORD GroupViewAccepted = 0x10000000;

    // The saved layout refuses widths above this (96-DPI pixels).
    static constexpr int MaximumStoredWidth = SavedColumnLayout::MaximumStoredWidth;
    // Columns of the header menu: command 1000 + column.
    static constexpr UINT ColumnMenuFirstId = 1000;
    static constexpr UINT ColumnMenuLastId = 2000;

    ListViewControl() = default;
    ~ListViewControl() override;

    // Where the window's DPI and the theme functions come from (the
    // process's table unless replaced); set before Init.
    void UseOptionalApi(OptionalApi& api);

    // Takes `version` (major << 16 | minor) for the comctl32 the control
    // comes from instead of asking the library; set before Init. Wine's
    // version 6 reports itself as 5.81.
    void AssumeCommonControlsVersion(DWORD version) { assumedVersion_ = version; }

    // The main window passes 0x10C, 104, 105, 0, 0. An icon width of 0
    // means the system's icon sizes for the window's DPI.
    int Init(HWND list, HINSTANCE instance, DWORD options, int firstArrowId, int secondArrowId,
             int iconWidth, int iconHeight);
    // Removes the subclass, releases the image lists it made, forgets the windows.
    void Detach();
    void ApplyTheme();
    // The dialog's WM_NOTIFY; 1 when handled, its result in *result.
    int OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);

    DWORD SetExtendedStyle(DWORD mask, DWORD style);
    // Icon resource `id` into both image lists; its index in the small one or -1.
    int AddIcon(int id);
    // `width` in 96-DPI units; width flag 2 then sizes to the header, 1 to
    // the content. The new column's index or -1.
    int InsertColumn(const wchar_t* title, int index, int width, int format, int widthFlags);
    // Removes column `index`; a sort by it ends.
    int DeleteColumn(int index);
    int EnableGroupView(bool on);
    // 1 when the group was inserted and the control shows groups. The
    // state bits given are applied (the mask names them) and, where the
    // control reports the group's state, read back and set again if lost.
    int AddGroup(const wchar_t* header, int groupId, UINT alignment, int index, UINT state);

    // ListSink: what the property list is filled with.
    void DeleteAllItems(bool keepSort) override;
    void SetRedraw(bool on) override;
    // Image -2 means none. Returns the new index or -1.
    int InsertItem(int index, int image, const wchar_t* text, LPARAM param, int groupId) override;
    bool SetItemText(int item, int column, const wchar_t* text) override;
    void Resort() override;

    // At most 260 characters; 0 when the item does not exist.
    int GetItemText(int item, int column, WideString& text) const;
    int GetItem(int item, int column, WideString* text, LPARAM* param) const;
    // The first selected item's index (-1 when none), parameter and text.
    int FirstSelected(LPARAM* param = nullptr, WideString* text = nullptr) const;
    [[nodiscard]] int FindItemByParam(LPARAM param) const;
    // Where a menu for `item` opens from the keyboard (screen coordinates):
    // below its label, scrolled into view; the control's corner for -1.
    POINT MenuPoint(int item) const;
    int ItemCount() const;
    void SelectAll();

    // Sorts by `column` (-1: unsorted) and shows the direction in the header.
    void SortBy(int column, bool ascending);
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return sortAscending_ != 0; }
    // The order of the rows at indexes `first` and `second` under the
    // current column and direction: negative, 0 or positive.
    int CompareItems(int first, int second);
    // The list's own comparison of two texts, without the owner's callback.
    int CompareTexts(const wchar_t* first, const wchar_t* second) const;
    // The value of a text like "1.5 kB" in bytes; 0 when it names no unit.
    [[nodiscard]] static int ParseByteSize(const wchar_t* text, double* bytes)
    {
        return ListRowComparison::ParseByteSize(text, bytes);
    }

    // The column order and widths as the value `valueName` under `path`.
    int SaveColumns(HKEY root, const wchar_t* path, const wchar_t* valueName);
    // Applied only when the stored block fits the columns exactly and holds
    // a valid order and sensible widths.
    int LoadColumns(HKEY root, const wchar_t* path, const wchar_t* valueName);
    // The layout block itself: count orders, then count widths at 96 DPI.
    int ColumnLayout(DWORD* block, int count) const;
    int ApplyColumnLayout(const DWORD* block, int count);

    int HeaderItemCount() const;
    COLORREF SetTextColour(COLORREF colour);
    COLORREF SetBackgroundColour(COLORREF colour);

    // WM_DPICHANGED_BEFOREPARENT as it reaches the list.
    void OnDpiChanged();

    void RegisterCallbacks(const ListViewCallbacks& callbacks, void* userData);

    HWND Window() const { return list_; }
    HWND Header() const { return header_; }
    DWORD Flags() const { return flags_; }
    int RedrawDepth() const { return redrawDepth_; }
    double Scale() const { return scale_; }
    DWORD ComctlVersion() const { return comctlVersion_; }
    const wchar_t* ThousandsSeparator() const { return comparison_.ThousandsSeparator(); }
    const ImageList& SmallImages() const { return smallImages_; }
    const ImageList& NormalImages() const { return normalImages_; }
    HIMAGELIST HeaderImages() const { return headerImages_; }
    PopupMenu& Menu() { return menu_; }

private:
    double WindowScale() const;
    int View() const;
    int CreateImageLists(double scale);
    void CreateHeaderImages(int firstArrowId, int secondArrowId);
    void ResetSortFromStyle();
    void ConfirmGroupState(int groupId, UINT state);
    void ShowSortArrow(int previousColumn);
    void OnColumnClick(int column);
    int FirstSelectedItem(LPARAM* param) const;
    int OnItemChanged(const NMLISTVIEW* change);
    void ShowColumnMenu();
    void ToggleColumn(int column);
    static int CALLBACK CompareByIndex(LPARAM first, LPARAM second, LPARAM self);
    static int CALLBACK CompareByParam(LPARAM first, LPARAM second, LPARAM self);
    static int ListMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                           LRESULT* result, void* userData);
    int OnListMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    OptionalApi* api_ = &OptionalApi::Shared();
    HWND list_ = nullptr;
    HWND header_ = nullptr;
    HINSTANCE instance_ = nullptr;
    DWORD flags_ = 0;
    int sortColumn_ = -1;
    int sortAscending_ = 1;
    int redrawDepth_ = 0;
    double scale_ = 1.0;
    DWORD comctlVersion_ = 0;
    DWORD assumedVersion_ = 0;
    bool atLeastXp_ = true;
    bool atLeastVista_ = true;
    ListRowComparison comparison_;
    int iconWidth_ = 0;
    int iconHeight_ = 0;
    ImageList smallImages_;
    ImageList normalImages_;
    HIMAGELIST headerImages_ = nullptr;
    COLORREF lightText_ = CLR_DEFAULT;
    COLORREF lightBackground_ = CLR_DEFAULT;
    ThemeHandle theme_;
    PopupMenu menu_;
    ListViewCallbacks callbacks_ = {};
    void* userData_ = nullptr;
    int comparisonByIndex_ = 1;
    TaggedSubclassHook<SubclassTag("lis1")> hook_;
    ContextMenuKeys menuKeys_;
};
