#include "ui/DialogWindow.h"
#include "ui/GdiObject.h"

#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

#include "ui/DarkMode.h"
#include "ui/ModuleResources.h"

namespace {

const UINT ThemeTimerPeriod = 1; // ms; only moves the work out of the broadcast

typedef BOOL(WINAPI* SetProcessDpiAwareFunction)();
typedef BOOL(WINAPI* InitCommonControlsExFunction)(const INITCOMMONCONTROLSEX*);

void DeclareDpiAware()
{
    LibraryHolder user32;
    if (!user32.Load(L"user32.dll"))
        return;
    SetProcessDpiAwareFunction setAware =
        (SetProcessDpiAwareFunction)user32.Lookup("SetProcessDPIAware");
    if (setAware)
        setAware();
}

bool IsImmersiveColorSet(LPARAM lParam)
{
    return lParam && wcscmp((const wchar_t*)lParam, L"ImmersiveColorSet") == 0;
}

} // namespace

DialogWindow::~DialogWindow()
{
    // Being deleted already: Close must not delete once more.
    options_ &= ~DeleteOnClose;
    if (window_)
        Close(0);
    // A modal dialog's window outlives EndDialog for a moment; its last
    // messages must not reach this object any more.
    if (boundWindow_ && IsWindow(boundWindow_) && FromWindow(boundWindow_) == this)
        SetWindowLongPtrW(boundWindow_, GWLP_USERDATA, 0);
    boundWindow_ = nullptr;
    window_ = nullptr;
}

void DialogWindow::InitializeCommonControls()
{
    InitCommonControlsExFunction initialize = nullptr;
    if (commonControls_.Load(L"comctl32.dll"))
        initialize = (InitCommonControlsExFunction)commonControls_.Lookup("InitCommonControlsEx");
    INITCOMMONCONTROLSEX classes = {};
    classes.dwSize = sizeof classes;
    classes.dwICC = 0x7FFF; // every class this comctl32 knows
    if (!initialize || !initialize(&classes))
        InitCommonControls();
}

void DialogWindow::Prepare(HINSTANCE instance, DWORD options)
{
    options_ = options;
    instance_ = instance;
    DeclareDpiAware();
    InitializeCommonControls();
}

INT_PTR DialogWindow::Run(HINSTANCE instance, int templateId, DWORD options, HWND owner)
{
    Prepare(instance, options);
    DWORD size = 0;
    const void* resource =
        FindModuleResource(instance, RT_DIALOG, MAKEINTRESOURCEW(templateId), 0, &size);
    void* copy = resource ? RewriteTemplateFont(resource, size, (options & ShellDlg2Font) != 0,
                                                *fontPlatform_)
                          : nullptr;
    // The object may delete itself while the dialog runs (DeleteOnClose):
    // nothing below touches it.
    if (!copy)
        return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, &DialogProcedure,
                               (LPARAM)this);
    INT_PTR result = DialogBoxIndirectParamW(instance, (const DLGTEMPLATE*)copy, owner,
                                             &DialogProcedure, (LPARAM)this);
    free(copy);
    return result;
}

INT_PTR DialogWindow::RunTemplate(HINSTANCE instance, const void* dialogTemplate, size_t size,
                                  DWORD options, HWND owner)
{
    Prepare(instance, options);
    if (!dialogTemplate)
        return -1;
    void* copy = RewriteTemplateFont(dialogTemplate, size, (options & ShellDlg2Font) != 0,
                                     *fontPlatform_);
    // A template whose font stays as it is runs unchanged, as in Run.
    INT_PTR result = DialogBoxIndirectParamW(
        instance, (const DLGTEMPLATE*)(copy ? copy : dialogTemplate), owner, &DialogProcedure,
        (LPARAM)this);
    free(copy);
    return result;
}

void DialogWindow::Close(INT_PTR result)
{
    HWND window = window_;
    if (!window || !CanClose(result))
        return;
    if (options_ & Modeless)
        DestroyWindow(window);
    else
        EndDialog(window, result);
    window_ = nullptr;
    if (options_ & DeleteOnClose)
        delete this;
}

DialogWindow* DialogWindow::FromWindow(HWND window)
{
    return (DialogWindow*)GetWindowLongPtrW(window, GWLP_USERDATA);
}

INT_PTR CALLBACK DialogWindow::DialogProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        DialogWindow* dialog = (DialogWindow*)lParam;
        if (!dialog)
            return FALSE;
        SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)dialog);
        dialog->window_ = window;
        dialog->boundWindow_ = window;
        dialog->ApplyTheme();
        int result = dialog->OnInitDialog();
        if (result == 0) {
            dialog->Close(-1);
            return FALSE;
        }
        return result == 2 ? FALSE : TRUE;
    }
    DialogWindow* dialog = FromWindow(window);
    if (!dialog)
        return 0;
    INT_PTR result;
    switch (message) {
    case WM_DESTROY:
        result = dialog->OnDestroy();
        break;
    case WM_CLOSE:
        result = dialog->OnClose();
        break;
    case WM_COMMAND:
        result = dialog->OnCommand(LOWORD(wParam), wParam, lParam);
        break;
    default:
        result = dialog->OnMessage(message, wParam, lParam);
        break;
    }
    if (message == WM_NCDESTROY) {
        // The window is gone; the object may be run again.
        dialog = FromWindow(window);
        if (dialog) {
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            if (dialog->window_ == window)
                dialog->window_ = nullptr;
            dialog->boundWindow_ = nullptr;
        }
    }
    return result;
}

int DialogWindow::OnInitDialog()
{
    return 1;
}

int DialogWindow::CanClose(INT_PTR)
{
    return 1;
}

int DialogWindow::OnCommand(int id, WPARAM, LPARAM)
{
    if (id != IDCANCEL && id != IDCLOSE)
        return 0;
    Close(0);
    return 1;
}

int DialogWindow::OnClose()
{
    Close(0);
    return 1;
}

int DialogWindow::OnDestroy()
{
    return (int)OnMessage(WM_DESTROY, 0, 0);
}

void DialogWindow::ApplyTheme()
{
    if (!(options_ & FollowDarkMode))
        return;
    AllowDarkModeForApp(1, Api());
    SetOptionBits(DarkModeActive, IsDarkModeWanted(Api()) != 0);
    SetTitleBarColour(window_, (options_ & DarkModeActive) ? 1 : 0, 0, Api());
}

INT_PTR DialogWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ERASEBKGND:
        return PaintDarkBackground((HDC)wParam);
    case WM_SETTINGCHANGE:
        if (window_ && IsImmersiveColorSet(lParam))
            SetTimer(window_, (UINT_PTR)this, ThemeTimerPeriod, &ThemeTimerProcedure);
        return 0;
    case WM_WINDOWPOSCHANGING:
        return OnWindowPosChanging((WINDOWPOS*)lParam);
    case WM_COMMAND:
        if (LOWORD(wParam) != IDCANCEL && LOWORD(wParam) != IDCLOSE)
            return 0;
        Close(0);
        return 1;
    case WM_CTLCOLORSTATIC:
        return ColourDarkStatic((HDC)wParam);
    case WM_DPICHANGED:
        RecomputeMinimumSize();
        ReloadIcon();
        return 0;
    default:
        return 0;
    }
}

INT_PTR DialogWindow::PaintDarkBackground(HDC dc)
{
    if (!(options_ & DarkModeActive) || !dc)
        return 0;
    RECT client;
    GetClientRect(window_, &client);
    if (Api().SetDCBrushColor(dc, DarkBackground) != CLR_INVALID) {
        FillRect(dc, &client, (HBRUSH)GetStockObject(DC_BRUSH));
    } else {
        BrushObject brush(CreateSolidBrush(DarkBackground));
        FillRect(dc, &client, brush);
    }
    // The dialog manager answers WM_ERASEBKGND with the message result:
    // non-zero tells BeginPaint the background is done.
    SetWindowLongPtrW(window_, DWLP_MSGRESULT, 1);
    return 1;
}

INT_PTR DialogWindow::ColourDarkStatic(HDC dc)
{
    if (!(options_ & DarkModeActive) || !dc)
        return 0;
    SetTextColor(dc, DarkText);
    SetBkColor(dc, DarkBackground);
    Api().SetDCBrushColor(dc, DarkBackground);
    return (INT_PTR)GetStockObject(DC_BRUSH);
}

INT_PTR DialogWindow::OnWindowPosChanging(WINDOWPOS* position)
{
    if (!position)
        return 1;
    if ((options_ & StartHidden) && (position->flags & SWP_SHOWWINDOW)) {
        options_ &= ~StartHidden;
        position->flags &= ~SWP_SHOWWINDOW;
    }
    TrackMinimumSize(position);
    return 1;
}

void CALLBACK DialogWindow::ThemeTimerProcedure(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    DialogWindow* dialog = FromWindow(window);
    if (!dialog || (UINT_PTR)dialog != id)
        return;
    DWORD wasDark = dialog->options_ & DarkModeActive;
    dialog->ApplyTheme();
    if ((dialog->options_ & DarkModeActive) != wasDark)
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}
