#include "update/ProgramStart.h"

#include "services/ProgramLaunch.h"

namespace {

const DWORD PollInterval = 100;
const DWORD TerminationPatience = 5000;

bool IsSet(const volatile LONG* flag)
{
    return flag && *flag;
}

} // namespace

ProgramStart::~ProgramStart()
{
    if (process_)
        CloseHandle(process_);
}

int ProgramStart::Launch(const wchar_t* program, const wchar_t* directory)
{
    if (process_)
        CloseHandle(process_);
    process_ = nullptr;
    processId_ = 0;
    if (!LaunchProgramProcess(program, nullptr, directory, &process_))
        return 0;
    processId_ = GetProcessId(process_);
    return 1;
}

bool ProgramStart::HasEnded() const
{
    return !process_ || WaitForSingleObject(process_, 0) != WAIT_TIMEOUT;
}

bool ProgramStart::ShowsWindow() const
{
    return VisibleMainWindowOf(processId_) != nullptr;
}

ProgramStart::Verdict ProgramStart::WaitUntilUp(DWORD upTimeout, DWORD steadyTime,
                                                const volatile LONG* stop)
{
    if (!process_)
        return Failed;
    DWORD start = GetTickCount();
    bool idle = false;
    bool shown = false;
    // Asked in short slices, so that an end of the process or a stop is
    // seen at once; WaitForInputIdle fails without waiting for a process
    // that has no message queue, as a console program never has one.
    while (!shown) {
        if (HasEnded())
            return Failed;
        if (IsSet(stop))
            return Stopped;
        if (GetTickCount() - start >= upTimeout)
            return Failed;
        DWORD waited = idle ? WAIT_TIMEOUT : WaitForInputIdle(process_, PollInterval);
        if (waited == 0)
            idle = true;
        else if (waited != WAIT_TIMEOUT || idle)
            Sleep(PollInterval);
        shown = idle && ShowsWindow();
    }
    DWORD steadySince = GetTickCount();
    while (GetTickCount() - steadySince < steadyTime) {
        if (IsSet(stop))
            return Running;
        if (WaitForSingleObject(process_, PollInterval) != WAIT_TIMEOUT)
            return Failed;
    }
    return HasEnded() ? Failed : Running;
}

void ProgramStart::Terminate()
{
    if (!process_ || HasEnded())
        return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, TerminationPatience);
}
