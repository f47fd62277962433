// Starts a program, waits until its main window shows a tree of at least
// the given number of items, prints that number, and closes the window as
// the user would. The smoke run of a build that the test bench cannot run
// through its tests uses it:
//
//   start_probe.exe <program> <least items> [<milliseconds>]
//
// Exit code 0 when the tree filled and the program then ended by itself
// with exit code 0; 1 otherwise, with a line that says what was missing.
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "resource.h"
#include "services/ProgramLaunch.h"

namespace {

// The program's visible main window once it holds the device tree.
HWND TreeWindowOf(DWORD process)
{
    HWND window = VisibleMainWindowOf(process);
    return window && GetDlgItem(window, IDC_TREE) ? window : nullptr;
}

// The tree answers between messages only, so a count arrives once a
// rebuild has ended; 0 while there is no answer.
unsigned TreeItems(HWND window)
{
    HWND tree = GetDlgItem(window, IDC_TREE);
    DWORD_PTR count = 0;
    if (!tree || !SendMessageTimeoutW(tree, TVM_GETCOUNT, 0, 0, SMTO_NORMAL, 5000, &count))
        return 0;
    return (unsigned)count;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: start_probe.exe <program> <least items> [<milliseconds>]\n");
        return 2;
    }
    unsigned least = (unsigned)wcstoul(argv[2], nullptr, 10);
    DWORD allowed = argc > 3 ? (DWORD)wcstoul(argv[3], nullptr, 10) : 60000;
    wchar_t command[MAX_PATH + 4];
    _snwprintf(command, MAX_PATH + 3, L"\"%ls\"", argv[1]);
    command[MAX_PATH + 3] = 0;
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(argv[1], command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        printf("start_probe: the program did not start (error %lu)\n", GetLastError());
        return 1;
    }
    DWORD start = GetTickCount();
    HWND found = nullptr;
    unsigned items = 0;
    while (GetTickCount() - start < allowed && items < least) {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
            break;
        if (!found)
            found = TreeWindowOf(process.dwProcessId);
        if (found)
            items = TreeItems(found);
        if (items < least)
            Sleep(50);
    }
    int result = 1;
    DWORD exitCode = STILL_ACTIVE;
    if (!found) {
        printf("start_probe: no window with a device tree within %lu ms\n", allowed);
    } else if (items < least) {
        printf("start_probe: the tree holds %u items, not at least %u\n", items, least);
    } else {
        printf("start_probe: the tree holds %u items after %lu ms\n", items, GetTickCount() - start);
        // Closed as by its close box: the program saves and ends by itself.
        PostMessageW(found, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process.hProcess, &exitCode) && exitCode == 0)
            result = 0;
        else
            printf("start_probe: after its window was closed the program %s (exit code %lu)\n",
                   exitCode == STILL_ACTIVE ? "did not end" : "ended badly", exitCode);
    }
    if (result != 0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    fflush(stdout);
    return result;
}
