#pragma once

#include <windows.h>

#include "services/CriticalSection.h"
#include "services/WideString.h"
#include "ui/DialogTemplateFont.h"
#include "ui/GdiObject.h"
#include "ui/MouseLeaveTracker.h"
#include "services/OptionalApi.h"
#include "ui/SubclassHook.h"

// A static control whose text the label paints itself: in the first
// installed face of a list, at a given height or as large as the control
// allows, shrinking the font until the text fits, in its own colours, with
// a hover colour and optional frames. The text may be set from another
// thread while the control paints.
class TextLabel {
public:
    // Option bits of Init.
    static constexpr DWORD HoverColour = 0x00000001;     // the hover colour while the mouse is over the text
    static constexpr DWORD Bold = 0x00000002;
    static constexpr DWORD Underlined = 0x00000004;
    static constexpr DWORD Italic = 0x00000008;
    static constexpr DWORD WhiteBackground = 0x00000020; // instead of the parent's static brush
    static constexpr DWORD WordWrap = 0x00000040;        // otherwise one line
    static constexpr DWORD RefitOnNewText = 0x00000080;  // a new text computes the font again
    static constexpr DWORD Transparent = 0x00000100;     // no background; the parent repaints behind
    static constexpr DWORD SolidFrame = 0x00000200;      // frames, drawn 3 pixels around the text
    static constexpr DWORD DoubleFrame = 0x00000400;
    static constexpr DWORD SunkenEdge = 0x00000800;
    static constexpr DWORD RaisedEdge = 0x00001000;
    static constexpr DWORD EtchedEdge = 0x00002000;
    static constexpr DWORD BumpEdge = 0x00004000;
    static constexpr DWORD FrameStyles = 0x00007E00;
    static constexpr DWORD ControlFont = 0x00008000;     // a copy of the control's own font
    static constexpr DWORD EndEllipsis = 0x00040000;
    static constexpr DWORD VerticalCentre = 0x00800000;
    static constexpr DWORD ShrinkToFit = 0x04000000;     // with a fixed height, still shrink until the text fits

    // State bits.
    static constexpr DWORD Hot = 0x00000010;
    static constexpr DWORD Focused = 0x00080000;
    static constexpr DWORD Disabled = 0x00200000;

    static const wchar_t DefaultFaces[];   // "Segoe UI;Verdana;MS Sans Serif"
    static const wchar_t FallbackFace[];   // "Verdana"
    static constexpr int SmallestFontHeight = 3;
    static constexpr int FrameInset = 3;

    // A click on the text: the label and the owner's data.
    typedef void (*ClickCallback)(TextLabel& label, void* userData);

    explicit TextLabel(OptionalApi& api = OptionalApi::Shared()) : api_(&api) {}
    virtual ~TextLabel() { Detach(); }
    TextLabel(const TextLabel&) = delete;
    TextLabel& operator=(const TextLabel&) = delete;

    // `faces` is a list separated by "," or ";" (nullptr or "" for the
    // default list); `height` is in pixels at 96 DPI, 0 to fit the
    // control's height. `cursor` (may be null) is shown over the text,
    // `callback` (may be null) hears clicks on it. 0 when there is no
    // control or it is a label already.
    virtual int Init(HWND control, const wchar_t* faces, int height, COLORREF textColour,
                     COLORREF hoverColour, DWORD options, HCURSOR cursor, ClickCallback callback,
                     void* userData);
    virtual int SetText(const wchar_t* text);
    // Removes the subclass, stops the leave tracking and deletes the font;
    // the control gets its text back.
    virtual void Detach();

    // Where the label learns which faces are installed (the system unless replaced).
    void UseFontPlatform(const DialogFontPlatform& platform) { fontPlatform_ = &platform; }

    HWND Control() const { return control_; }
    DWORD Options() const { return options_; }
    DWORD State() const { return state_; }
    UINT Format() const { return format_; }
    const wchar_t* Face() const { return face_.Text(); }
    HFONT Font() const { return font_; }
    // The pixel height the font was made with (its cell height).
    int FontHeight() const { return fontHeight_; }
    SIZE TextExtent() const { return extent_; }
    COLORREF TextColour() const { return textColour_; }
    COLORREF HoverColourValue() const { return hoverColour_; }
    COLORREF DisabledColour() const { return disabledColour_; }
    // A copy taken under the lock.
    void CopyText(WideString& text);

    // The first face of `faces` that `platform` reports installed,
    // FallbackFace when none is.
    static void ChooseFace(const wchar_t* faces, const DialogFontPlatform& platform, WideString& face);

private:
    static int ControlMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT* result, void* self);
    int OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    UINT FormatFromStyle(DWORD style) const;
    RECT TextArea() const;
    void ComputeFont();
    HFONT MakeFont(int height) const;
    SIZE MeasureWith(HFONT font, const RECT& area);
    void Measure();
    bool IsOverText(POINT point) const;
    void OnMouseMove(POINT point);
    void SetState(DWORD bits, bool on);
    void Invalidate();
    void Paint(HDC dc);
    HBRUSH Background(HDC dc) const;
    COLORREF CurrentColour() const;
    void DrawFrames(HDC dc, const RECT& client) const;
    LRESULT CopyInto(WPARAM size, wchar_t* buffer);

    OptionalApi* api_;
    const DialogFontPlatform* fontPlatform_ = &SystemDialogFontPlatform();
    HWND control_ = nullptr;
    WideString text_;
    WideString face_;
    int height_ = 0;
    COLORREF textColour_ = 0;
    COLORREF hoverColour_ = 0;
    COLORREF disabledColour_ = 0;
    DWORD options_ = 0;
    DWORD state_ = 0;
    UINT format_ = DT_SINGLELINE;
    FontObject font_;
    int fontHeight_ = 0;
    SIZE extent_ = {};
    HCURSOR cursor_ = nullptr;
    ClickCallback callback_ = nullptr;
    void* userData_ = nullptr;
    CriticalSection lock_;
    MouseLeaveTracker leaveTracker_;
    TaggedSubclassHook<SubclassTag("stax")> hook_;
};
