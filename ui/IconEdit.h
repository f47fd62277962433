#pragma once

#include <windows.h>

#include "ui/ImageList.h"
#include "services/OptionalApi.h"
#include "ui/SubclassHook.h"
#include "ui/ThemeHandle.h"

// A single-line edit with a small icon inside its left end, drawn in the
// non-client area so that neither the text nor the caret ever enter it. A
// press and release on the icon sends the parent one WM_COMMAND with the
// edit's id and notification code 0 (lParam: the edit); the main window
// empties its filter box on it.
class IconEdit {
public:
    // Options of Init; DarkModeActive is state kept in the same word.
    static constexpr DWORD FollowDarkMode = 0x01;
    static constexpr DWORD DarkModeActive = 0x8000;
    static constexpr DWORD GreyStripWhenDisabled = 0x10000;

    explicit IconEdit(OptionalApi& api = OptionalApi::Shared()) : api_(&api), theme_(api) {}
    virtual ~IconEdit() { Detach(); }
    IconEdit(const IconEdit&) = delete;
    IconEdit& operator=(const IconEdit&) = delete;

    // 0 when there is no edit or it is hooked already. A missing icon
    // resource leaves the strip empty; the click still works.
    virtual int Init(HWND edit, HINSTANCE instance, int iconId, DWORD options);
    virtual void Detach();
    // The grey hint shown while the edit is empty (EM_SETCUEBANNER), also
    // while it has the focus when `whileFocused`.
    int SetCueBanner(const wchar_t* text, bool whileFocused = true);

    // ((4 + truncate(0.7 × height)) / 8) × 8: the nearest multiple of 8.
    static int IconSizeFor(int editHeight);

    HWND Window() const { return edit_; }
    DWORD Options() const { return options_; }
    int IconSize() const { return iconSize_; }
    int IconMargin() const { return iconMargin_; }
    int TextOffset() const { return textOffset_; }
    bool IsPressed() const { return pressed_; }

protected:
    // The dark-mode test of the running system; tests answer for it.
    virtual int DarkModeWanted();

private:
    static int EditMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                           void* self);
    int OnEditMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    LRESULT CallEdit(UINT message, WPARAM wParam, LPARAM lParam);
    void ApplyTheme();
    void CreateIcon();
    void RecalculateFrame();
    LRESULT OnCalcSize(WPARAM wParam, LPARAM lParam);
    void OnPaintFrame(WPARAM wParam, LPARAM lParam);
    bool InIconStrip(int x) const;
    bool CursorOverStrip() const;

    OptionalApi* api_;
    ThemeHandle theme_;
    ImageList icon_;
    HWND edit_ = nullptr;
    HINSTANCE instance_ = nullptr;
    int iconId_ = 0;
    DWORD options_ = 0;
    int iconSize_ = 0;
    int iconMargin_ = 0;
    int borderWidth_ = 0;
    int borderHeight_ = 0;
    int textOffset_ = 0;
    bool pressed_ = false;
    TaggedSubclassHook<SubclassTag("diic")> hook_;
};
