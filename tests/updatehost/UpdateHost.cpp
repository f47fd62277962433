#include <windows.h>
#include <shellapi.h>

#include "HostVersion.h"
#include "services/ModulePath.h"
#include "services/WideString.h"
#include "update/AutoUpdater.h"

// Started without arguments, the host notes that it ran: a line with its
// version is appended to "restarted.txt" beside it. Started as
//   updatehost.exe check <url> <key path below HKCU> <flags>
// it runs an update check for a window of its own, the way the main window
// does, and ends with the check's outcome as its exit code (100 when no
// check was due).

namespace {

const UINT_PTR PollTimer = 1;
const DWORD NotDue = 100;

AutoUpdater updater;

void NoteThatItRan()
{
    WideString directory, path, version;
    if (!GetExecutableDirectory(directory) || !JoinPath(directory, L"restarted.txt", path))
        return;
    HANDLE file = CreateFileW(path.Text(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[32];
    int length = wsprintfA(line, "%s\r\n", HOST_VERSION_TEXT);
    DWORD written = 0;
    WriteFile(file, line, (DWORD)length, &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == PollTimer && !updater.IsChecking())
            PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE:
        KillTimer(window, PollTimer);
        updater.StopCheck();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage((int)updater.LastOutcome());
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int RunCheck(const wchar_t* url, const wchar_t* keyPath, DWORD flags)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = HostProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuillmereUpdateHost";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Quillmere update host",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (!window)
        return 101;
    if (!updater.StartCheck(url, window, HKEY_CURRENT_USER, keyPath, L"LastCheck", flags, nullptr,
                            L"1")) {
        DestroyWindow(window);
        return (int)NotDue;
    }
    SetTimer(window, PollTimer, 100, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return (int)message.wParam;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    int result = 0;
    if (arguments && count == 5 && lstrcmpW(arguments[1], L"check") == 0)
        result = RunCheck(arguments[2], arguments[3], (DWORD)_wtoi(arguments[4]));
    else
        NoteThatItRan();
    LocalFree(arguments);
    return result;
}
