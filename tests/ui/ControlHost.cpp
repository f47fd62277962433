#include "ControlHost.h"

namespace {

const wchar_t HostClass[] = L"QuillmereControlHost";

void RegisterHostClass(WNDPROC procedure)
{
    static bool registered = false;
    if (registered)
        return;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = HostClass;
    RegisterClassW(&windowClass);
    registered = true;
}

// One window serves every test: under Xvfb without a window manager, Wine
// waits two seconds for each top-level window it destroys.
HWND SharedHostWindow(WNDPROC procedure)
{
    static HWND window = nullptr;
    if (window && IsWindow(window))
        return window;
    RegisterHostClass(procedure);
    window = CreateWindowExW(0, HostClass, L"Control host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 20,
                             20, 400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return window;
}

BOOL CALLBACK DestroyChild(HWND child, LPARAM host)
{
    if (GetParent(child) == (HWND)host)
        DestroyWindow(child);
    return TRUE;
}

} // namespace

ControlHost::ControlHost(int width, int height)
{
    window_ = SharedHostWindow(&Procedure);
    SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    SetWindowLongPtrW(window_, GWLP_USERDATA, (LONG_PTR)this);
    SetForegroundWindow(window_);
    Pump();
}

ControlHost::~ControlHost()
{
    handler_ = nullptr;
    if (window_) {
        EnumChildWindows(window_, &DestroyChild, (LPARAM)window_);
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    }
    Pump();
}

HWND ControlHost::CreateChild(const wchar_t* className, DWORD style, int id)
{
    RECT client = {};
    GetClientRect(window_, &client);
    HWND child = CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | style, 5, 5,
                                 client.right - 10, client.bottom - 10, window_,
                                 (HMENU)(INT_PTR)id, GetModuleHandleW(nullptr), nullptr);
    Pump();
    return child;
}

void ControlHost::Pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

LRESULT CALLBACK ControlHost::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ControlHost* host = (ControlHost*)GetWindowLongPtrW(window, GWLP_USERDATA);
    if (host && host->handler_) {
        LRESULT result = 0;
        if (host->handler_(message, wParam, lParam, &result))
            return result;
    }
    if (message == WM_NCDESTROY && host)
        host->window_ = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
}

COLORREF ClientPixel(HWND window, int x, int y)
{
    HDC dc = GetDC(window);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}
