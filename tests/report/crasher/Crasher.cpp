// A program that crashes on purpose, for the crash report tests: the mode
// in its first argument says how. The crash reporter writes its files
// beside this executable; the report step records what it was handed in
// "step.txt" there, so a test can check it.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "report/CrashReporter.h"

// Global and static rather than in an anonymous namespace, so that every
// symbol format names the functions alike (a PDB would add the namespace).

// Longer than a report's thread name field, so the report must cut it.
static const char LongThreadName[] =
    "Crash worker thread with a name far longer than the eighty-seven bytes that a report keeps";

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

static int RecordingStep(const CrashReporter& reporter, const wchar_t* dumpPath,
                         const wchar_t* textPath)
{
    HANDLE file = CreateFileW(StepFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    WriteLine(file, L"dump", dumpPath);
    WriteLine(file, L"text", textPath);
    WriteLine(file, L"host", reporter.ReportHost());
    WriteLine(file, L"program", reporter.ProgramName());
    CloseHandle(file);
    return 1;
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
    ((NT_TIB*)NtCurrentTeb())->ArbitraryUserPointer = (PVOID)LongThreadName;
    CrashByWritingToAddress16();
    return 0;
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

static int Run(const char* mode, const char* argument)
{
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
    } else if (!strcmp(mode, "report") && argument) {
        ReportPort = (INTERNET_PORT)atoi(argument);
        CrashReporter::Current().ConfigureReporter(101, L"127.0.0.1", L"/services/lumeri/report.php",
                                                   nullptr, nullptr);
        CrashReporter::Current().UseReportStep(ReportingStep);
        CrashByWritingToAddress16();
    } else if (!strcmp(mode, "heaplock")) {
        // A crash while holding the heap's lock: the capture, which needs
        // the heap, cannot finish, and the wait for it must end anyway.
        CrashReporter::Current().UseCaptureTimeout(3000);
        HeapLock(GetProcessHeap());
        CrashByWritingToAddress16();
    }
    return 2;
}

int main(int argc, char** argv)
{
    // Like the user-interface thread of a windowed program, this one has a
    // message queue before it crashes.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    FindStepFile();
    CrashReporter& reporter = CrashReporter::Current();
    reporter.ConfigureReporter(101, nullptr, nullptr, L"crasher", nullptr);
    reporter.UseReportStep(RecordingStep);
    return argc > 1 ? Run(argv[1], argc > 2 ? argv[2] : nullptr) : 2;
}
