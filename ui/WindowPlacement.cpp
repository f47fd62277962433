#include "ui/WindowPlacement.h"

#include "services/SettingText.h"

namespace {

const UINT DialogReposition = WM_USER + 2; // DM_REPOSITION

// Switches the calling thread's DPI awareness for one scope; a system
// without the function keeps its only context.
class ScopedDpiContext {
public:
    ScopedDpiContext(OptionalApi& api, DPI_AWARENESS_CONTEXT context)
        : api_(api), previous_(api.SetThreadDpiAwarenessContext(context))
    {
    }
    ~ScopedDpiContext()
    {
        if (previous_)
            api_.SetThreadDpiAwarenessContext(previous_);
    }
    ScopedDpiContext(const ScopedDpiContext&) = delete;
    ScopedDpiContext& operator=(const ScopedDpiContext&) = delete;

private:
    OptionalApi& api_;
    DPI_AWARENESS_CONTEXT previous_;
};

bool IsMinimizing(int showCommand)
{
    return showCommand == SW_SHOWMINIMIZED || showCommand == SW_MINIMIZE ||
           showCommand == SW_SHOWMINNOACTIVE || showCommand == SW_FORCEMINIMIZE;
}

bool WithinLimit(long long value)
{
    return value >= -WindowPlacement::CoordinateLimit - 1 && value <= WindowPlacement::CoordinateLimit;
}

int ReadPlacement(HWND window, WINDOWPLACEMENT* placement)
{
    *placement = {};
    placement->length = sizeof *placement;
    return GetWindowPlacement(window, placement) ? 1 : 0;
}

// Far-away points only need to stay far away.
POINT ClampedPoint(long long x, long long y)
{
    const long long limit = WindowPlacement::CoordinateLimit;
    POINT point = {(LONG)(x < -limit ? -limit : x > limit ? limit : x),
                   (LONG)(y < -limit ? -limit : y > limit ? limit : y)};
    return point;
}

long long Width(const RECT& rect)
{
    return (long long)rect.right - rect.left;
}

long long Height(const RECT& rect)
{
    return (long long)rect.bottom - rect.top;
}

} // namespace

int WindowPlacement::Format(int showCommand, const RECT& rectangle, WideString& text)
{
    return text.Format(L"%d,%i,%i,%i,%i", showCommand, (int)rectangle.left, (int)rectangle.top,
                       (int)rectangle.right, (int)rectangle.bottom);
}

int WindowPlacement::Parse(const wchar_t* text, int* showCommand, RECT* rectangle)
{
    int values[5];
    if (!ParseNumberList(text, values, 5))
        return 0;
    *showCommand = values[0];
    *rectangle = {values[1], values[2], values[3], values[4]};
    return 1;
}

int WindowPlacement::AdjustShowCommand(int stored, DWORD flags)
{
    int show = stored;
    if (show < SW_HIDE || show > SW_MAX)
        show = SW_SHOWNORMAL;
    if (!(flags & AllowMinimized) && IsMinimizing(show))
        show = SW_SHOWNORMAL;
    if (!(flags & AllowHidden) && show == SW_HIDE)
        show = SW_SHOWNORMAL;
    if (flags & ForceHidden)
        show = SW_HIDE;
    if (flags & ForceMinimizedNoActivate)
        show = SW_SHOWMINNOACTIVE;
    return show;
}

int WindowPlacement::Save(HWND window, HKEY root, const wchar_t* path, const wchar_t* name,
                          const RECT* rectangle, DWORD flags, SettingsStore* store)
{
    int show = SW_SHOW;
    RECT saved;
    if (rectangle) {
        saved = *rectangle;
    } else {
        WINDOWPLACEMENT placement;
        int read;
        {
            ScopedDpiContext unaware(*api_, DPI_AWARENESS_CONTEXT_UNAWARE);
            read = ReadPlacement(window, &placement);
        }
        if (!read)
            return 0;
        show = (int)placement.showCmd;
        saved = placement.rcNormalPosition;
        if (!(GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) && !(flags & SaveHiddenShowCommand))
            show = SW_HIDE;
    }
    WideString text;
    return Format(show, saved, text) && WriteSettingText(root, path, name, text.Text(), store);
}

int WindowPlacement::Load(HWND window, HKEY root, const wchar_t* path, const wchar_t* name,
                          DWORD flags, SettingsStore* store)
{
    WideString text;
    WINDOWPLACEMENT current;
    int show;
    RECT stored, target;
    if (!ReadSettingText(root, path, name, text, store) || !ReadPlacement(window, &current) ||
        !Parse(text.Text(), &show, &stored))
        return 0;
    show = AdjustShowCommand(show, flags);
    if (!ChooseRectangle(window, stored, flags, &target))
        return 0;
    return Apply(window, show, target, flags);
}

// Everything about the stored rectangle is decided in the space it was
// saved in, the DPI-unaware one: its size against the window's, its corner
// against the monitors.
int WindowPlacement::ChooseRectangle(HWND window, const RECT& stored, DWORD flags, RECT* target)
{
    ScopedDpiContext unaware(*api_, DPI_AWARENESS_CONTEXT_UNAWARE);
    WINDOWPLACEMENT placement;
    if (!ReadPlacement(window, &placement))
        return 0;
    const RECT& current = placement.rcNormalPosition;
    long long left = stored.left, top = stored.top;
    long long width = Width(stored), height = Height(stored);
    if (flags & PositionOnly) {
        width = Width(current);
        height = Height(current);
    } else if (flags & SizeOnly) {
        left = current.left;
        top = current.top;
    }
    // An inverted or empty rectangle is no window someone saved.
    if (width <= 0 || height <= 0)
        return 0;
    FitSize(current, &width, &height);
    KeepOnMonitor(flags, width, height, &left, &top);
    if (!WithinLimit(left) || !WithinLimit(top) || !WithinLimit(left + width) ||
        !WithinLimit(top + height))
        return 0;
    *target = {(LONG)left, (LONG)top, (LONG)(left + width), (LONG)(top + height)};
    return 1;
}

// Never smaller than the window is now (the template's size when loading
// in WM_INITDIALOG), never larger than the whole desktop.
void WindowPlacement::FitSize(const RECT& current, long long* width, long long* height)
{
    long long desktopWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    long long desktopHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (desktopWidth > 0 && *width > desktopWidth)
        *width = desktopWidth;
    if (desktopHeight > 0 && *height > desktopHeight)
        *height = desktopHeight;
    if (*width < Width(current))
        *width = Width(current);
    if (*height < Height(current))
        *height = Height(current);
}

void WindowPlacement::KeepOnMonitor(DWORD flags, long long width, long long height, long long* left,
                                    long long* top)
{
    if (flags & NoMonitorCheck)
        return;
    if (IsOnMonitor(*left, *top))
        return;
    if ((flags & AcceptBottomRightOnMonitor) && IsOnMonitor(*left + width, *top + height))
        return;
    RECT workArea;
    if (!api_->MonitorRects(ClampedPoint(*left, *top), nullptr, &workArea))
        return;
    *left = (long long)workArea.left + MonitorInset;
    *top = (long long)workArea.top + MonitorInset;
}

bool WindowPlacement::IsOnMonitor(long long x, long long y)
{
    return WithinLimit(x) && WithinLimit(y) &&
           api_->MonitorFromPoint(ClampedPoint(x, y), MONITOR_DEFAULTTONULL) != nullptr;
}

// Two steps: first the window moves, still at its own size and in its own
// DPI context, to the target corner, so that it sits on the target monitor
// and has that monitor's DPI; then the placement is set in the unaware
// context, with the dialog's own DPI resizing held off in between.
int WindowPlacement::Apply(HWND window, int showCommand, const RECT& target, DWORD flags)
{
    WINDOWPLACEMENT first;
    if (!ReadPlacement(window, &first))
        return 0;
    RECT& normal = first.rcNormalPosition;
    normal = {target.left, target.top, (LONG)(target.left + Width(normal)),
              (LONG)(target.top + Height(normal))};
    first.flags = 0;
    first.showCmd = SW_HIDE;
    SetWindowPlacement(window, &first);

    api_->SetDialogDpiChangeBehavior(window, DDC_DISABLE_RESIZE, DDC_DISABLE_RESIZE);
    BOOL placed;
    {
        ScopedDpiContext unaware(*api_, DPI_AWARENESS_CONTEXT_UNAWARE);
        WINDOWPLACEMENT second;
        placed = ReadPlacement(window, &second);
        if (placed) {
            RECT rectangle = target;
            if (flags & PositionOnly) {
                // The first move may have changed the DPI and with it the
                // size this context sees.
                rectangle.right = target.left + (LONG)Width(second.rcNormalPosition);
                rectangle.bottom = target.top + (LONG)Height(second.rcNormalPosition);
            }
            second.rcNormalPosition = rectangle;
            second.flags = 0;
            second.showCmd = (UINT)showCommand;
            placed = SetWindowPlacement(window, &second);
        }
    }
    api_->SetDialogDpiChangeBehavior(window, DDC_DISABLE_RESIZE, (DIALOG_DPI_CHANGE_BEHAVIORS)0);
    if (!placed)
        return 0;
    if (!(flags & NoReposition) && showCommand != SW_SHOWMAXIMIZED)
        SendMessageW(window, DialogReposition, 0, 0);
    return 1;
}
