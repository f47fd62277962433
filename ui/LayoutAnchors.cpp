#include "ui/LayoutAnchors.h"

namespace {

int Width(const RECT& rect)
{
    return rect.right - rect.left;
}

int Height(const RECT& rect)
{
    return rect.bottom - rect.top;
}

// `value` / `reference` × `extent`, truncated; a reference of 0 keeps the value.
int Proportional(int value, int reference, int extent)
{
    if (reference == 0)
        return value;
    return (int)((double)value / reference * extent);
}

int Half(int value, int delta)
{
    return (int)(value + delta / 2.0);
}

} // namespace

int LayoutAnchors::CaptureRectangle(HWND control, HWND parent, RECT* rectangle)
{
    if (!GetWindowRect(control, rectangle))
        return 0;
    MapWindowPoints(nullptr, parent, (POINT*)rectangle, 2);
    return 1;
}

int LayoutAnchors::Add(HWND control, DWORD code, int referenceWidth, int referenceHeight)
{
    HWND parent = control ? GetParent(control) : nullptr;
    if (!parent)
        return 0;
    Entry entry = {control, parent, code, {}, {}, api_->GetDpiForWindow(control)};
    if (!CaptureRectangle(control, parent, &entry.rectangle))
        return 0;
    if (referenceWidth && referenceHeight) {
        entry.reference = {0, 0, referenceWidth, referenceHeight};
        if (!MapDialogRect(parent, &entry.reference))
            return 0;
    } else if (!GetClientRect(parent, &entry.reference)) {
        return 0;
    }
    entries_.push_back(entry);
    return 1;
}

RECT LayoutAnchors::Place(DWORD code, const RECT& control, const RECT& reference, int width, int height)
{
    int dW = width - Width(reference);
    int dH = height - Height(reference);
    int x = control.left, y = control.top, w = Width(control), h = Height(control);
    if (code & MoveRight)
        x = control.left + dW;
    else if (code & MoveRightRatio)
        x = Proportional(control.left, Width(reference), width);
    else if (code & MoveRightHalf)
        x = Half(control.left, dW);
    if (code & MoveDown)
        y = control.top + dH;
    else if (code & MoveDownRatio)
        y = Proportional(control.top, Height(reference), height);
    else if (code & MoveDownHalf)
        y = Half(control.top, dH);
    if (code & StretchWidth)
        w = Width(control) + dW;
    else if (code & StretchWidthHalf)
        w = Half(Width(control), dW);
    if (code & StretchHeight)
        h = Height(control) + dH;
    else if (code & StretchHeightHalf)
        h = Half(Height(control), dH);
    // A dialog shrunk below its registered size squeezes a stretched
    // control to nothing, never to a negative size.
    RECT placed = {x, y, x + (w > 0 ? w : 0), y + (h > 0 ? h : 0)};
    return placed;
}

void LayoutAnchors::Resize(WPARAM type, LPARAM size)
{
    // A minimised dialog reports an empty client area; its controls stay
    // where they are until it is restored.
    if (type == SIZE_MINIMIZED)
        return;
    int width = LOWORD(size), height = HIWORD(size);
    for (Entry& entry : entries_) {
        UINT dpi = api_->GetDpiForWindow(entry.control);
        if (dpi != entry.dpi) {
            entry.dpi = dpi;
            CaptureRectangle(entry.control, entry.parent, &entry.rectangle);
            GetClientRect(entry.parent, &entry.reference);
            continue;
        }
        RECT placed = Place(entry.code, entry.rectangle, entry.reference, width, height);
        MoveWindow(entry.control, placed.left, placed.top, Width(placed), Height(placed), TRUE);
        InvalidateRect(entry.control, nullptr, TRUE);
    }
}
