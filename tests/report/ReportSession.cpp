#include "ReportSession.h"

#include <commctrl.h>

ReportSession::ReportSession(const ProblemReportSettings& settings, const std::wstring& dumpPath,
                             const std::wstring& textPath)
    : settings_(settings), dumpPath_(dumpPath), textPath_(textPath)
{
    // The settings point at texts of the caller; the thread gets copies.
    auto keep = [](const wchar_t* text, std::wstring& copy) -> const wchar_t* {
        if (!text)
            return nullptr;
        copy = text;
        return copy.c_str();
    };
    settings_.reportHost = keep(settings.reportHost, host_);
    settings_.reportPath = keep(settings.reportPath, path_);
    settings_.programName = keep(settings.programName, program_);
    settings_.extraText = keep(settings.extraText, extra_);
    thread_ = CreateThread(nullptr, 0, &Routine, this, 0, &threadId_);
}

ReportSession::~ReportSession()
{
    if (!thread_)
        return;
    if (WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT) {
        HWND dialog = dialog_ ? dialog_ : WaitForDialog(2000);
        if (dialog)
            PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        WaitForSingleObject(thread_, Patience);
    }
    CloseHandle(thread_);
}

namespace {
// The session whose thread this is, for its creation hook.
thread_local ReportSession* SessionOfThread = nullptr;
} // namespace

LRESULT CALLBACK ReportSession::OnCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && SessionOfThread) {
        const CREATESTRUCTW* create = ((CBT_CREATEWNDW*)lParam)->lpcs;
        const ULONG_PTR DialogClassAtom = 0x8002; // "#32770"
        bool dialog = IS_INTRESOURCE(create->lpszClass)
                          ? (ULONG_PTR)create->lpszClass == DialogClassAtom
                          : wcscmp(create->lpszClass, L"#32770") == 0;
        if (dialog)
            InterlockedIncrement(&SessionOfThread->dialogsCreated_);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

DWORD WINAPI ReportSession::Routine(void* self)
{
    ReportSession* session = (ReportSession*)self;
    SessionOfThread = session;
    HHOOK hook = SetWindowsHookExW(WH_CBT, OnCreation, nullptr, GetCurrentThreadId());
    int result = SendProblemReport(session->settings_,
                                   session->dumpPath_.empty() ? nullptr : session->dumpPath_.c_str(),
                                   session->textPath_.c_str());
    if (hook)
        UnhookWindowsHookEx(hook);
    InterlockedExchange(&session->result_, result);
    return 0;
}

namespace {

struct DialogSearch {
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM context)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (IsWindowVisible(window) && wcscmp(className, L"#32770") == 0) {
        ((DialogSearch*)context)->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND ReportSession::WaitForDialog(DWORD timeout)
{
    DWORD start = GetTickCount();
    while (!dialog_) {
        DialogSearch search = {nullptr};
        EnumThreadWindows(threadId_, &FindDialog, (LPARAM)&search);
        // Visible means WM_INITDIALOG is over: the dialog manager shows the
        // window after it returns.
        if (search.found) {
            dialog_ = search.found;
            break;
        }
        if (WaitForSingleObject(thread_, 20) == WAIT_OBJECT_0 || GetTickCount() - start > timeout)
            break;
    }
    return dialog_;
}

int ReportSession::WaitForResult(DWORD timeout)
{
    if (WaitForSingleObject(thread_, timeout) != WAIT_OBJECT_0)
        return StillRunning;
    return (int)result_;
}

HWND ReportSession::Focus() const
{
    GUITHREADINFO info = {sizeof info};
    return GetGUIThreadInfo(threadId_, &info) ? info.hwndFocus : nullptr;
}

HWND LinkOver(HWND dialog, int id)
{
    RECT target;
    if (!GetWindowRect(GetDlgItem(dialog, id), &target))
        return nullptr;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[16] = {};
        GetClassNameW(child, className, 16);
        RECT rect;
        GetWindowRect(child, &rect);
        if (_wcsicmp(className, WC_LINK) == 0 && EqualRect(&rect, &target))
            return child;
    }
    return nullptr;
}
