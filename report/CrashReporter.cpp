#include "report/CrashReporter.h"

#include <new>
#include <stdio.h>

#include "report/CrashText.h"
#include "report/DumpModuleNames.h"
#include "report/HandlerStack.h"
#include "report/RuntimeFailures.h"
#include "services/WindowsVersion.h"
#include "ui/VersionText.h"

namespace {

// Offers the files to the user and sends them to the configured host.
int DefaultReportStep(const CrashReporter& reporter, const wchar_t* dumpPath, const wchar_t* textPath)
{
    return SendProblemReport(reporter.ReportSettings(), dumpPath, textPath);
}

bool IsNtFamily()
{
    return (GetVersion() & 0x80000000u) == 0;
}

BOOL CALLBACK FindProgramWindow(HWND window, LPARAM found)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (IsWindowVisible(window) || !lstrcmpW(className, L"#32770")) {
        *(bool*)found = true;
        return FALSE;
    }
    return TRUE;
}

// A dialog on this thread would run the thread's other windows too: those
// of the crashed program, if it has any (a visible window, or a dialog).
bool ThreadHasProgramWindows()
{
    bool found = false;
    EnumThreadWindows(GetCurrentThreadId(), FindProgramWindow, (LPARAM)&found);
    return found;
}

ULONG_PTR ProgramCounterOf(const CONTEXT& context)
{
#if defined(__x86_64__) || defined(_M_X64)
    return (ULONG_PTR)context.Rip;
#elif defined(__i386__) || defined(_M_IX86)
    return (ULONG_PTR)context.Eip;
#else
    return 0;
#endif
}

// A 32-bit process on 64-bit Windows loses exceptions raised in window
// procedures that the kernel calls, unless it opts out (where the system
// offers the switch).
void KeepKernelCallbackExceptions()
{
#if defined(__i386__) || defined(_M_IX86)
    typedef BOOL(WINAPI * GetPolicyProc)(LPDWORD);
    typedef BOOL(WINAPI * SetPolicyProc)(DWORD);
    const DWORD ProcessCallbackFilterEnabled = 0x1;
    if (!IsWow64())
        return;
    GetPolicyProc get =
        (GetPolicyProc)SystemFunction(L"kernel32.dll", "GetProcessUserModeExceptionPolicy");
    SetPolicyProc set =
        (SetPolicyProc)SystemFunction(L"kernel32.dll", "SetProcessUserModeExceptionPolicy");
    DWORD flags = 0;
    if (get && set && get(&flags))
        set(flags & ~ProcessCallbackFilterEnabled);
#endif
}

// Never destroyed: a crash late in the shutdown is reported like any other.
alignas(CrashReporter) unsigned char ReporterStorage[sizeof(CrashReporter)];

} // namespace

CrashReporter& CrashReporter::Current()
{
    static CrashReporter* const reporter = new (ReporterStorage) CrashReporter;
    return *reporter;
}

namespace {
// Made while the program starts, before the entry point.
CrashReporter& InstalledAtStart = CrashReporter::Current();
} // namespace

CrashReporter::CrashReporter() : step_(DefaultReportStep)
{
    files_.ComputeNames();
    ReportApi();
    ReserveHandlerStack();
    captured_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetUnhandledExceptionFilter(ExceptionFilter);
    InstallRuntimeFailureHandlers(ReportFailure);
    KeepKernelCallbackExceptions();
    // The thread loads DbgHelp by itself: start-up does not wait for it.
    thread_.Start(Prepare, Work, KeepFilterInstalled, this);
}

void CrashReporter::ConfigureReporter(int iconId, const wchar_t* host, const wchar_t* path,
                                      const wchar_t* programName, const wchar_t* extraText)
{
    iconId_ = iconId;
    host_.Assign(host ? host : L"");
    path_.Assign(path ? path : L"");
    if (programName)
        programName_.Assign(programName);
    else if (!VersionString(L"InternalName", nullptr, programName_))
        programName_.Clear();
    extraText_.Assign(extraText ? extraText : L"");
}

ProblemReportSettings CrashReporter::ReportSettings() const
{
    ProblemReportSettings settings;
    settings.iconId = iconId_;
    settings.reportHost = host_.Text();
    settings.reportPath = path_.Text();
    settings.programName = programName_.Text();
    settings.extraText = extraText_.Text();
    return settings;
}

void CrashReporter::UseReportStep(ReportStep step)
{
    step_ = step ? step : DefaultReportStep;
}

void CrashReporter::Prepare(void* self)
{
    CrashReporter* reporter = static_cast<CrashReporter*>(self);
    reporter->engine_.Load();
    reporter->mask_.Load();
    ReportFile machine;
    machine.AttachBuffer(reporter->machine_, sizeof reporter->machine_);
    WriteProcessorSection(machine, IsNtFamily());
    WriteSystemSection(machine, IsNtFamily());
    machine.Close();
    // The runtime keeps some state per thread, made at its first use: made
    // now, not while a crashed thread may hold the heap.
    char probe[16];
    _snprintf(probe, sizeof probe, "%u", 1u);
    InterlockedExchange(&reporter->ready_, 1);
}

void CrashReporter::Work(void* self)
{
    static_cast<CrashReporter*>(self)->RunReport();
}

void CrashReporter::KeepFilterInstalled(void*)
{
    // A library that installs its own filter later would displace ours.
    SetUnhandledExceptionFilter(ExceptionFilter);
}

LONG WINAPI CrashReporter::ExceptionFilter(EXCEPTION_POINTERS* exception)
{
    CrashReporter& reporter = Current();
    DWORD code = exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode
                                                         : 0;
    if (reporter.thread_.IsCurrent()) {
        // A fault in a part of the report ends that part; the rest goes on.
        if (reporter.thread_.RecoverFromFault(exception))
            return EXCEPTION_CONTINUE_EXECUTION;
        // Outside any part, while a report runs: the thread ends, and the
        // crashing thread, which watches it, goes on without it.
        if (reporter.handling_)
            ExitThread(code);
    }
    DWORD self = GetCurrentThreadId();
    if (InterlockedCompareExchange(&reporter.handling_, 1, 0) != 0) {
        // A fault of the reporting thread itself goes to the system.
        if (reporter.owner_ == self)
            return EXCEPTION_CONTINUE_SEARCH;
        // Another thread reports; it ends the process when it is done.
        for (;;)
            Sleep(INFINITE);
    }
    reporter.owner_ = self;
    if (reporter.WriteCrashReport(exception) == 1)
        return EXCEPTION_CONTINUE_SEARCH;
    // Ended here, with nothing of the crashed program run again on the way.
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

void CrashReporter::ReportFailure(DWORD code)
{
    // In a part of the report, the failure ends that part like a fault: it
    // is raised, so that the system continues where the part ends.
    if (Current().thread_.IsGuarding())
        RaiseException(code, 0, 0, nullptr);
    CONTEXT context = {};
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = (PVOID)ProgramCounterOf(context);
    EXCEPTION_POINTERS pointers = {&record, &context};
    ExceptionFilter(&pointers);
    TerminateProcess(GetCurrentProcess(), code);
}

int CrashReporter::WriteCrashReport(EXCEPTION_POINTERS* exception)
{
    exception_ = exception && exception->ExceptionRecord && exception->ContextRecord ? exception
                                                                                     : nullptr;
    crashingThreadId_ = GetCurrentThreadId();
    InterlockedExchange(&stepResult_, 1);
    files_.Begin();
    ResetEvent(captured_);
    ResetEvent(done_);
    if (thread_.IsCurrent() || !thread_.IsRunning()) {
        // A fault of the reporter thread itself, or no such thread (it could
        // not start, or the process is ending): this thread does it all.
        if (!engine_.HasLibrary())
            engine_.Load();
        RunReport();
        return stepResult_;
    }
    if (!thread_.Request()) {
        // No reporter thread, or one still caught in an earlier capture:
        // what this thread can do alone.
        files_.Abandon(0);
        return Rescue();
    }
    if (thread_.WaitFor(captured_, captureTimeout_) == ReporterThread::Signalled ||
        !files_.Abandon(CommitPatience)) {
        // The step may keep the user as long as the user likes.
        thread_.WaitFor(done_, INFINITE);
        return stepResult_;
    }
    return Rescue();
}

template <void (CrashReporter::*Part)()> int CrashReporter::Guarded()
{
    struct Call {
        static void Run(void* self) { (static_cast<CrashReporter*>(self)->*Part)(); }
    };
    return thread_.RunGuarded(Call::Run, this);
}

void CrashReporter::RunReport()
{
    records_.Clear();
    // The reporter thread is left out, unless it is the one that crashed.
    records_.Exclude(thread_.Id() != crashingThreadId_ ? thread_.Id() : 0);
    records_.UseThreadQuery(engine_.QueryThread());
    Guarded<&CrashReporter::OpenSymbols>();
    if (!Guarded<&CrashReporter::WriteDump>() && dumpFile_ != INVALID_HANDLE_VALUE)
        files_.Discard(CrashFiles::Dump, CrashFiles::Capture, dumpFile_);
    dumpFile_ = INVALID_HANDLE_VALUE;
    WriteText();
    bool ours = files_.EndCapture() != 0;
    if (ours)
        files_.RemoveUncommitted();
    SetEvent(captured_);
    if (ours)
        Guarded<&CrashReporter::RunStep>();
    Guarded<&CrashReporter::CloseSymbols>();
    SetEvent(done_);
}

void CrashReporter::OpenSymbols()
{
    engine_.Open(files_.ExecutableDirectory());
}

void CrashReporter::CloseSymbols()
{
    engine_.Close();
}

void CrashReporter::WriteDump()
{
    // Without DbgHelp there is no dump to offer, not even an empty one.
    if (!engine_.IsLoaded())
        return;
    HANDLE file = files_.Create(CrashFiles::Dump, CrashFiles::Capture);
    if (file == INVALID_HANDLE_VALUE)
        return;
    dumpFile_ = file;
    MINIDUMP_EXCEPTION_INFORMATION information;
    information.ThreadId = crashingThreadId_;
    information.ExceptionPointers = exception_;
    information.ClientPointers = FALSE;
    MINIDUMP_CALLBACK_INFORMATION callback = records_.Callback();
    bool written = engine_.Api().miniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file,
                                                   MiniDumpNormal,
                                                   exception_ ? &information : nullptr, nullptr,
                                                   &callback) &&
                   MaskDumpModuleNames(file, mask_);
    dumpFile_ = INVALID_HANDLE_VALUE;
    if (written)
        files_.Commit(CrashFiles::Dump, CrashFiles::Capture, file);
    else
        files_.Discard(CrashFiles::Dump, CrashFiles::Capture, file);
}

void CrashReporter::WriteText()
{
    HANDLE file = files_.Create(CrashFiles::Text, CrashFiles::Capture);
    if (file == INVALID_HANDLE_VALUE)
        return;
    text_.Attach(file);
    text_.UseMask(&mask_);
    typedef int (CrashReporter::*GuardedPart)();
    static const GuardedPart parts[] = {
        &CrashReporter::Guarded<&CrashReporter::WriteExceptionPart>,
        &CrashReporter::Guarded<&CrashReporter::WriteMachinePart>,
        &CrashReporter::Guarded<&CrashReporter::WriteUptimePart>,
        &CrashReporter::Guarded<&CrashReporter::WriteStackPart>,
        &CrashReporter::Guarded<&CrashReporter::WriteModulePart>,
        &CrashReporter::Guarded<&CrashReporter::WriteThreadPart>,
    };
    for (GuardedPart part : parts) {
        // A section that faulted says so where it ends; the next one follows.
        if (!(this->*part)()) {
            DWORD code = thread_.LastFault();
            text_.Print("\r\n(This section ended early: %s [0x%08X])\r\n", ExceptionName(code),
                        code);
        }
    }
    files_.Commit(CrashFiles::Text, CrashFiles::Capture, text_.Detach());
}

void CrashReporter::WriteExceptionPart()
{
    if (exception_)
        WriteExceptionSection(text_, *exception_->ExceptionRecord, *exception_->ContextRecord,
                              crashingThreadId_, IsNtFamily());
}

void CrashReporter::WriteMachinePart()
{
    if (ready_) {
        text_.Write(machine_);
        return;
    }
    WriteProcessorSection(text_, IsNtFamily());
    WriteSystemSection(text_, IsNtFamily());
}

void CrashReporter::WriteUptimePart()
{
    WriteUptimeSection(text_);
}

void CrashReporter::WriteStackPart()
{
    if (!exception_ || !engine_.IsLoaded())
        return;
    walkContext_ = *exception_->ContextRecord;
    WriteStackSection(text_, engine_, walkContext_);
}

void CrashReporter::WriteModulePart()
{
    WriteModuleSection(text_, records_);
}

void CrashReporter::WriteThreadPart()
{
    WriteThreadSection(text_, records_, engine_, IsNtFamily());
}

void CrashReporter::RunStep()
{
    // On the crashing thread (no reporter thread), a dialog would run the
    // crashed program's windows as well.
    if (!thread_.IsCurrent() && ThreadHasProgramWindows())
        return;
    InterlockedExchange(&stepResult_, step_(*this, files_.Presented(CrashFiles::Dump),
                                            files_.Presented(CrashFiles::Text)));
}

bool CrashReporter::IsOverflow() const
{
    return exception_ && exception_->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
}

int CrashReporter::Rescue()
{
    files_.RemoveUncommitted();
    // What is left of an overflowed stack does not carry a text report.
    if (!files_.IsCommitted(CrashFiles::Text) && !IsOverflow())
        WriteRescueText();
    InterlockedExchange(&stepResult_, 1);
    // A reporter thread caught in its own start may hold the loader's lock,
    // which the step would need.
    if (ready_)
        RunStep();
    return stepResult_;
}

void CrashReporter::WriteRescueText()
{
    // Only what needs neither the loader's lock nor DbgHelp, both of which
    // the stalled capture may hold; none of it names a path.
    HANDLE file = files_.Create(CrashFiles::Text, CrashFiles::Rescue);
    if (file == INVALID_HANDLE_VALUE)
        return;
    ReportFile report;
    report.Attach(file);
    if (exception_)
        WriteExceptionSection(report, *exception_->ExceptionRecord, *exception_->ContextRecord,
                              crashingThreadId_, IsNtFamily());
    if (ready_)
        report.Write(machine_);
    WriteUptimeSection(report);
    files_.Commit(CrashFiles::Text, CrashFiles::Rescue, report.Detach());
}
