#pragma once

#include <windows.h>

#include "ui/DeferredCall.h"
#include "services/OptionalApi.h"
#include "ui/SubclassHook.h"

// Turns a static control lying between two panes of a dialog into a
// draggable divider. Dragging resizes both panes against each other, never
// below their minimums; resizing the dialog stretches the panes with it and
// keeps the dialog wide and tall enough for the second pane. Sizes given by
// the owner and the stored position are in 96-DPI pixels, scaled by the
// divider's DPI.
class Splitter {
public:
    // Flags of Init; Dragging and Horizontal are state kept in the same word.
    static constexpr DWORD Dragging = 0x01;
    static constexpr DWORD ParentHasMenu = 0x02;
    static constexpr DWORD Horizontal = 0x04;
    static constexpr DWORD FillGap = 0x08;
    static constexpr DWORD PaintDialogBrush = 0x10;

    explicit Splitter(OptionalApi& api = OptionalApi::Shared()) : api_(&api) {}
    virtual ~Splitter() = default;
    Splitter(const Splitter&) = delete;
    Splitter& operator=(const Splitter&) = delete;

    // A divider wider than tall is horizontal (panes above and below). The
    // window minimum is the room the dialog keeps beyond pane 2's leading
    // edge; the pane minimums hold while dragging and loading. 0 when the
    // windows are missing or the divider is hooked already.
    virtual int Init(DWORD flags, HWND divider, HWND pane1, HWND pane2, int windowMinimumWidth,
                     int windowMinimumHeight, int pane1Minimum, int pane2Minimum);
    // Removes the subclass; the windows stay where they are.
    virtual void Detach();

    // Moves the divider so that the drag anchor lands on `point` (divider
    // client coordinates) and resizes both panes; 0 when a pane would fall
    // below its minimum (then nothing moves).
    virtual int SetPosition(POINT point);
    // The dialog's WM_WINDOWPOSCHANGING and WM_WINDOWPOSCHANGED. While the
    // divider's DPI differs from the measured one, neither touches the
    // panes: the system is rescaling the dialog, and once all the messages
    // of that change are handled the margins are measured again.
    virtual void OnWindowPosChanging(WINDOWPOS* position);
    virtual void OnWindowPosChanged(const WINDOWPOS* position);
    // The dialog's WM_DPICHANGED: measure again once the change is handled.
    void OnDpiChanged();
    bool IsMeasurePending() const { return remeasure_.IsPending(); }

    // "left,top" of the divider in the dialog's client area, in 96-DPI pixels.
    virtual int SavePosition(HKEY root, const wchar_t* path, const wchar_t* name);
    // Applies a stored position that keeps both panes at their minimums; 1
    // when the divider moved there.
    virtual int LoadPosition(HKEY root, const wchar_t* path, const wchar_t* name);

    DWORD Flags() const { return flags_; }
    bool IsHorizontal() const { return (flags_ & Horizontal) != 0; }
    bool IsDragging() const { return (flags_ & Dragging) != 0; }
    HWND Divider() const { return divider_; }
    // A 96-DPI size at the measured DPI.
    int Scaled(int pixels96) const { return (int)(pixels96 * scale_); }

private:
    static int DividerMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                              LRESULT* result, void* self);
    int OnDividerMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // The margins and gaps the panes keep, from the current layout.
    void Measure();
    static void MeasureLater(void* self);
    void ScheduleMeasure();
    void FillGapBetweenPanes();
    void Paint();
    void StartDrag(LPARAM lParam);
    void StopDrag();
    RECT ChildRect(HWND child) const;
    UINT CurrentDpi() const;

    OptionalApi* api_;
    DWORD flags_ = 0;
    HWND divider_ = nullptr;
    HWND parent_ = nullptr;
    HWND pane1_ = nullptr;
    HWND pane2_ = nullptr;
    const wchar_t* cursor_ = IDC_SIZEWE;
    POINT anchor_ = {};
    int gapBefore_ = 0;
    int offsetToPane2_ = 0;
    int rightMargin_ = 0;
    int bottomMargin_ = 0;
    int frameWidth_ = 0;
    int frameHeight_ = 0;
    int windowMinimumWidth_ = 0;
    int windowMinimumHeight_ = 0;
    int pane1Minimum_ = 0;
    int pane2Minimum_ = 0;
    UINT dpi_ = 96;
    double scale_ = 1.0;
    TaggedSubclassHook<SubclassTag("spli")> hook_;
    DeferredCall remeasure_;
};
