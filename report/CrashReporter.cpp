#include "report/CrashReporter.h"

#include <string.h>
#include <wchar.h>

#include "report/CrashText.h"
#include "services/ModulePath.h"
#include "ui/VersionText.h"

namespace {

// Stack kept for the handler when the main thread overflows its own.
const ULONG HandlerStackGuarantee = 64 * 1024;

const wchar_t DumpSuffix[] = L"_Debug.dmp";
const wchar_t TextSuffix[] = L"_Debug.txt";

// Offers the files to the user and sends them to the configured host.
int DefaultReportStep(const CrashReporter& reporter, const wchar_t* dumpPath, const wchar_t* textPath)
{
    return SendProblemReport(reporter.ReportSettings(), dumpPath, textPath);
}

// `first` followed by `second` and `third`; empty when it does not fit.
void JoinInto(wchar_t* target, int size, const wchar_t* first, const wchar_t* second,
              const wchar_t* third = L"")
{
    target[0] = 0;
    size_t length = wcslen(first) + wcslen(second) + wcslen(third);
    if (length >= (size_t)size || !*first)
        return;
    wcscpy(target, first);
    wcscat(target, second);
    wcscat(target, third);
}

HANDLE CreateReportFile(const wchar_t* path)
{
    if (!path || !*path)
        return INVALID_HANDLE_VALUE;
    return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void RegisterWithErrorReporting(const wchar_t* path)
{
    typedef HRESULT(WINAPI * WerRegisterFileProc)(PCWSTR, int, DWORD);
    const int WerRegFileTypeOther = 2;
    const DWORD WerFileAnonymousData = 2;
    WerRegisterFileProc registerFile =
        (WerRegisterFileProc)SystemFunction(L"kernel32.dll", "WerRegisterFile");
    if (registerFile)
        registerFile(path, WerRegFileTypeOther, WerFileAnonymousData);
}

// The name tried first: the primary one, unless it could not be made.
const wchar_t* FirstTried(const wchar_t* primary, const wchar_t* fallback)
{
    return *primary ? primary : fallback;
}

// Creates the primary file, else the fallback, and registers the one made
// with Windows Error Reporting; `tried` names the last one tried.
HANDLE CreateBesideOrInTemp(const wchar_t* primary, const wchar_t* fallback,
                            const wchar_t* volatile& tried)
{
    tried = FirstTried(primary, fallback);
    HANDLE file = CreateReportFile(primary);
    if (file == INVALID_HANDLE_VALUE) {
        tried = fallback;
        file = CreateReportFile(fallback);
    }
    if (file != INVALID_HANDLE_VALUE)
        RegisterWithErrorReporting(tried);
    return file;
}

// A system that commits the whole stack up front (64-bit Wine does) keeps
// only one guard page, at the very bottom, so the guarantee is never
// reached: the overflow comes with a page left and its handling faults
// again. A guard page where the guaranteed part begins makes the overflow
// come there. Where the stack grows page by page (Windows), that page is
// not committed yet and nothing is changed.
void ArmGuaranteeGuardPage(ULONG guarantee)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    MEMORY_BASIC_INFORMATION stack;
    if (!VirtualQuery(&stack, &stack, sizeof stack) || !stack.AllocationBase)
        return;
    ULONG_PTR page = system.dwPageSize;
    ULONG_PTR rounded = (guarantee + page - 1) / page * page;
    char* guard = (char*)stack.AllocationBase + page + rounded;
    MEMORY_BASIC_INFORMATION at;
    // The guard must lie well below the frame we are in.
    if (guard + 4 * page > (char*)&stack || !VirtualQuery(guard, &at, sizeof at) ||
        at.State != MEM_COMMIT || (at.Protect & (PAGE_GUARD | PAGE_NOACCESS)) ||
        at.AllocationBase != stack.AllocationBase)
        return;
    DWORD previous;
    VirtualProtect(guard, page, at.Protect | PAGE_GUARD, &previous);
}

void ReserveHandlerStack()
{
    typedef BOOL(WINAPI * SetThreadStackGuaranteeProc)(PULONG);
    SetThreadStackGuaranteeProc guarantee =
        (SetThreadStackGuaranteeProc)SystemFunction(L"kernel32.dll", "SetThreadStackGuarantee");
    ULONG size = HandlerStackGuarantee;
    if (guarantee && guarantee(&size))
        ArmGuaranteeGuardPage(HandlerStackGuarantee);
}

bool IsNtFamily()
{
    return (GetVersion() & 0x80000000u) == 0;
}

CrashReporter TheCrashReporter;

} // namespace

CrashReporter& CrashReporter::Current()
{
    return TheCrashReporter;
}

CrashReporter::CrashReporter() : step_(DefaultReportStep)
{
    ComputeFileNames();
    ReserveHandlerStack();
    previousFilter_ = SetUnhandledExceptionFilter(ExceptionFilter);
}

CrashReporter::~CrashReporter()
{
    SetUnhandledExceptionFilter(previousFilter_);
}

void CrashReporter::ComputeFileNames()
{
    WideString directory, name;
    bool known = GetExecutableDirectory(directory) && GetExecutableBaseName(name);
    if (!known)
        directory.Clear();
    JoinInto(executableDirectory_, PathMax, directory.Text(), L"");
    JoinInto(primaryDump_, PathMax, directory.Text(), known ? name.Text() : L"", DumpSuffix);
    JoinInto(primaryText_, PathMax, directory.Text(), known ? name.Text() : L"", TextSuffix);
    wchar_t temporary[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temporary);
    if (length == 0 || length > MAX_PATH)
        temporary[0] = 0;
    const wchar_t* base = known ? name.Text() : L"MiniDump";
    JoinInto(fallbackDump_, PathMax, temporary, base, DumpSuffix);
    JoinInto(fallbackText_, PathMax, temporary, base, TextSuffix);
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

LONG WINAPI CrashReporter::ExceptionFilter(EXCEPTION_POINTERS* exception)
{
    CrashReporter& reporter = Current();
    if (InterlockedExchange(&reporter.handling_, 1))
        return EXCEPTION_CONTINUE_SEARCH;
    if (reporter.WriteCrashReport(exception) == 1)
        return EXCEPTION_CONTINUE_SEARCH;
    return EXCEPTION_EXECUTE_HANDLER;
}

int CrashReporter::WriteCrashReport(EXCEPTION_POINTERS* exception)
{
    exception_ = exception && exception->ExceptionRecord && exception->ContextRecord ? exception
                                                                                     : nullptr;
    crashingThreadId_ = GetCurrentThreadId();
    dumpPath_ = FirstTried(primaryDump_, fallbackDump_);
    textPath_ = FirstTried(primaryText_, fallbackText_);
    // The capture runs on a thread of its own: it has the stack that an
    // overflowing thread lacks, and it sees the crashing thread from outside.
    bool finished = false;
    if (capture_.IsRunning()) {
        // An earlier capture never ended and still owns the buffers.
    } else if (capture_.Start(CaptureRoutine, this)) {
        bool overflow =
            exception_ && exception_->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW;
        // Dispatching messages needs stack, which an overflow has used up.
        finished = WaitForCapture(!overflow) != 0;
    } else {
        Capture();
        finished = true;
    }
    int result = step_(*this, dumpPath_, textPath_);
    // A capture that did not finish may still be inside DbgHelp.
    if (finished)
        engine_.Stop();
    exception_ = nullptr;
    return result;
}

int CrashReporter::WaitForCapture(bool canDispatch)
{
    DWORD start = GetTickCount();
    if (canDispatch && capture_.Wait(captureTimeout_))
        return 1;
    if (!capture_.IsRunning())
        return 1;
    // Without dispatching, or after a WM_QUIT ended the dispatching wait early.
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= captureTimeout_)
        return 0;
    return WaitForSingleObject(capture_.CompletionEvent(), captureTimeout_ - elapsed) ==
           WAIT_OBJECT_0;
}

DWORD CrashReporter::CaptureRoutine(void* self)
{
    return static_cast<CrashReporter*>(self)->Capture();
}

DWORD CrashReporter::Capture()
{
    records_.Clear();
    engine_.Start(executableDirectory_);
    records_.UseThreadQuery(engine_.QueryThread());
    WriteDump();
    WriteText();
    return 1;
}

void CrashReporter::WriteDump()
{
    HANDLE file = CreateBesideOrInTemp(primaryDump_, fallbackDump_, dumpPath_);
    if (file == INVALID_HANDLE_VALUE)
        return;
    if (engine_.IsLoaded()) {
        MINIDUMP_EXCEPTION_INFORMATION information;
        information.ThreadId = crashingThreadId_;
        information.ExceptionPointers = exception_;
        information.ClientPointers = FALSE;
        MINIDUMP_CALLBACK_INFORMATION callback = records_.Callback();
        engine_.Api().miniDumpWriteDump(GetCurrentProcess(), GetCurrentProcessId(), file,
                                        MiniDumpNormal, exception_ ? &information : nullptr,
                                        nullptr, &callback);
    }
    CloseHandle(file);
}

void CrashReporter::WriteText()
{
    HANDLE file = CreateBesideOrInTemp(primaryText_, fallbackText_, textPath_);
    if (file == INVALID_HANDLE_VALUE)
        return;
    ReportFile report;
    report.Attach(file);
    bool nt = IsNtFamily();
    if (exception_)
        WriteExceptionSection(report, *exception_->ExceptionRecord, *exception_->ContextRecord,
                              crashingThreadId_, nt);
    WriteProcessorSection(report, nt);
    WriteSystemSection(report, nt);
    WriteUptimeSection(report);
    if (exception_ && engine_.IsLoaded()) {
        walkContext_ = *exception_->ContextRecord;
        WriteStackSection(report, engine_, walkContext_);
    }
    WriteModuleSection(report, records_);
    WriteThreadSection(report, records_, engine_, nt);
}
