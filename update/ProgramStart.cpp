#include "update/ProgramStart.h"

#include "update/UpdateSteps.h"

namespace {

const DWORD PollInterval = 100;
const DWORD TerminationPatience = 5000;
// A window that takes longer than this to answer counts as not answering.
const DWORD AnswerPatience = 1000;

bool IsSet(const volatile LONG* flag)
{
    return flag && *flag;
}

struct ReportSearch {
    DWORD processId;
    DWORD mainThreadId;
    bool found;
};

} // namespace

ProgramStart::~ProgramStart()
{
    if (proof_)
        CloseHandle(proof_);
    if (process_)
        CloseHandle(process_);
}

int ProgramStart::EventName(DWORD processId, WideString& name)
{
    return name.Format(L"Local\\Tollbrook.Quillmere.Healthy.%u", processId);
}

int ProgramStart::AnnounceRunning()
{
    WideString name;
    if (!EventName(GetCurrentProcessId(), name))
        return 0;
    HANDLE proof = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.Text());
    if (!proof)
        return 0;
    BOOL set = SetEvent(proof);
    CloseHandle(proof);
    return set != 0;
}

// Started directly, not through the shell: only a process that has not
// run yet can be given its event before it could look for it.
int ProgramStart::Launch(const wchar_t* program, const wchar_t* directory)
{
    WideString command, name;
    if (process_ || !command.Format(L"\"%s\"", program))
        return 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program, command.Buffer(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, directory, &startup, &started))
        return 0;
    process_ = started.hProcess;
    processId_ = started.dwProcessId;
    mainThreadId_ = started.dwThreadId;
    if (EventName(processId_, name))
        proof_ = CreateEventW(nullptr, TRUE, FALSE, name.Text());
    if (!proof_ || ResumeThread(started.hThread) == (DWORD)-1) {
        TerminateProcess(process_, 1);
        CloseHandle(started.hThread);
        return 0;
    }
    CloseHandle(started.hThread);
    return 1;
}

bool ProgramStart::HasEnded() const
{
    return !process_ || WaitForSingleObject(process_, 0) != WAIT_TIMEOUT;
}

ProgramStart::Verdict ProgramStart::WaitForProof(DWORD timeout, const volatile LONG* stop)
{
    if (!process_ || !proof_)
        return Failed;
    HANDLE either[] = {proof_, process_};
    DWORD start = GetTickCount();
    for (;;) {
        // The event first: a program that proved itself and then ended
        // has run.
        DWORD waited = WaitForMultipleObjects(2, either, FALSE, PollInterval);
        if (waited == WAIT_OBJECT_0)
            return Running;
        if (waited != WAIT_TIMEOUT)
            return Failed;
        if (IsSet(stop))
            return Stopped;
        if (GetTickCount() - start >= timeout)
            return Failed;
    }
}

BOOL CALLBACK ProgramStart::FindReport(HWND window, LPARAM data)
{
    ReportSearch* search = (ReportSearch*)data;
    DWORD processId = 0;
    DWORD threadId = GetWindowThreadProcessId(window, &processId);
    DWORD_PTR ignored = 0;
    if (processId == search->processId && threadId != search->mainThreadId &&
        IsWindowVisible(window) &&
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, AnswerPatience,
                            &ignored)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

bool ProgramStart::ShowsReport() const
{
    ReportSearch search = {processId_, mainThreadId_, false};
    EnumWindows(&FindReport, (LPARAM)&search);
    return search.found;
}

void ProgramStart::End(DWORD reportPatience, const volatile LONG* stop)
{
    if (HasEnded())
        return;
    DWORD start = GetTickCount();
    bool announced = false;
    while (!IsSet(stop) && GetTickCount() - start < reportPatience && ShowsReport()) {
        if (!announced)
            UpdateStep(L"wait for the problem report");
        announced = true;
        if (WaitForSingleObject(process_, PollInterval * 10) != WAIT_TIMEOUT)
            return;
    }
    if (HasEnded())
        return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, TerminationPatience);
}
