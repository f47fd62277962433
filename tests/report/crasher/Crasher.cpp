// A program that crashes on purpose, for the crash report tests: the mode
// in its first argument says how. The crash reporter writes its files
// beside this executable; the report step records what it was handed in
// "step.txt" there, so a test can check it.
#include <windows.h>

#include <exception>
#include <stdlib.h>
#include <string.h>

#include "report/CrashReporter.h"
#include "../../common/ThreadBlock.h"

// Global and static rather than in an anonymous namespace, so that every
// symbol format names the functions alike (a PDB would add the namespace).

// Longer than a report's thread name field, so the report must cut it.
static const char LongThreadName[] =
    "Crash worker thread with a name far longer than the eighty-seven bytes that a report keeps";

// Counts the access violations as they are raised, before any filter sees
// them; the second one raised while the first is reported shows that the
// two faults overlap.
static volatile LONG AccessViolations = 0;
static HANDLE SecondFault = nullptr;

static LONG CALLBACK CountFaults(EXCEPTION_POINTERS* exception)
{
    if (exception->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
        InterlockedIncrement(&AccessViolations) == 2)
        SetEvent(SecondFault);
    return EXCEPTION_CONTINUE_SEARCH;
}

static void WriteLine(HANDLE file, const wchar_t* label, const wchar_t* text)
{
    char line[1200];
    int length = WideCharToMultiByte(CP_UTF8, 0, label, -1, line, 100, nullptr, nullptr);
    if (length <= 0)
        return;
    line[length - 1] = '=';
    int more = WideCharToMultiByte(CP_UTF8, 0, text, -1, line + length, 1000, nullptr, nullptr);
    if (more <= 0)
        return;
    line[length + more - 1] = '\n';
    DWORD written = 0;
    WriteFile(file, line, (DWORD)(length + more), &written, nullptr);
}

// Found before the crash: a capture that cannot finish may hold the loader
// lock, which GetModuleFileNameW takes.
static wchar_t StepFile[MAX_PATH];

static void FindStepFile()
{
    DWORD length = GetModuleFileNameW(nullptr, StepFile, MAX_PATH);
    while (length > 0 && StepFile[length - 1] != L'\\')
        --length;
    wcscpy(StepFile + length, L"step.txt");
}

// Appends, so that a step that ran twice shows.
static int RecordingStep(const CrashReporter& reporter, const wchar_t* dumpPath,
                         const wchar_t* textPath)
{
    HANDLE file = CreateFileW(StepFile, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    WriteLine(file, L"dump", dumpPath);
    WriteLine(file, L"text", textPath);
    WriteLine(file, L"host", reporter.ReportHost());
    WriteLine(file, L"program", reporter.ProgramName());
    CloseHandle(file);
    return 1;
}

// Records how many faults were raised once the second one came (it must
// come while this step runs: the process ends after it).
static int OverlapStep(const CrashReporter& reporter, const wchar_t* dumpPath,
                       const wchar_t* textPath)
{
    WaitForSingleObject(SecondFault, 30000);
    char line[32];
    int length = wsprintfA(line, "faults=%ld\n", AccessViolations);
    HANDLE file = CreateFileW(StepFile, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, line, (DWORD)length, &written, nullptr);
    CloseHandle(file);
    return RecordingStep(reporter, dumpPath, textPath);
}

// A second fault while the report is being handed on.
static int CrashingStep(const CrashReporter& reporter, const wchar_t* dumpPath,
                        const wchar_t* textPath)
{
    RecordingStep(reporter, dumpPath, textPath);
    volatile int* volatile target = (volatile int*)0x20;
    *target = 2; // crash line: nested
    return 1;
}

static __attribute__((noinline)) void CrashByWritingToAddress16()
{
    volatile int* volatile target = (volatile int*)0x10;
    *target = 1; // crash line: access
}

static __attribute__((noinline)) int CrashByDividingByZero(volatile int divisor)
{
    return 100 / divisor; // crash line: divide
}

static __attribute__((noinline)) void CrashByRaisingUnknownCode()
{
    ULONG_PTR arguments[2] = {1, 2};
    RaiseException(0xE1234567, 0, 2, arguments); // crash line: raise
}

static __attribute__((noinline)) int OverflowTheStack(int depth)
{
    volatile char frame[512];
    frame[0] = (char)depth;
    if (depth == 0x7FFFFFFF)
        return 0;
    return OverflowTheStack(depth + 1) + frame[depth % 512]; // crash line: overflow
}

static DWORD WINAPI CrashingThread(void*)
{
    // NT_TIB's ArbitraryUserPointer, where the report looks for a thread's
    // name: FS:0x14 on x86, GS:0x28 on x64.
    CurrentThreadBlock()->ArbitraryUserPointer = (PVOID)LongThreadName;
    CrashByWritingToAddress16();
    return 0;
}

// Two threads that fault at the same moment: each says it is ready, and
// both go when both are.
static HANDLE StartTogether = nullptr;
static HANDLE ReadyToCrash[2] = {};

static DWORD WINAPI CrashingTogether(void* ready)
{
    SetEvent((HANDLE)ready);
    WaitForSingleObject(StartTogether, INFINITE);
    CrashByWritingToAddress16();
    return 0;
}


static DWORD WINAPI OverflowingThread(void*)
{
    return (DWORD)OverflowTheStack(0);
}

// A class whose constructor reaches its own pure virtual function, through
// a function the compiler cannot resolve at compile time.
struct PureBase {
    PureBase() { CallPure(); }
    virtual ~PureBase() {}
    __attribute__((noinline)) void CallPure() { Pure(); }
    virtual void Pure() = 0;
};

struct PureDerived : PureBase {
    void Pure() override {}
};

// What a library function that faults comes to: it writes to address 0x40.
static __attribute__((noinline)) void FaultInLibrary()
{
    volatile int* volatile target = (volatile int*)0x40;
    *target = 3;
}

// Makes `function` jump to `replacement` where it begins. A jump, not
// faulting code in its place: the system finds the frames of a fault by the
// functions' unwind data, which patched code would contradict.
static void MakeJumpTo(FARPROC function, void (*replacement)())
{
    unsigned char* code = (unsigned char*)function;
    ULONG_PTR target = (ULONG_PTR)replacement;
#if defined(__x86_64__)
    unsigned char jump[12] = {0x48, 0xB8}; // mov rax, target; jmp rax
    memcpy(jump + 2, &target, 8);
    jump[10] = 0xFF;
    jump[11] = 0xE0;
#else
    unsigned char jump[5] = {0xE9}; // jmp rel32
    LONG relative = (LONG)(target - ((ULONG_PTR)code + 5));
    memcpy(jump + 1, &relative, 4);
#endif
    DWORD old = 0;
    if (!code || !VirtualProtect(code, sizeof jump, PAGE_EXECUTE_READWRITE, &old))
        return;
    memcpy(code, jump, sizeof jump);
    VirtualProtect(code, sizeof jump, old, &old);
    FlushInstructionCache(GetCurrentProcess(), code, sizeof jump);
}

static void MakeFaulting(FARPROC function)
{
    MakeJumpTo(function, FaultInLibrary);
}

// The reporter thread prepares itself when told that the program started.
static bool ReporterReady()
{
    CrashReporter::Current().PrepareNow();
    for (int i = 0; i < 3000 && !CrashReporter::Current().IsReady(); ++i)
        Sleep(10);
    return CrashReporter::Current().IsReady();
}

static LONG WINAPI DisplacingFilter(EXCEPTION_POINTERS*)
{
    ExitProcess(77);
}

// Waits until the reporter has put its filter back in the place of
// DisplacingFilter; false when it never does.
static bool FilterComesBack()
{
    for (int i = 0; i < 3000; ++i) {
        Sleep(10);
        LPTOP_LEVEL_EXCEPTION_FILTER seen = SetUnhandledExceptionFilter(DisplacingFilter);
        if (seen != DisplacingFilter) {
            SetUnhandledExceptionFilter(seen);
            return seen == CrashReporter::ExceptionFilter;
        }
    }
    return false;
}

// A library function that never returns: a capture that stalls.
static __attribute__((noinline)) void StallForever()
{
    for (;;)
        Sleep(INFINITE);
}

// The files of an earlier crash beside this program: while the offer at
// start has not removed them.
static bool EarlierReportLeft()
{
    wchar_t path[MAX_PATH];
    wcscpy(path, StepFile);
    wcscpy(wcsrchr(path, L'\\') + 1, L"crasher_Debug.txt");
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

static volatile int ExitSteps = 0;

static __attribute__((noinline)) void CrashWhileExiting()
{
    CrashByWritingToAddress16();
    ++ExitSteps; // not a tail call: the frame stays on the stack
}

// The real problem report, posted over plain HTTP to a test's loopback port.
static INTERNET_PORT ReportPort = 0;

static int ReportingStep(const CrashReporter& reporter, const wchar_t* dumpPath,
                         const wchar_t* textPath)
{
    RecordingStep(reporter, dumpPath, textPath);
    ProblemReportSettings settings = reporter.ReportSettings();
    settings.port = ReportPort;
    settings.service = INTERNET_SERVICE_HTTP;
    return SendProblemReport(settings, dumpPath, textPath);
}

static void ReportTo(const char* port)
{
    ReportPort = (INTERNET_PORT)atoi(port);
    CrashReporter::Current().ConfigureReporter(101, L"127.0.0.1", L"/services/lumeri/report.php",
                                               nullptr, nullptr);
    CrashReporter::Current().UseReportStep(ReportingStep);
}

static int Run(const char* mode, const char* argument)
{
    if (argument)
        ReportTo(argument);
    // What the program had on its stack; the dump must not carry it.
    volatile char onTheStack[] = "crasher stack marker: a text of the program";
    if (!strcmp(mode, "access"))
        CrashByWritingToAddress16();
    else if (!strcmp(mode, "divide"))
        return CrashByDividingByZero(0);
    else if (!strcmp(mode, "raise"))
        CrashByRaisingUnknownCode();
    else if (!strcmp(mode, "overflow"))
        return OverflowTheStack(0);
    else if (!strcmp(mode, "thread")) {
        HANDLE thread = CreateThread(nullptr, 0, CrashingThread, nullptr, 0, nullptr);
        if (thread)
            WaitForSingleObject(thread, INFINITE);
        // A crash on another thread may leave this one running.
        return 3;
    } else if (!strcmp(mode, "nested")) {
        CrashReporter::Current().UseReportStep(CrashingStep);
        CrashByWritingToAddress16();
    } else if (!strcmp(mode, "report")) {
        CrashByWritingToAddress16();
    } else if (!strcmp(mode, "together")) {
        StartTogether = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SecondFault = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        AddVectoredExceptionHandler(1, CountFaults);
        CrashReporter::Current().UseReportStep(OverlapStep);
        HANDLE threads[2];
        for (int i = 0; i < 2; ++i) {
            ReadyToCrash[i] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            threads[i] = CreateThread(nullptr, 0, CrashingTogether, ReadyToCrash[i], 0, nullptr);
        }
        WaitForMultipleObjects(2, ReadyToCrash, TRUE, INFINITE);
        SetEvent(StartTogether);
        WaitForMultipleObjects(2, threads, TRUE, INFINITE);
        return 3;
    } else if (!strcmp(mode, "overflowthread")) {
        HANDLE thread = CreateThread(nullptr, 0, OverflowingThread, nullptr, 0, nullptr);
        if (thread)
            WaitForSingleObject(thread, INFINITE);
        return 3;
    } else if (!strcmp(mode, "capturefault")) {
        // Faults inside DbgHelp: in the minidump and in the stack walk.
        HMODULE dbghelp = ReporterReady() ? GetModuleHandleW(L"dbghelp.dll") : nullptr;
        if (!dbghelp)
            return 4;
        MakeFaulting(GetProcAddress(dbghelp, "MiniDumpWriteDump"));
        MakeFaulting(GetProcAddress(dbghelp, "StackWalk64"));
        CrashByWritingToAddress16();
    } else if (!strcmp(mode, "abort")) {
        abort();
    } else if (!strcmp(mode, "terminate")) {
        std::terminate();
    } else if (!strcmp(mode, "purecall")) {
        PureDerived object;
    } else if (!strcmp(mode, "displaced")) {
        // A library's filter replaces ours; the program then crashes while
        // it exits, after the reporter was made.
        SetUnhandledExceptionFilter(DisplacingFilter);
        if (!FilterComesBack())
            return 5;
        atexit(CrashWhileExiting);
        return 0;
    } else if (!strcmp(mode, "heaplock")) {
        // A crash while holding the heap's lock: the capture, which needs
        // the heap, cannot finish, and the wait for it must end anyway. The
        // process's uptime cannot be read either: that section of what the
        // crashing thread writes itself ends early, the rest follows.
        CrashReporter::Current().UseCaptureTimeout(3000);
        CrashReporter::Current().UseStepPatience(3000);
        if (!ReporterReady())
            return 4;
        MakeFaulting(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetProcessTimes"));
        HeapLock(GetProcessHeap());
        CrashByWritingToAddress16();
    } else if (!strcmp(mode, "loaderlock")) {
        // A crash while holding the loader's lock, which a new thread and
        // much of a dialog need: the process must end all the same, and
        // leave its report to the next start.
        CrashReporter::Current().UseCaptureTimeout(3000);
        CrashReporter::Current().UseStepPatience(3000);
        if (!ReporterReady())
            return 4;
        typedef LONG(NTAPI * LockProc)(ULONG, ULONG*, ULONG_PTR*);
        LockProc lock = (LockProc)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "LdrLockLoaderLock");
        ULONG_PTR cookie = 0;
        if (!lock || lock(0, nullptr, &cookie) < 0)
            return 4;
        CrashByWritingToAddress16();
    } else if (!strcmp(mode, "start")) {
        // A start after a crash whose report waits: it is offered once, and
        // its files are gone afterwards.
        if (!ReporterReady())
            return 4;
        for (int i = 0; i < 6000 && EarlierReportLeft(); ++i)
            Sleep(10);
        return EarlierReportLeft() ? 5 : 0;
    } else if (!strcmp(mode, "overflowstall")) {
        // A capture that never ends, and a stack overflow on a thread of the
        // program: the dialog comes on a thread of its own.
        CrashReporter::Current().UseCaptureTimeout(3000);
        HMODULE dbghelp = ReporterReady() ? GetModuleHandleW(L"dbghelp.dll") : nullptr;
        if (!dbghelp)
            return 4;
        MakeJumpTo(GetProcAddress(dbghelp, "MiniDumpWriteDump"), StallForever);
        HANDLE thread = CreateThread(nullptr, 0, OverflowingThread, nullptr, 0, nullptr);
        if (thread)
            WaitForSingleObject(thread, INFINITE);
        return 3;
    }
    return onTheStack[0] ? 2 : 7;
}

int main(int argc, char** argv)
{
    // Like the user-interface thread of a windowed program, this one has a
    // message queue before it crashes.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    FindStepFile();
    CrashReporter& reporter = CrashReporter::Current();
    // Reading this build's debug information makes a capture slow on a
    // loaded machine: longer waits than the program's own (modes that test
    // the waits set theirs).
    reporter.UseCaptureTimeout(60000);
    reporter.UseStepPatience(60000);
    reporter.ConfigureReporter(101, nullptr, nullptr, L"crasher", nullptr);
    reporter.UseReportStep(RecordingStep);
    return argc > 1 ? Run(argv[1], argc > 2 ? argv[2] : nullptr) : 2;
}
