#include "report/CrashReporter.h"

#include <new>
#include <stdio.h>
#include <wchar.h>

#include "report/CrashText.h"
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

// Windows runs timer callbacks inside a handler that swallows their
// exceptions, and the program would go on half-done; from Windows 7 on a
// process can opt out, and the fault reaches the filter like any other.
void KeepTimerCallbackExceptions()
{
    const int TimerProcExceptionSuppression = 7; // UOI_TIMERPROC_EXCEPTION_SUPPRESSION
    BOOL suppress = FALSE;
    SetUserObjectInformationW(GetCurrentProcess(), TimerProcExceptionSuppression, &suppress,
                              sizeof suppress);
}

// A text the reporter thread may read at any time is written only when it
// changes.
void AssignIfChanged(WideString& target, const wchar_t* value)
{
    if (wcscmp(target.Text(), value) != 0)
        target.Assign(value);
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
    stepDone_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetUnhandledExceptionFilter(ExceptionFilter);
    InstallRuntimeFailureHandlers(ReportFailure);
    KeepKernelCallbackExceptions();
    KeepTimerCallbackExceptions();
    // The thread loads DbgHelp by itself, once the program has shown
    // itself: start-up neither waits for it nor shares the loader with it.
    // Without it a crash is still reported, by the crashing thread.
    (void)thread_.Start(Prepare, Work, KeepFilterInstalled, this, PrepareDelay);
}

void CrashReporter::ConfigureReporter(int iconId, const wchar_t* host, const wchar_t* path,
                                      const wchar_t* programName, const wchar_t* extraText)
{
    iconId_ = iconId;
    AssignIfChanged(host_, host ? host : L"");
    AssignIfChanged(path_, path ? path : L"");
    WideString program;
    if (programName)
        program.Assign(programName);
    else if (!VersionString(L"InternalName", nullptr, program))
        program.Clear();
    AssignIfChanged(programName_, program.Text());
    AssignIfChanged(extraText_, extraText ? extraText : L"");
}

ProblemReportSettings CrashReporter::ReportSettings() const
{
    ProblemReportSettings settings;
    settings.iconId = iconId_;
    settings.reportHost = host_.Text();
    settings.reportPath = path_.Text();
    settings.programName = programName_.Text();
    settings.extraText = extraText_.Text();
    settings.heartbeat = &stepHeartbeat_;
    return settings;
}

void CrashReporter::UseReportStep(ReportStep step)
{
    step_ = step ? step : DefaultReportStep;
}

void CrashReporter::Prepare(void* self)
{
    CrashReporter* reporter = static_cast<CrashReporter*>(self);
    (void)reporter->engine_.Load();
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
    reporter->OfferPendingReport();
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

FaultGuard* CrashReporter::GuardHere()
{
    FaultGuard* const guards[] = {&thread_.Guard(), &stepGuard_, &ownerGuard_};
    for (FaultGuard* guard : guards)
        if (guard->IsCurrent())
            return guard;
    return nullptr;
}

int CrashReporter::RecoverFromFault(EXCEPTION_POINTERS* exception)
{
    FaultGuard* guard = GuardHere();
    return guard && guard->RecoverFromFault(exception);
}

bool CrashReporter::IsGuardingHere()
{
    FaultGuard* guard = GuardHere();
    return guard && guard->IsGuarding();
}

LONG WINAPI CrashReporter::ExceptionFilter(EXCEPTION_POINTERS* exception)
{
    CrashReporter& reporter = Current();
    DWORD code = exception && exception->ExceptionRecord ? exception->ExceptionRecord->ExceptionCode
                                                         : 0;
    // A fault in a part of the report ends that part; the rest goes on.
    if (reporter.RecoverFromFault(exception))
        return EXCEPTION_CONTINUE_EXECUTION;
    DWORD self = GetCurrentThreadId();
    // Outside any part, while a report runs: a thread of the report ends,
    // and the crashing thread, which watches it, goes on without it.
    if (reporter.handling_ && (reporter.thread_.IsCurrent() || self == reporter.stepThreadId_))
        ExitThread(code);
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
    if (Current().IsGuardingHere())
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
    ResetEvent(stepDone_);
    if (!thread_.IsCurrent())
        ownerGuard_.BindToCurrentThread();
    if (thread_.IsCurrent() || !thread_.IsRunning()) {
        // A fault of the reporter thread itself, or no such thread (it could
        // not start, or the process is ending): this thread captures, and a
        // fresh one offers.
        if (!engine_.HasLibrary())
            (void)engine_.Load();
        if (!ready_)
            mask_.Load();
        (void)Capture();
        return OfferOnFreshThread(false);
    }
    if (!thread_.Request()) {
        // No reporter thread, or one still caught in an earlier capture:
        // what this thread can do alone.
        (void)files_.Abandon(0);
        return Rescue();
    }
    if (thread_.WaitFor(captured_, captureTimeout_) == ReporterThread::Signalled ||
        !files_.Abandon(CommitPatience))
        return AwaitStep(done_, thread_.Handle());
    return Rescue();
}

int CrashReporter::AwaitStep(HANDLE done, HANDLE thread)
{
    LONG heard = stepHeartbeat_;
    DWORD quietSince = GetTickCount();
    for (;;) {
        HANDLE handles[2] = {done, thread};
        DWORD woke = WaitForMultipleObjects(thread ? 2 : 1, handles, FALSE, StepWatchInterval);
        // Done, or the step's thread ended (a fault outside any part).
        if (woke != WAIT_TIMEOUT)
            return stepResult_;
        LONG now = stepHeartbeat_;
        if (now != heard) {
            heard = now;
            quietSince = GetTickCount();
        } else if (GetTickCount() - quietSince >= stepPatience_) {
            // The step never came up, or stopped answering (a lock the
            // crashed program holds): the process ends, and its files wait
            // for the next start.
            return 0;
        }
    }
}

template <void (CrashReporter::*Part)()> int CrashReporter::Guarded()
{
    struct Call {
        static void Run(void* self) { (static_cast<CrashReporter*>(self)->*Part)(); }
    };
    FaultGuard* guard = GuardHere();
    if (!guard) {
        (this->*Part)();
        return 1;
    }
    return guard->RunGuarded(Call::Run, this);
}

void CrashReporter::RunReport()
{
    int ours = Capture();
    SetEvent(captured_);
    if (ours)
        RunStepHere();
    Guarded<&CrashReporter::CloseSymbols>();
    SetEvent(done_);
}

int CrashReporter::Capture()
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
    if (!files_.EndCapture())
        return 0;
    files_.RemoveUncommitted();
    return 1;
}

void CrashReporter::OpenSymbols()
{
    (void)engine_.Open(files_.ExecutableDirectory());
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
    // Only what a stack walk needs of the stacks: where the system does not
    // filter them (Wine), the dump is filtered here, and checked as strictly
    // as its readers check it before and after.
    minidump_.Attach(file);
    bool written = engine_.Api().miniDumpWriteDump(
                       GetCurrentProcess(), GetCurrentProcessId(), file,
                       (MINIDUMP_TYPE)(MiniDumpNormal | MiniDumpFilterMemory),
                       exception_ ? &information : nullptr, nullptr, &callback) &&
                   minidump_.Check() && minidump_.MaskModuleNames(mask_) &&
                   minidump_.FilterMemory() && minidump_.Check();
    dumpFile_ = INVALID_HANDLE_VALUE;
    if (written)
        (void)files_.Commit(CrashFiles::Dump, CrashFiles::Capture, file, IsMasked());
    else
        files_.Discard(CrashFiles::Dump, CrashFiles::Capture, file);
}

void CrashReporter::WriteSections(ReportFile& file, const GuardedPart* parts, int count)
{
    for (int i = 0; i < count; ++i) {
        // A section that faulted says so where it ends; the next one follows.
        if (!(this->*parts[i])()) {
            FaultGuard* guard = GuardHere();
            DWORD code = guard ? guard->LastFault() : 0;
            file.Print("\r\n(This section ended early: %s [0x%08X])\r\n", ExceptionName(code),
                       code);
        }
    }
}

void CrashReporter::WriteText()
{
    HANDLE file = files_.Create(CrashFiles::Text, CrashFiles::Capture);
    if (file == INVALID_HANDLE_VALUE)
        return;
    text_.Attach(file);
    text_.UseMask(&mask_);
    static const GuardedPart parts[] = {
        &CrashReporter::Guarded<&CrashReporter::WriteExceptionPart<&CrashReporter::text_>>,
        &CrashReporter::Guarded<&CrashReporter::WriteMachinePart>,
        &CrashReporter::Guarded<&CrashReporter::WriteUptimePart<&CrashReporter::text_>>,
        &CrashReporter::Guarded<&CrashReporter::WriteStackPart>,
        &CrashReporter::Guarded<&CrashReporter::WriteModulePart>,
        &CrashReporter::Guarded<&CrashReporter::WriteThreadPart>,
    };
    WriteSections(text_, parts, (int)(sizeof parts / sizeof parts[0]));
    (void)files_.Commit(CrashFiles::Text, CrashFiles::Capture, text_.Detach(), IsMasked());
}

template <ReportFile CrashReporter::*File> void CrashReporter::WriteExceptionPart()
{
    if (exception_)
        WriteExceptionSection(this->*File, *exception_->ExceptionRecord,
                              *exception_->ContextRecord, crashingThreadId_, IsNtFamily());
}

template <ReportFile CrashReporter::*File> void CrashReporter::WriteUptimePart()
{
    WriteUptimeSection(this->*File);
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

void CrashReporter::WritePreparedMachinePart()
{
    // Reading the machine now could wait for what a stalled capture holds.
    if (ready_)
        rescueText_.Write(machine_);
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

void CrashReporter::RunStepHere()
{
    // Pending until the step has run: if the process ends first, the next
    // start offers the files.
    (void)files_.MarkPending();
    if (Guarded<&CrashReporter::RunStep>())
        files_.ClearPending();
}

void CrashReporter::RunStep()
{
    InterlockedExchange(&stepResult_, step_(*this, files_.Presented(CrashFiles::Dump),
                                            files_.Presented(CrashFiles::Text)));
}

void CrashReporter::OfferPendingReport()
{
    // Without a report host nothing would be shown, and the report would be
    // lost for a later run that has one.
    if (host_.IsEmpty())
        return;
    int place = 0;
    if (!files_.TakePending(&pendingDump_, &pendingText_, &place))
        return;
    Guarded<&CrashReporter::RunPendingStep>();
    files_.RemoveOffered(place);
}

void CrashReporter::RunPendingStep()
{
    (void)step_(*this, pendingDump_, pendingText_);
}

bool CrashReporter::IsOverflow() const
{
    return exception_ && exception_->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
}

int CrashReporter::Rescue()
{
    files_.RemoveUncommitted();
    bool needsText = !files_.IsCommitted(CrashFiles::Text);
    // What is left of an overflowed stack is not enough to write on: the
    // fresh thread writes the text there.
    if (needsText && !IsOverflow())
        WriteRescueText();
    return OfferOnFreshThread(needsText && IsOverflow());
}

void CrashReporter::WriteRescueText()
{
    // Only what needs neither the loader's lock nor DbgHelp, both of which
    // the stalled capture may hold.
    HANDLE file = files_.Create(CrashFiles::Text, CrashFiles::Rescue);
    if (file == INVALID_HANDLE_VALUE)
        return;
    rescueText_.Attach(file);
    rescueText_.UseMask(&mask_);
    static const GuardedPart parts[] = {
        &CrashReporter::Guarded<&CrashReporter::WriteExceptionPart<&CrashReporter::rescueText_>>,
        &CrashReporter::Guarded<&CrashReporter::WritePreparedMachinePart>,
        &CrashReporter::Guarded<&CrashReporter::WriteUptimePart<&CrashReporter::rescueText_>>,
    };
    WriteSections(rescueText_, parts, (int)(sizeof parts / sizeof parts[0]));
    (void)files_.Commit(CrashFiles::Text, CrashFiles::Rescue, rescueText_.Detach(), IsMasked());
}

int CrashReporter::OfferOnFreshThread(bool writeText)
{
    // Marked before the thread starts: a thread that cannot start (the
    // loader's lock is held) leaves the files to the next start.
    (void)files_.MarkPending();
    InterlockedExchange(&rescueWritesText_, writeText ? 1 : 0);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, ReporterThread::StackReserve, StepThreadMain, this,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
    if (!thread)
        return 0;
    stepThreadId_ = id;
    // The thread is left to the end of the process, which follows.
    return AwaitStep(stepDone_, thread);
}

DWORD WINAPI CrashReporter::StepThreadMain(void* self)
{
    CrashReporter* reporter = static_cast<CrashReporter*>(self);
    reporter->stepThreadId_ = GetCurrentThreadId();
    reporter->stepGuard_.BindToCurrentThread();
    if (reporter->rescueWritesText_)
        reporter->WriteRescueText();
    reporter->RunStepHere();
    SetEvent(reporter->stepDone_);
    return 0;
}
