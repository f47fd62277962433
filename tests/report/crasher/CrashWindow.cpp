// The program's main window crashing on its user-interface thread while a
// refresh (timer 1, due), a device-change broadcast and an update question
// wait for that thread: for the test that nothing of the window runs again
// while the crash is reported.
//   crashwindow <port> <settings key below HKEY_CURRENT_USER> <update endpoint>
// The problem report goes to the loopback port, the update check to the
// endpoint, which must be https (the test relays it to the same port). The
// report step records in "step.txt" beside the program whether the question
// was waiting and the timer due, how many device enumerations the simulator
// counted when the program crashed and when the dialog had ended, and how
// many messages the thread took from its queue or had sent to its windows
// before the crash and after it (hooks on the thread see every one).
#include <windows.h>
#include <dbt.h>

#include <stdio.h>
#include <stdlib.h>

#include "app/MainWindow.h"
#include "report/CrashReporter.h"
#include "resources/resource.h"
#include "ui/SubclassHook.h"

static INTERNET_PORT Port = 0;
static wchar_t StepFile[MAX_PATH];
static const UINT CrashMessage = WM_APP + 0x51;
static WNDPROC MainProcedure = nullptr;
static volatile int QuestionWaiting = 0;
static volatile int TimerDue = 0;
static volatile int LocatesAtCrash = -1;
static volatile LONG Crashed = 0;
static volatile LONG MessagesBefore = 0;
static volatile LONG MessagesAfter = 0;

static void CountMessage()
{
    InterlockedIncrement(Crashed ? &MessagesAfter : &MessagesBefore);
}

static LRESULT CALLBACK OnMessageTaken(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION)
        CountMessage();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

static LRESULT CALLBACK OnMessageSent(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION)
        CountMessage();
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

static int LocateCalls()
{
    typedef long(WINAPI * CallsProc)(const char*);
    CallsProc calls =
        (CallsProc)GetProcAddress(GetModuleHandleW(L"setupapi.dll"), "SimulatorCalls");
    return calls ? (int)calls("CM_Locate_DevNodeW") : -1;
}

static int ReportingStep(const CrashReporter& reporter, const wchar_t* dumpPath,
                         const wchar_t* textPath)
{
    ProblemReportSettings settings = reporter.ReportSettings();
    settings.reportHost = L"127.0.0.1";
    settings.port = Port;
    settings.service = INTERNET_SERVICE_HTTP;
    int result = SendProblemReport(settings, dumpPath, textPath);
    char line[300];
    int length = snprintf(line, sizeof line,
                          "question=%d\ntimer=%d\nlocates-at-crash=%d\nlocates-after=%d\n"
                          "messages-before=%ld\nmessages-after=%ld\n",
                          QuestionWaiting, TimerDue, LocatesAtCrash, LocateCalls(), MessagesBefore,
                          MessagesAfter);
    HANDLE file = CreateFileW(StepFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, line, (DWORD)length, &written, nullptr);
    CloseHandle(file);
    return result;
}

static __attribute__((noinline)) void CrashOnTheWindowsThread()
{
    volatile int* volatile target = (volatile int*)0x10;
    *target = 1;
}

static LRESULT CALLBACK CrashingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != CrashMessage)
        return CallWindowProcW(MainProcedure, window, message, wParam, lParam);
    // The thread does not return to its loop before it crashes, so what is
    // sent or posted to it from now on waits: first the update question.
    for (int i = 0; i < 600 && !QuestionWaiting; ++i) {
        QuestionWaiting = (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
        if (!QuestionWaiting)
            Sleep(50);
    }
    PostMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    SendMessageW(window, WM_COMMAND, ID_TREE_REFRESH, 0); // timer 1, due in 1 ms
    for (int i = 0; i < 3000 && !TimerDue; ++i) {
        TimerDue = (HIWORD(GetQueueStatus(QS_TIMER)) & QS_TIMER) != 0;
        if (!TimerDue)
            Sleep(1);
    }
    LocatesAtCrash = LocateCalls();
    InterlockedExchange(&Crashed, 1);
    CrashOnTheWindowsThread();
    return 0;
}

// Once the tree is filled and the update check, which the window starts
// after its first picture, has hooked the window, the crash is posted to the
// main window.
static void CALLBACK WatchTheTree(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND window = MainWindow::Current().Window();
    if (!window || SendMessageW(GetDlgItem(window, IDC_TREE), TVM_GETCOUNT, 0, 0) < 2)
        return;
    wchar_t checking[SubclassHook::PropertyNameLength];
    SubclassHook::PropertyName(SubclassTag("auup"), checking);
    if (!GetPropW(window, checking))
        return;
    KillTimer(nullptr, timer);
    MainProcedure =
        (WNDPROC)SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)&CrashingProcedure);
    PostMessageW(window, CrashMessage, 0, 0);
}

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    Port = (INTERNET_PORT)atoi(argv[1]);
    DWORD length = GetModuleFileNameW(nullptr, StepFile, MAX_PATH);
    while (length > 0 && StepFile[length - 1] != L'\\')
        --length;
    wcscpy(StepFile + length, L"step.txt");
    wchar_t key[MAX_PATH], endpoint[128];
    MultiByteToWideChar(CP_ACP, 0, argv[2], -1, key, MAX_PATH);
    MultiByteToWideChar(CP_ACP, 0, argv[3], -1, endpoint, 128);
    endpoint[127] = 0;

    MainWindow& window = MainWindow::Current();
    window.UseSettingsKey(HKEY_CURRENT_USER, key);
    window.UseUpdateEndpoint(endpoint);
    CrashReporter::Current().UseReportStep(ReportingStep);
    // Reading this build's debug information makes a capture slow on a
    // loaded machine.
    CrashReporter::Current().UseCaptureTimeout(60000);
    CrashReporter::Current().UseStepPatience(60000);
    SetWindowsHookExW(WH_GETMESSAGE, OnMessageTaken, nullptr, GetCurrentThreadId());
    SetWindowsHookExW(WH_CALLWNDPROC, OnMessageSent, nullptr, GetCurrentThreadId());
    SetTimer(nullptr, 0, 50, WatchTheTree);
    return (int)window.Run(GetModuleHandleW(nullptr), IDD_MAIN, 0, nullptr);
}
