#include <windows.h>
#include <shellapi.h>

#include "HostVersion.h"
#include "services/ModulePath.h"
#include "services/WideString.h"
#include "update/AutoUpdater.h"
#include "update/UpdateRecovery.h"
#include "update/UpdateSteps.h"

// Like the program, the host first recovers an interrupted update (and
// starts the folder's program instead when that replaced it). Started
// without arguments it then shows a window, gives the proof that it runs
// at once (the program waits ProgramStart::ProofDelay for it; the tests
// need not), notes that it ran (a line with its version is appended to
// "restarted.txt" beside it) and stays until it is closed or HostLifetime
// has passed; the "broken" build crashes instead, with an access
// violation, before any window. Started as
//   updatehost.exe check <url> <key path below HKCU> <flags> [<step>]
// it runs an update check for a window of its own, the way the main window
// does, and ends with the check's outcome as its exit code (100 when no
// check was due). With <step>, the check halts at that step of the
// installation (counted from 1): it writes the step's text to "halted.txt"
// beside it and waits there to be killed.

namespace {

const UINT_PTR PollTimer = 1;
const UINT_PTR LifetimeTimer = 2;
const DWORD NotDue = 100;
#ifndef HOST_CRASHES_AT_START
const DWORD HostLifetime = 20000;
#endif

AutoUpdater updater;
bool checking = false;
long haltAt = 0;
long stepsSeen = 0;

int PathBeside(const wchar_t* name, WideString& path)
{
    WideString directory;
    return GetExecutableDirectory(directory) && JoinPath(directory, name, path);
}

void AppendLine(const wchar_t* name, const char* line)
{
    WideString path;
    if (!PathBeside(name, path))
        return;
    HANDLE file = CreateFileW(path.Text(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, (DWORD)lstrlenA(line), &written, nullptr);
    CloseHandle(file);
}

void HaltAtStep(const wchar_t* step, void*)
{
    if (InterlockedIncrement(&stepsSeen) != haltAt)
        return;
    char line[512];
    WideCharToMultiByte(CP_UTF8, 0, step, -1, line, sizeof line - 2, nullptr, nullptr);
    lstrcatA(line, "\r\n");
    AppendLine(L"halted.txt", line);
    Sleep(INFINITE);
}

LRESULT CALLBACK HostProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if ((wParam == PollTimer && checking && !updater.IsChecking()) || wParam == LifetimeTimer)
            PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE:
        KillTimer(window, PollTimer);
        updater.StopCheck();
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(checking ? (int)updater.LastOutcome() : 0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateHostWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = HostProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuillmereUpdateHost";
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"Quillmere update host " HOST_VERSION_TEXT,
                           WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
}

int RunMessageLoop()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return (int)message.wParam;
}

int RunCheck(const wchar_t* url, const wchar_t* keyPath, DWORD flags)
{
    HWND window = CreateHostWindow();
    if (!window)
        return 101;
    checking = true;
    if (!updater.StartCheck(url, window, HKEY_CURRENT_USER, keyPath, L"LastCheck", flags, nullptr,
                            L"1")) {
        DestroyWindow(window);
        return (int)NotDue;
    }
    SetTimer(window, PollTimer, 100, nullptr);
    return RunMessageLoop();
}

int RunPlainly()
{
#ifdef HOST_CRASHES_AT_START
    volatile int* volatile nowhere = nullptr;
    *nowhere = 3;
    return 3;
#else
    // Noted once the window shows and the proof is given, so that whoever
    // reads the note can close it.
    HWND window = CreateHostWindow();
    if (!window)
        return 101;
    ConfirmProgramRuns();
    AppendLine(L"restarted.txt", HOST_VERSION_TEXT "\r\n");
    SetTimer(window, LifetimeTimer, HostLifetime, nullptr);
    return RunMessageLoop();
#endif
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (!RecoverAtStart())
        return 0;
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    int result = 0;
    if (arguments && (count == 5 || count == 6) && lstrcmpW(arguments[1], L"check") == 0) {
        if (count == 6) {
            haltAt = _wtol(arguments[5]);
            WatchUpdateSteps(&HaltAtStep, nullptr);
        }
        result = RunCheck(arguments[2], arguments[3], (DWORD)_wtoi(arguments[4]));
    } else {
        result = RunPlainly();
    }
    LocalFree(arguments);
    return result;
}
