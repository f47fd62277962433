#include "ToolkitDialog.h"

#include <commctrl.h>

#include "services/RegistryKey.h"

UINT FakeDpi::dpi = 96;
std::vector<DPI_AWARENESS_CONTEXT> FakeDpi::contexts;
std::vector<DWORD> FakeDpi::dialogBehaviours;

namespace {

UINT WINAPI FakeDpiForWindow(HWND)
{
    return FakeDpi::dpi;
}

typedef DPI_AWARENESS_CONTEXT(WINAPI* SetContextProc)(DPI_AWARENESS_CONTEXT);

DPI_AWARENESS_CONTEXT WINAPI RecordContext(DPI_AWARENESS_CONTEXT context)
{
    FakeDpi::contexts.push_back(context);
    static SetContextProc real =
        (SetContextProc)GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext");
    DPI_AWARENESS_CONTEXT previous = real ? real(context) : nullptr;
    // Without the real function there is still a context to go back to.
    return previous ? previous : DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE;
}

BOOL WINAPI RecordDialogBehaviour(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS values)
{
    FakeDpi::dialogBehaviours.push_back((DWORD)values);
    return TRUE;
}

} // namespace

void FakeDpi::Reset()
{
    dpi = 96;
    contexts.clear();
    dialogBehaviours.clear();
}

OptionalApiTable FakeDpi::Table()
{
    OptionalApiTable table = {};
    table.GetDpiForWindow = &FakeDpiForWindow;
    table.MonitorFromPoint = &::MonitorFromPoint;
    table.GetMonitorInfoW = &::GetMonitorInfoW;
    table.SetThreadDpiAwarenessContext = &RecordContext;
    table.SetDialogDpiChangeBehavior = &RecordDialogBehaviour;
    table.SetDCBrushColor = &::SetDCBrushColor;
    return table;
}

int Width(const RECT& rect)
{
    return rect.right - rect.left;
}

int Height(const RECT& rect)
{
    return rect.bottom - rect.top;
}

::testing::AssertionResult SameRect(const RECT& expected, const RECT& actual)
{
    if (EqualRect(&expected, &actual))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "expected " << expected.left << "," << expected.top << "," << expected.right << ","
           << expected.bottom << ", got " << actual.left << "," << actual.top << "," << actual.right
           << "," << actual.bottom;
}

void PostMouse(HWND window, UINT message, int x, int y)
{
    WPARAM keys = message == WM_LBUTTONDOWN || (message == WM_MOUSEMOVE && GetCapture() == window)
                      ? MK_LBUTTON
                      : 0;
    PostMessageW(window, message, keys, MAKELPARAM((WORD)(short)x, (WORD)(short)y));
    ToolkitDialog::Pump();
}

void PostMouseAt(HWND window, UINT message, POINT screen)
{
    // The real cursor goes along: a move the system reports for it while a
    // control holds the mouse must not land somewhere else.
    SetCursorPos(screen.x, screen.y);
    ScreenToClient(window, &screen);
    PostMouse(window, message, screen.x, screen.y);
}

void WriteText(const ScopedTestKey& key, const wchar_t* name, const wchar_t* text)
{
    RegistryKey writer;
    ASSERT_TRUE(writer.CreateWrite(key.Root(), key.Path()) && writer.WriteText(name, text));
}

std::wstring ReadText(const ScopedTestKey& key, const wchar_t* name)
{
    RegistryKey reader;
    WideString text;
    if (!reader.OpenRead(key.Root(), key.Path()) || !reader.ReadText(name, text))
        return L"(none)";
    return text.Text();
}

ToolkitDialog::ToolkitDialog()
    : api(FakeDpi::Table()), anchors(api), splitter(api), filter(api), link(api), placement(api)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    window_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_TOOLKIT), nullptr,
                                 &Procedure, (LPARAM)this);
    Pump();
}

ToolkitDialog::~ToolkitDialog()
{
    handler = nullptr;
    link.Detach();
    filter.Detach();
    splitter.Detach();
    anchors.Clear();
    if (window_)
        DestroyWindow(window_);
    Pump();
}

void ToolkitDialog::Furnish()
{
    filter.Init(Item(IDC_TK_FILTER), GetModuleHandleW(nullptr), IDI_TOOLKIT_FILTER, 0);
    splitter.Init(Splitter::FillGap | Splitter::PaintDialogBrush, Item(IDC_TK_DIVIDER),
                  Item(IDC_TK_TREE), Item(IDC_TK_LIST), 100, 100, 100, 100);
    link.Init(Item(IDC_TK_LINK), L"tollbrook.example", L"https://tollbrook.example/", IDC_TOOLKIT_HAND,
              LinkControl::ParentFont);
    anchors.Add(Item(IDC_TK_FILTER), LayoutAnchors::MoveDown | LayoutAnchors::StretchWidth);
    for (int id : {IDC_TK_CHECK, IDC_TK_LINK, IDC_TK_EXIT})
        anchors.Add(Item(id), LayoutAnchors::MoveRight | LayoutAnchors::MoveDown);
}

void ToolkitDialog::Show()
{
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    Pump();
}

void ToolkitDialog::Resize(int width, int height)
{
    SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Pump();
}

RECT ToolkitDialog::ItemRect(int id) const
{
    RECT rect = {};
    GetWindowRect(Item(id), &rect);
    MapWindowPoints(nullptr, window_, (POINT*)&rect, 2);
    return rect;
}

RECT ToolkitDialog::WindowRect() const
{
    RECT rect = {};
    GetWindowRect(window_, &rect);
    return rect;
}

void ToolkitDialog::Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool ToolkitDialog::WaitFor(const std::function<bool()>& condition, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (condition())
            return true;
        if (GetTickCount() - start > milliseconds)
            return false;
        Sleep(10);
    }
}

INT_PTR CALLBACK ToolkitDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        ((ToolkitDialog*)lParam)->window_ = window;
        return TRUE;
    }
    ToolkitDialog* dialog = (ToolkitDialog*)GetWindowLongPtrW(window, DWLP_USER);
    if (!dialog)
        return FALSE;
    if (message == WM_NCDESTROY) {
        dialog->window_ = nullptr;
        return FALSE;
    }
    return dialog->OnMessage(message, wParam, lParam);
}

INT_PTR ToolkitDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (handler && handler(message, wParam, lParam))
        return TRUE;
    switch (message) {
    case WM_SIZE:
        anchors.Resize(wParam, lParam);
        return FALSE;
    case WM_WINDOWPOSCHANGING:
        splitter.OnWindowPosChanging((WINDOWPOS*)lParam);
        return FALSE;
    case WM_WINDOWPOSCHANGED:
        splitter.OnWindowPosChanged((const WINDOWPOS*)lParam);
        return FALSE;
    case WM_DPICHANGED:
        anchors.OnDpiChanged();
        splitter.OnDpiChanged();
        return FALSE;
    case WM_COMMAND:
        commands.push_back({LOWORD(wParam), HIWORD(wParam), (HWND)lParam});
        return TRUE;
    case WM_USER + 2: // DM_REPOSITION: counted, then the dialog manager's own handling
        ++repositions;
        return FALSE;
    default:
        return FALSE;
    }
}
