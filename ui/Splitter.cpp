#include "ui/Splitter.h"

#include <windowsx.h>

#include "services/SettingText.h"
#include "services/WideString.h"

namespace {

struct Move {
    HWND window;
    int x, y, width, height;
    UINT flags;
};

int NotNegative(long long value)
{
    return value > 0 ? (int)value : 0;
}

// All in one batch, so that the panes and the divider are redrawn once and
// never overlap on the way; one by one when the batch cannot be had.
void MoveTogether(const Move* moves, int count)
{
    const UINT common = SWP_NOZORDER | SWP_NOACTIVATE;
    HDWP batch = BeginDeferWindowPos(count);
    for (int i = 0; i < count && batch; ++i)
        batch = DeferWindowPos(batch, moves[i].window, nullptr, moves[i].x, moves[i].y,
                               moves[i].width, moves[i].height, moves[i].flags | common);
    if (batch && EndDeferWindowPos(batch))
        return;
    for (int i = 0; i < count; ++i)
        SetWindowPos(moves[i].window, nullptr, moves[i].x, moves[i].y, moves[i].width,
                     moves[i].height, moves[i].flags | common);
}

int Width(const RECT& rect)
{
    return rect.right - rect.left;
}

int Height(const RECT& rect)
{
    return rect.bottom - rect.top;
}

} // namespace

int Splitter::Init(DWORD flags, HWND divider, HWND pane1, HWND pane2, int windowMinimumWidth,
                   int windowMinimumHeight, int pane1Minimum, int pane2Minimum)
{
    HWND parent = divider ? GetParent(divider) : nullptr;
    if (!parent || !pane1 || !pane2 || hook_.IsAttached())
        return 0;
    flags_ = flags & ~(Dragging | Horizontal);
    divider_ = divider;
    parent_ = parent;
    pane1_ = pane1;
    pane2_ = pane2;
    windowMinimumWidth_ = windowMinimumWidth;
    windowMinimumHeight_ = windowMinimumHeight;
    pane1Minimum_ = pane1Minimum;
    pane2Minimum_ = pane2Minimum;
    anchor_ = {};
    RECT rect = ChildRect(divider_);
    if (Width(rect) > Height(rect)) {
        flags_ |= Horizontal;
        cursor_ = IDC_SIZENS;
    } else {
        cursor_ = IDC_SIZEWE;
    }
    if (flags_ & FillGap)
        FillGapBetweenPanes();
    Measure();
    if (!hook_.Attach(divider_, &DividerMessage, this)) {
        divider_ = nullptr;
        return 0;
    }
    return 1;
}

void Splitter::Detach()
{
    remeasure_.Cancel();
    StopDrag();
    hook_.Detach();
    divider_ = nullptr;
    parent_ = pane1_ = pane2_ = nullptr;
}

RECT Splitter::ChildRect(HWND child) const
{
    RECT rect = {};
    if (GetWindowRect(child, &rect))
        MapWindowPoints(nullptr, parent_, (POINT*)&rect, 2);
    return rect;
}

UINT Splitter::CurrentDpi() const
{
    return api_->WindowDpi(divider_);
}

void Splitter::FillGapBetweenPanes()
{
    RECT first = ChildRect(pane1_), second = ChildRect(pane2_);
    RECT gap;
    if (IsHorizontal())
        gap = {first.left, first.bottom, first.right, second.top};
    else
        gap = {first.right, first.top, second.left, first.bottom};
    SetWindowPos(divider_, nullptr, gap.left, gap.top, NotNegative(Width(gap)),
                 NotNegative(Height(gap)), SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

void Splitter::MeasureLater(void* self)
{
    static_cast<Splitter*>(self)->Measure();
}

void Splitter::ScheduleMeasure()
{
    // The system moves the panes, resizes the dialog and sends the DPI
    // messages in an order of its own; measured before it is done, the
    // margins would mix the old layout with the new size.
    if (parent_)
        remeasure_.Start(parent_, &MeasureLater, this);
}

void Splitter::OnDpiChanged()
{
    ScheduleMeasure();
}

void Splitter::Measure()
{
    if (!divider_)
        return;
    remeasure_.Cancel();
    dpi_ = CurrentDpi();
    scale_ = dpi_ / 96.0;
    RECT frame = {};
    DWORD style = (DWORD)GetWindowLongPtrW(parent_, GWL_STYLE);
    DWORD exStyle = (DWORD)GetWindowLongPtrW(parent_, GWL_EXSTYLE);
    api_->AdjustWindowRectForDpi(&frame, style, (flags_ & ParentHasMenu) ? TRUE : FALSE, exStyle,
                                 dpi_);
    frameWidth_ = Width(frame);
    frameHeight_ = Height(frame);
    RECT divider = ChildRect(divider_), first = ChildRect(pane1_), second = ChildRect(pane2_);
    if (IsHorizontal()) {
        gapBefore_ = divider.top - first.bottom;
        offsetToPane2_ = second.top - divider.top;
    } else {
        gapBefore_ = divider.left - first.right;
        offsetToPane2_ = second.left - divider.left;
    }
    RECT client = {};
    GetClientRect(parent_, &client);
    rightMargin_ = client.right - second.right;
    bottomMargin_ = client.bottom - second.bottom;
}

int Splitter::SetPosition(POINT point)
{
    if (!divider_)
        return 0;
    // Along the axis the divider moves on: x for a vertical one, y for a
    // horizontal one.
    const bool horizontal = IsHorizontal();
    RECT divider = ChildRect(divider_), first = ChildRect(pane1_), second = ChildRect(pane2_);
    auto start = [horizontal](const RECT& r) { return (long long)(horizontal ? r.top : r.left); };
    auto end = [horizontal](const RECT& r) { return (long long)(horizontal ? r.bottom : r.right); };
    long long moved = horizontal ? (long long)point.y - anchor_.y : (long long)point.x - anchor_.x;
    long long lead = start(divider) + moved;
    long long firstExtent = lead - gapBefore_ - start(first);
    long long secondStart = lead + offsetToPane2_;
    long long secondExtent = end(second) - secondStart;
    if (firstExtent < Scaled(pane1Minimum_) || secondExtent < Scaled(pane2Minimum_))
        return 0;
    // Pane 2 is drawn anew: its old bits, copied along with its leading
    // edge, left parts of a list and its header stale under Wine.
    Move moves[3];
    if (horizontal) {
        moves[0] = {divider_, divider.left, (int)lead, 0, 0, SWP_NOSIZE};
        moves[1] = {pane1_, 0, 0, Width(first), (int)firstExtent, SWP_NOMOVE};
        moves[2] = {pane2_, second.left, (int)secondStart, Width(second), (int)secondExtent, SWP_NOCOPYBITS};
    } else {
        moves[0] = {divider_, (int)lead, divider.top, 0, 0, SWP_NOSIZE};
        moves[1] = {pane1_, 0, 0, (int)firstExtent, Height(first), SWP_NOMOVE};
        moves[2] = {pane2_, (int)secondStart, second.top, (int)secondExtent, Height(second), SWP_NOCOPYBITS};
    }
    MoveTogether(moves, 3);
    return 1;
}

void Splitter::OnWindowPosChanging(WINDOWPOS* position)
{
    // A minimised dialog has no panes to keep; right after a move to a
    // monitor of another DPI the measured sizes are out of date.
    if (!divider_ || !position || (position->flags & SWP_NOSIZE) || IsIconic(parent_) ||
        CurrentDpi() != dpi_ || remeasure_.IsPending())
        return;
    RECT second = ChildRect(pane2_);
    int width = second.left + Scaled(windowMinimumWidth_) + frameWidth_;
    int height = second.top + Scaled(windowMinimumHeight_) + frameHeight_;
    if (position->cx < width)
        position->cx = width;
    if (position->cy < height)
        position->cy = height;
}

void Splitter::OnWindowPosChanged(const WINDOWPOS* position)
{
    if (!divider_ || !position || (position->flags & SWP_NOSIZE) || IsIconic(parent_))
        return;
    if (CurrentDpi() != dpi_ || remeasure_.IsPending()) {
        ScheduleMeasure();
        return;
    }
    RECT divider = ChildRect(divider_), first = ChildRect(pane1_), second = ChildRect(pane2_);
    // What the window size leaves for the panes' far edges.
    long long right = (long long)position->cx - frameWidth_ - rightMargin_;
    long long bottom = (long long)position->cy - frameHeight_ - bottomMargin_;
    int secondWidth = NotNegative(right - second.left);
    int secondHeight = NotNegative(bottom - second.top);
    const UINT keep = SWP_NOMOVE;
    if (IsHorizontal()) {
        Move moves[3] = {
            {divider_, 0, 0, NotNegative(right - divider.left), Height(divider), keep},
            {pane1_, 0, 0, NotNegative(right - first.left), Height(first), keep},
            {pane2_, 0, 0, secondWidth, secondHeight, keep},
        };
        MoveTogether(moves, 3);
        return;
    }
    Move moves[3] = {
        {divider_, 0, 0, Width(divider), NotNegative(bottom - divider.top), keep},
        {pane1_, 0, 0, Width(first), NotNegative(bottom - first.top), keep},
        {pane2_, 0, 0, secondWidth, secondHeight, keep},
    };
    MoveTogether(moves, 3);
}

int Splitter::SavePosition(HKEY root, const wchar_t* path, const wchar_t* name)
{
    if (!divider_)
        return 0;
    RECT divider = ChildRect(divider_);
    // Rounded, so that at the same DPI the divider comes back where it was
    // wherever the scale allows it.
    int left = (int)(divider.left / scale_ + 0.5);
    int top = (int)(divider.top / scale_ + 0.5);
    WideString text;
    return text.Format(L"%d,%d", left, top) && WriteSettingText(root, path, name, text.Text());
}

int Splitter::LoadPosition(HKEY root, const wchar_t* path, const wchar_t* name)
{
    WideString text;
    int stored[2];
    if (!divider_ || !ReadSettingText(root, path, name, text) || !ParseNumberList(text.Text(), stored, 2))
        return 0;
    long long x = (long long)(stored[0] * scale_), y = (long long)(stored[1] * scale_);
    // Outside the dialog's client area no divider can stand.
    RECT client = {};
    GetClientRect(parent_, &client);
    if (x < 0 || y < 0 || x > client.right || y > client.bottom)
        return 0;
    POINT point = {(LONG)x, (LONG)y};
    MapWindowPoints(parent_, divider_, &point, 1);
    StopDrag();
    anchor_ = {};
    return SetPosition(point);
}

int Splitter::DividerMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                             void* self)
{
    return static_cast<Splitter*>(self)->OnDividerMessage(message, wParam, lParam, result);
}

int Splitter::OnDividerMessage(UINT message, WPARAM, LPARAM lParam, LRESULT* result)
{
    *result = 0;
    switch (message) {
    case WM_PAINT:
        if (!(flags_ & PaintDialogBrush))
            return 0;
        Paint();
        return 1;
    case WM_SETCURSOR:
        SetCursor(LoadCursorW(nullptr, cursor_));
        *result = TRUE;
        return 1;
    case WM_NCHITTEST:
        *result = HTCLIENT;
        return 1;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (!IsDragging())
            StartDrag(lParam);
        return 1;
    case WM_MOUSEMOVE:
        if (IsDragging()) {
            POINT point = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            SetPosition(point);
        }
        return 1;
    case WM_LBUTTONUP:
        StopDrag();
        return 1;
    case WM_CAPTURECHANGED:
        // Someone else took the mouse (a menu, Alt+Tab): the drag is over,
        // or the next plain mouse move would still drag.
        flags_ &= ~Dragging;
        return 0;
    default:
        return 0;
    }
}

void Splitter::StartDrag(LPARAM lParam)
{
    flags_ |= Dragging;
    anchor_ = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    SetCapture(divider_);
}

void Splitter::StopDrag()
{
    if (!IsDragging())
        return;
    flags_ &= ~Dragging;
    if (divider_ && GetCapture() == divider_)
        ReleaseCapture();
}

void Splitter::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(divider_, &paint);
    if (!dc)
        return;
    HBRUSH brush = (HBRUSH)SendMessageW(parent_, WM_CTLCOLORDLG, (WPARAM)dc, (LPARAM)parent_);
    if (!brush)
        brush = (HBRUSH)GetStockObject(WHITE_BRUSH);
    RECT client;
    GetClientRect(divider_, &client);
    FillRect(dc, &client, brush);
    EndPaint(divider_, &paint);
}
