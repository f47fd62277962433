#include "services/ProgramLaunch.h"
#include "services/ComInit.h"
#include "services/WideString.h"

#include <objbase.h>

namespace {

ShellExecuteExProc Launcher = nullptr;

BOOL Execute(SHELLEXECUTEINFOW* info)
{
    return Launcher ? Launcher(info) : ShellExecuteExW(info);
}

int Launch(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory, int elevate,
           HANDLE* process)
{
    if (!file || !*file)
        return 0;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI | (process ? SEE_MASK_NOCLOSEPROCESS : 0);
    info.lpVerb = elevate ? L"runas" : L"open";
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = SW_SHOWDEFAULT;
    if (!Execute(&info))
        return 0;
    if (!process)
        return 1;
    *process = info.hProcess;
    return info.hProcess != nullptr;
}

} // namespace

ShellExecuteExProc UseShellExecute(ShellExecuteExProc launcher)
{
    ShellExecuteExProc previous = Launcher ? Launcher : &ShellExecuteExW;
    Launcher = launcher;
    return previous;
}

int LaunchProgram(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                  int elevate)
{
    return Launch(file, parameters, directory, elevate, nullptr);
}

int LaunchProgramProcess(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                         HANDLE* process)
{
    *process = nullptr;
    return Launch(file, parameters, directory, 0, process);
}

int OpenUrl(const wchar_t* target)
{
    if (!target || !*target)
        return 0;
    WideString parameters;
    if (!parameters.Format(L"url.dll,FileProtocolHandler %s", target))
        return 0;
    HRESULT com = InitializeCom(COINIT_APARTMENTTHREADED);
    int started = LaunchProgram(L"rundll32.exe", parameters.Text(), nullptr, 0);
    if (SUCCEEDED(com))
        CoUninitialize();
    return started;
}

namespace {

struct MainWindowSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindVisibleMainWindow(HWND window, LPARAM data)
{
    MainWindowSearch* search = (MainWindowSearch*)data;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || !IsWindowVisible(window) ||
        GetWindow(window, GW_OWNER) != nullptr)
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

HWND VisibleMainWindowOf(DWORD processId)
{
    MainWindowSearch search = {processId, nullptr};
    EnumWindows(&FindVisibleMainWindow, (LPARAM)&search);
    return search.found;
}
