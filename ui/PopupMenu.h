#pragma once

#include <windows.h>

#include "ui/GdiObject.h"
#include "ui/ImageList.h"
#include "services/OptionalApi.h"

// The colours a popup menu paints with, chosen once per load.
struct MenuColours {
    bool dark;
    bool fixed; // the program's own colours rather than the system's
    COLORREF text;
    COLORREF disabledText;
    COLORREF background;
    COLORREF iconColumn;
    COLORREF selection;     // fill of the selected item's text area
    COLORREF selectedText;  // text on the selection
    COLORREF gradientTop;   // where both selection gradients start
    COLORREF iconSelection; // end of the selected item's icon-column gradient
    COLORREF radioDot;
    COLORREF separator;
    COLORREF highlight;     // outline of the selection
};

// The system colours the scheme starts from.
struct MenuSystemColours {
    COLORREF menuText;
    COLORREF grayText;
    COLORREF window;
    COLORREF buttonFace;
    COLORREF highlight;
    COLORREF highlightText;
    COLORREF menu;
    // The user runs a high-contrast scheme: only the system's own pairs.
    bool highContrast;
};

// A context menu from a menu resource whose items this object paints
// itself: an icon column with an icon per item, the item text with its
// accelerator text after a tab, and selection colours derived from the
// system highlight colour in a light or a dark scheme. The owner window
// forwards WM_MEASUREITEM and WM_DRAWITEM; the menu answers for its own
// items only.
class PopupMenu {
public:
    // Options.
    static constexpr DWORD ExtraHeight = 0x01;   // every item 8 pixels (at 96 DPI) taller
    static constexpr DWORD ForceDark = 0x02;     // the dark scheme with the program's colours
    static constexpr DWORD KeepLightTint = 0x04; // light tints even when dark
    static constexpr DWORD FollowDarkMode = 0x08;

    // The first field of every item record: the characters "menx".
    static constexpr DWORD RecordMarker = 0x6D656E78;
    // Item selectors: by command id, otherwise by position.
    static constexpr int ByCommand = 1;
    static constexpr int ByPosition = 0;

    explicit PopupMenu(DWORD options = 0) : options_(options) {}
    ~PopupMenu() { Destroy(); }
    PopupMenu(const PopupMenu&) = delete;
    PopupMenu& operator=(const PopupMenu&) = delete;

    void UseOptionalApi(OptionalApi& api) { api_ = &api; }
    void SetOptions(DWORD options) { options_ = options; }
    DWORD Options() const { return options_; }

    // Menu resource `resourceId` of `instance`; its first submenu is the
    // popup shown. Destroys what was loaded before; 0 when the resource or
    // its submenu is missing.
    [[nodiscard]] int Load(int resourceId, HWND owner, HINSTANCE instance);
    // The same from the resource in `language` or the nearest language the
    // module carries.
    [[nodiscard]] int LoadForLanguage(int resourceId, HWND owner, HINSTANCE instance, LANGID language);
    // An empty popup to be filled with InsertItem.
    [[nodiscard]] int CreateEmpty(HWND owner, HINSTANCE instance);

    // Icon resource `iconId` of `instance` (the menu's module for nullptr)
    // for an item; 0 for items this menu did not convert.
    int SetItemIcon(UINT item, int byCommand, int iconId, HINSTANCE instance = nullptr);
    // Both the text drawn and the item's own string, which is what screen
    // readers announce; a "&" marks the letter that chooses the item.
    int SetItemText(UINT item, int byCommand, const wchar_t* text);
    // A new owner-drawn item; `icon` (kept as a copy) wins over `iconId`
    // (0 for none). A submenu is converted too and then belongs to the menu.
    int InsertItem(UINT position, int byPosition, const wchar_t* text, UINT state, UINT commandId,
                   int iconId, HICON icon, HMENU submenu);
    int DeleteItem(UINT item, int byCommand);
    int EnableItem(UINT commandId, int byCommand, bool disabled);
    // The text the item is drawn with; nullptr for items without a record.
    const wchar_t* ItemText(UINT item, int byCommand) const;
    // GetMenuState of the popup; 0xFFFFFFFF when there is no such item.
    UINT ItemState(UINT item, int byCommand) const;

    // At `point` (screen coordinates) or, for nullptr, at the cursor. The
    // chosen command reaches the owner as WM_COMMAND.
    int Show(const POINT* point = nullptr);

    // The owner's WM_MEASUREITEM and WM_DRAWITEM; 1 when the item is one of
    // this menu's.
    int Measure(WPARAM wParam, LPARAM lParam);
    int Draw(WPARAM wParam, LPARAM lParam);
    // The owner's WM_MENUCHAR: 1 when a letter typed in one of this menu's
    // popups is the mnemonic of an item, its answer (MNC_EXECUTE or
    // MNC_SELECT with the position) in *result.
    int OnMenuChar(WPARAM wParam, LPARAM lParam, LRESULT* result);
    // The letter after the first single "&" of `text`, upper case; 0 for none.
    static wchar_t Mnemonic(const wchar_t* text);

    void Destroy();

    HMENU Menu() const { return menu_; }
    HMENU Popup() const { return popup_; }
    HWND Owner() const { return owner_; }
    const MenuColours& Colours() const { return colours_; }
    int IconWidth() const { return iconWidth_; }
    int IconHeight() const { return iconHeight_; }
    int TextGap() const { return textGap_; }
    int CellMargin() const { return cellMargin_; }
    int AcceleratorGap() const { return acceleratorGap_; }
    int ExtraItemHeight() const { return extraHeight_; }
    // The widest item text (before a tab) of the submenu measured last.
    int WidestText() const { return widest_; }
    const ImageList& Images() const { return images_; }

    // c + f × (255 − c) per channel, clamped; f outside (−1, 1] leaves the colour.
    static COLORREF Tint(COLORREF colour, double factor);
    // The scheme for the given system colours, whether dark mode is wanted
    // and the options. In high contrast: the menu's and the selection's
    // system colour pairs, whatever the options.
    static MenuColours ChooseColours(const MenuSystemColours& system, int darkWanted, DWORD options);

private:
    struct Record {
        DWORD marker;
        PopupMenu* owner;
        Record* link;
        UINT id;
        wchar_t* text;
        int icon;
        bool separator;
        HMENU menu;
    };

    int Adopt(HMENU menu, HMENU popup, HWND owner, HINSTANCE instance);
    void Convert(HMENU menu);
    Record* NewRecord(HMENU menu, UINT id, const wchar_t* text, bool separator);
    void FreeRecord(Record* record);
    void FreeRecordsOf(HMENU menu);
    Record* Find(UINT item, int byCommand) const;
    Record* Owned(ULONG_PTR data) const;
    bool IsOwnMenu(HMENU menu) const;
    static wchar_t UpperCase(wchar_t c);
    void PrepareMetrics();
    void PrepareColours();
    void ReleaseGdiObjects();
    int TextWidth(HDC dc, const wchar_t* text, int count) const;
    int WidestTextOf(HDC dc, HMENU menu);
    int ItemInfo(const Record* record, MENUITEMINFOW* info) const;
    bool IsDefaultItem(const Record* record) const;
    void DrawSeparator(HDC dc, const RECT& item, int left);
    void DrawSelection(HDC dc, const RECT& item, int iconRight);
    void DrawCheck(HDC dc, const RECT& cell, bool radio);
    void DrawArrow(HDC dc, const RECT& item, COLORREF colour);

    OptionalApi* api_ = &OptionalApi::Shared();
    DWORD options_;
    int resourceId_ = 0;
    HWND owner_ = nullptr;
    HINSTANCE instance_ = nullptr;
    HMENU menu_ = nullptr;
    HMENU popup_ = nullptr;
    Record* records_ = nullptr;
    ImageList images_;
    int iconWidth_ = 16;
    int iconHeight_ = 16;
    int textGap_ = 5;
    int cellMargin_ = 2;
    int acceleratorGap_ = 10;
    int extraHeight_ = 8;
    int separatorHeight_ = 6;
    int widest_ = 0;
    MenuColours colours_ = {};
    FontObject font_;
    FontObject boldFont_;
    BrushObject backgroundBrush_;
    BrushObject iconColumnBrush_;
    BrushObject selectionBrush_;
    PenObject highlightPen_;
};
