#pragma once

#include <windows.h>

#include "services/WideString.h"
#include "ui/MouseLeaveTracker.h"
#include "services/OptionalApi.h"
#include "ui/SubclassHook.h"
#include "ui/ThemeHandle.h"

// Turns a static text control into a web-style link: its own painting in
// the link colours of the user's browser settings (in high contrast the
// scheme's own link colour), an underline by the
// browser's rule, a hand cursor over the text, a focus rectangle, and on a
// click (press and release on the text), Enter or Space its address opened
// in the user's browser through the program's launch, or the owner told.
class LinkControl {
public:
    // Options of Init (Init always adds UseHoverColour).
    static constexpr DWORD UseHoverColour = 0x0001;
    static constexpr DWORD ParentFont = 0x0002;
    static constexpr DWORD Transparent = 0x0010;
    static constexpr DWORD FontFromClientHeight = 0x0020;
    static constexpr DWORD NoFocusRectangle = 0x0080;
    static constexpr DWORD MaskedText = 0x0100;
    static constexpr DWORD BrowserFontFace = 0x0200;
    static constexpr DWORD ThemedParentBackground = 0x0400;
    static constexpr DWORD CommandToParent = 0x0800;
    static constexpr DWORD EndEllipsis = 0x1000;
    static constexpr DWORD PathEllipsis = 0x2000;
    static constexpr DWORD IgnoreExTransparent = 0x4000;
    // State kept in the same word.
    static constexpr DWORD Hot = 0x04;
    static constexpr DWORD Disabled = 0x08;
    static constexpr DWORD Focused = 0x40;

    // Underline modes.
    static constexpr int UnderlineNever = 0;
    static constexpr int UnderlineOnHover = 1;
    static constexpr int UnderlineAlways = 2;

    // Why the link was activated.
    static constexpr int ByButtonDown = 1;
    static constexpr int ByEnter = 2;
    static constexpr int BySpace = 3;
    static constexpr int ByButtonUp = 4;

    static constexpr COLORREF DefaultColour = 0xCC6600;  // RGB(0, 102, 204)
    static constexpr COLORREF DarkModeColour = 0xFF8D1D; // RGB(29, 141, 255)

    // Replaces opening the address: (reason, text, address, control, user data).
    typedef void (*ActivateCallback)(int reason, const wchar_t* text, const wchar_t* url, HWND control,
                                     void* userData);

    explicit LinkControl(OptionalApi& api = OptionalApi::Shared()) : api_(&api), theme_(api) {}
    virtual ~LinkControl() { Detach(); }
    LinkControl(const LinkControl&) = delete;
    LinkControl& operator=(const LinkControl&) = delete;

    // Where the browser settings are read: `root`\`path` stands for the
    // user's "Software\Microsoft\Internet Explorer". Set before Init.
    void UseBrowserSettingsKey(HKEY root, const wchar_t* path);

    // `cursorId` is the hand cursor resource of the control's module, used
    // where the system has no IDC_HAND. 0 when there is no control or it is
    // hooked already.
    virtual int Init(HWND control, const wchar_t* text, const wchar_t* url, int cursorId, DWORD options);
    virtual int SetText(const wchar_t* text);
    // Removes the subclass, stops the leave tracking, deletes the fonts and
    // closes the theme; the control gets its text back.
    virtual void Detach();
    void SetActivateCallback(ActivateCallback callback, void* userData);

    DWORD Flags() const { return flags_; }
    int UnderlineMode() const { return underline_; }
    COLORREF NormalColour() const { return normalColour_; }
    COLORREF HoverColour() const { return hoverColour_; }
    COLORREF DisabledColour() const { return disabledColour_; }
    const wchar_t* Text() const { return text_.Text(); }
    const wchar_t* DisplayText() const { return display_.Text(); }
    const wchar_t* Url() const { return url_.Text(); }
    UINT Format() const { return format_; }
    SIZE TextExtent() const { return extent_; }
    HFONT NormalFont() const { return normalFont_; }
    HFONT UnderlinedFont() const { return underlinedFont_; }
    // Whether a point of the control's client area lies on the text.
    bool IsOverText(POINT point) const;
    bool IsPressed() const { return pressed_; }

protected:
    // The dark-mode test of the running system; tests answer for it.
    virtual int DarkModeWanted();

private:
    static int ControlMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT* result, void* self);
    int OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    void ReadColours();
    void ReadBrowserColours();
    void CreateFonts();
    void DeleteFonts();
    int StartingFontHeight(const RECT& client) const;
    void ChooseFace(wchar_t (&face)[LF_FACESIZE]) const;
    int BrowserFace(wchar_t (&face)[LF_FACESIZE]) const;
    void UpdateDisplayText();
    void Measure();
    void Invalidate();
    void Paint();
    void DrawFocus(HDC dc, const RECT& client);
    void OnMouseMove(POINT point);
    void LeaveText();
    void SetHandCursor(bool hand);
    void Activate(int reason);
    LRESULT CopyText(WPARAM size, wchar_t* buffer) const;
    void SetFlag(DWORD bits, bool on) { flags_ = on ? (flags_ | bits) : (flags_ & ~bits); }

    OptionalApi* api_;
    ThemeHandle theme_;
    MouseLeaveTracker leaveTracker_;
    HKEY settingsRoot_ = HKEY_CURRENT_USER;
    WideString settingsPath_{L"Software\\Microsoft\\Internet Explorer"};
    HWND control_ = nullptr;
    WideString text_;
    WideString display_;
    WideString url_;
    int cursorId_ = 0;
    DWORD flags_ = 0;
    UINT format_ = DT_SINGLELINE;
    HFONT normalFont_ = nullptr;
    HFONT underlinedFont_ = nullptr;
    COLORREF normalColour_ = DefaultColour;
    COLORREF hoverColour_ = 0x0000FF;
    COLORREF disabledColour_ = 0;
    int underline_ = UnderlineAlways;
    SIZE extent_ = {};
    // A press that began on the text; only a release on the text ends it
    // as a click.
    bool pressed_ = false;
    ActivateCallback callback_ = nullptr;
    void* callbackData_ = nullptr;
    TaggedSubclassHook<SubclassTag("link")> hook_;
};
