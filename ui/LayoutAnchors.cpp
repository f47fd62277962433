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

// One of x, y, width or height: the first of the three rules present in
// `code` (a rule bit of 0 never applies).
int Apply(DWORD code, DWORD full, DWORD ratio, DWORD half, int value, int delta, int reference,
          int extent)
{
    if (code & full)
        return value + delta;
    if (code & ratio)
        return Proportional(value, reference, extent);
    if (code & half)
        return Half(value, delta);
    return value;
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
    int x = Apply(code, MoveRight, MoveRightRatio, MoveRightHalf, control.left, dW, Width(reference), width);
    int y = Apply(code, MoveDown, MoveDownRatio, MoveDownHalf, control.top, dH, Height(reference), height);
    int w = Apply(code, StretchWidth, 0, StretchWidthHalf, Width(control), dW, 0, 0);
    int h = Apply(code, StretchHeight, 0, StretchHeightHalf, Height(control), dH, 0, 0);
    // A dialog shrunk below its registered size squeezes a stretched
    // control to nothing, never to a negative size.
    RECT placed = {x, y, x + (w > 0 ? w : 0), y + (h > 0 ? h : 0)};
    return placed;
}

void LayoutAnchors::Clear()
{
    recapture_.Cancel();
    entries_.clear();
}

void LayoutAnchors::Recapture()
{
    recapture_.Cancel();
    for (Entry& entry : entries_) {
        entry.dpi = api_->GetDpiForWindow(entry.control);
        CaptureRectangle(entry.control, entry.parent, &entry.rectangle);
        GetClientRect(entry.parent, &entry.reference);
    }
}

void LayoutAnchors::RecaptureLater(void* self)
{
    static_cast<LayoutAnchors*>(self)->Recapture();
}

void LayoutAnchors::ScheduleRecapture()
{
    // The system moves the children, resizes the dialog and sends the DPI
    // messages in an order of its own; measured before it is done, the
    // reference would mix the old layout with the new size.
    if (!entries_.empty())
        recapture_.Start(entries_.front().parent, &RecaptureLater, this);
}

void LayoutAnchors::OnDpiChanged()
{
    ScheduleRecapture();
}

void LayoutAnchors::Resize(WPARAM type, LPARAM size)
{
    // A minimised dialog reports an empty client area; its controls stay
    // where they are until it is restored.
    if (type == SIZE_MINIMIZED)
        return;
    int width = LOWORD(size), height = HIWORD(size);
    for (Entry& entry : entries_) {
        if (recapture_.IsPending() || api_->GetDpiForWindow(entry.control) != entry.dpi) {
            ScheduleRecapture();
            continue;
        }
        RECT placed = Place(entry.code, entry.rectangle, entry.reference, width, height);
        MoveWindow(entry.control, placed.left, placed.top, Width(placed), Height(placed), TRUE);
        InvalidateRect(entry.control, nullptr, TRUE);
    }
}
