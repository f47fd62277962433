#pragma once

#include <windows.h>
#include <shellapi.h>

// How the program starts other programs and opens web addresses: the
// shell's ShellExecuteExW with SW_SHOWDEFAULT.

// Starts `file` with the verb "open", or "runas" when `elevate` is set.
// `parameters` and `directory` may be null. 1 when the shell started it.
int LaunchProgram(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                  int elevate);
// The same with the verb "open", handing the new process's handle to
// `process` (the caller closes it). The shell gives no handle when it hands
// the file to a running program instead of starting one: then 0.
int LaunchProgramProcess(const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                         HANDLE* process);

// Opens `target` (a web address, or a file the shell knows how to show) in
// the user's default handler through "rundll32.exe url.dll,FileProtocolHandler",
// with COM initialised around the call. 1 when the shell started it; an
// empty target opens nothing.
int OpenUrl(const wchar_t* target);

// The first visible top-level window of process `processId` that no other
// window owns (a program's main window), or null while it shows none.
HWND VisibleMainWindowOf(DWORD processId);

// Tests see what would be started by replacing the shell's function; null
// restores it. Returns the function it replaces.
typedef BOOL (WINAPI* ShellExecuteExProc)(SHELLEXECUTEINFOW* info);
ShellExecuteExProc UseShellExecute(ShellExecuteExProc launcher);
