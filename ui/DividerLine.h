#pragma once

#include <windows.h>

#include "ui/GdiObject.h"
#include "services/OptionalApi.h"
#include "ui/SubclassHook.h"
#include "ui/ThemeHandle.h"

// Turns a static control into a separator line: the toolbar separator of
// the visual style (an etched edge where no style draws), or a flat line of
// one colour. The line runs along the control's longer side.
class DividerLine {
public:
    // Option bits of Init.
    static constexpr DWORD Flat = 0x01; // a 1-pixel line of the given colour

    // Toolbar parts; a horizontal line is the "vertical" separator, which
    // stands between vertically stacked buttons.
    static constexpr int SeparatorPart = 5;         // TP_SEPARATOR: a vertical line
    static constexpr int SeparatorVerticalPart = 6; // TP_SEPARATORVERT: a horizontal line
    static constexpr int ThemedThickness = 5;

    explicit DividerLine(OptionalApi& api = OptionalApi::Shared()) : theme_(api) {}
    virtual ~DividerLine() { Detach(); }
    DividerLine(const DividerLine&) = delete;
    DividerLine& operator=(const DividerLine&) = delete;

    // Sizes the control for its mode and paints it from then on. 0 when
    // there is no control or it is a divider already.
    virtual int Init(HWND control, DWORD options, COLORREF colour);
    // Removes the subclass, closes the theme and deletes the brush.
    virtual void Detach();

    HWND Control() const { return control_; }
    bool IsHorizontal() const { return horizontal_; }
    DWORD Options() const { return options_; }

private:
    static int ControlMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT* result, void* self);
    void FitControl();
    void Paint(HDC dc);
    void PaintThemed(HDC dc, const RECT& client);
    void PaintEdge(HDC dc, const RECT& client);

    ThemeHandle theme_;
    BrushObject brush_;
    HWND control_ = nullptr;
    DWORD options_ = 0;
    bool horizontal_ = true;
    TaggedSubclassHook<SubclassTag("divi")> hook_;
};
