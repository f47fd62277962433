#pragma once

#include <windows.h>

#include <vector>

#include "ui/DeferredCall.h"
#include "services/OptionalApi.h"

// Moves and stretches the child controls of a resizable dialog when its
// client area changes size, each control by its own anchor code and always
// relative to the geometry it had when it was added, so that growing and
// shrinking back restores every control exactly.
class LayoutAnchors {
public:
    // Anchor code bits. For each of x, y, width and height the first bit
    // present in this order applies; without one the value stays.
    static constexpr DWORD MoveRight = 0x001;          // x = left + dW
    static constexpr DWORD MoveRightRatio = 0x010;     // x = left / reference width * new width
    static constexpr DWORD MoveRightHalf = 0x080;      // x = left + dW / 2
    static constexpr DWORD MoveDown = 0x002;           // y = top + dH
    static constexpr DWORD MoveDownRatio = 0x020;      // y = top / reference height * new height
    static constexpr DWORD MoveDownHalf = 0x200;       // y = top + dH / 2
    static constexpr DWORD StretchWidth = 0x004;       // w = width + dW
    static constexpr DWORD StretchWidthHalf = 0x040;   // w = width + dW / 2
    static constexpr DWORD StretchHeight = 0x008;      // h = height + dH
    static constexpr DWORD StretchHeightHalf = 0x100;  // h = height + dH / 2

    explicit LayoutAnchors(OptionalApi& api = OptionalApi::Shared()) : api_(&api) {}
    virtual ~LayoutAnchors() = default;
    LayoutAnchors(const LayoutAnchors&) = delete;
    LayoutAnchors& operator=(const LayoutAnchors&) = delete;

    // Captures the control's rectangle in its parent's client coordinates
    // and the reference: the parent's client rectangle, or (0, 0,
    // referenceWidth, referenceHeight) in the parent's dialog units when
    // both are given. 0 for a control without a parent.
    virtual int Add(HWND control, DWORD code, int referenceWidth = 0, int referenceHeight = 0);
    // The dialog's WM_SIZE. A control whose DPI changed since its capture
    // is not moved: the system is rescaling the dialog, and once all the
    // messages of that change are handled, whatever their order, the
    // geometry it leaves becomes the new reference (Recapture).
    virtual void Resize(WPARAM type, LPARAM size);
    // The dialog's WM_DPICHANGED: recapture once the change is handled.
    void OnDpiChanged();
    // Every control's current rectangle, its parent's client area and its
    // DPI become its reference.
    void Recapture();
    bool IsRecapturePending() const { return recapture_.IsPending(); }
    // Forgets every control (the dialog is going away).
    void Clear();
    int Count() const { return (int)entries_.size(); }

    // Where `code` puts a control captured as `control` against `reference`
    // for a client area of `width` × `height`. Exposed for the owner that
    // wants to know the layout without moving anything.
    static RECT Place(DWORD code, const RECT& control, const RECT& reference, int width, int height);

private:
    struct Entry {
        HWND control;
        HWND parent;
        DWORD code;
        RECT rectangle;
        RECT reference;
        UINT dpi;
    };

    static int CaptureRectangle(HWND control, HWND parent, RECT* rectangle);
    static void RecaptureLater(void* self);
    void ScheduleRecapture();

    OptionalApi* api_;
    std::vector<Entry> entries_;
    DeferredCall recapture_;
};
